// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/audit/audit_test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "index/disc_scanner.h"
#include "platform/drives.h"
#include "tests/support/test_support.h"

namespace orb::test {

bool CatalogueFolder(const std::string& folder, const std::string& out, const std::string& label) {
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{folder, label, 650000000, false}}));
    CDiscScanner scanner;
    return RunScanToEnd(scanner, folder, out) == SCAN_DONE;
}

void SetMtime(const std::string& path, int64_t seconds) {
    struct timespec ts[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

void MakeDir(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
}

int RunPython(const std::string& script, const std::string& argument, std::string& out) {
    TempDir dir;
    WriteFile(dir / "check.py", script);
    const std::string cmd = "python3 '" + (dir / "check.py") + "' '" + argument + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace orb::test
