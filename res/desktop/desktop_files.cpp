// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up look-ups of the installed desktop files and of the manual.
#include "res/desktop/desktop_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace orb {
namespace {

namespace fs = std::filesystem;

// A regular file, or a link to one; errors (no permission, dangling link) count as absent.
bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool FoundInAny(const std::vector<std::string>& dirs, const char* subdir, const char* name) {
    for (const std::string& dir : dirs) {
        if (IsFile(fs::path(dir) / subdir / name)) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> SystemDataDirs(const char* xdgDataDirs) {
    std::vector<std::string> dirs;
    std::string value = xdgDataDirs ? xdgDataDirs : "";
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(':', start);
        if (end == std::string::npos) end = value.size();
        std::string entry = value.substr(start, end - start);
        if (!entry.empty() && entry.front() == '/') dirs.push_back(entry);
        start = end + 1;
    }
    if (dirs.empty()) dirs = {"/usr/local/share", "/usr/share"};
    return dirs;
}

bool SystemDesktopIntegrationInstalled(const std::vector<std::string>& dataDirs) {
    return FoundInAny(dataDirs, "applications", kDesktopFileId) &&
           FoundInAny(dataDirs, "mime/packages", kMimePackageFile);
}

bool SystemDesktopIntegrationInstalled() {
    return SystemDesktopIntegrationInstalled(SystemDataDirs(std::getenv("XDG_DATA_DIRS")));
}

std::string FindManualPage(const std::string& exeDir, const std::string& page) {
    const fs::path dir(exeDir.empty() ? std::string(".") : exeDir);
    for (const fs::path& candidate :
         {dir / kManualFolder / page, dir / kInstalledManualDir / page}) {
        if (!IsFile(candidate)) continue;
        // Resolved on disc, not lexically: "bin/.." through a linked bin folder ends
        // where the file was found.
        std::error_code ec;
        fs::path resolved = fs::canonical(candidate, ec);
        return ec ? candidate.string() : resolved.string();
    }
    return {};
}

bool WriteDesktopShortcut(const std::string& desktopDir, const std::string& exe) {
    std::error_code ec;
    if (desktopDir.empty() || !std::filesystem::is_directory(desktopDir, ec)) return false;
    const std::filesystem::path file =
        std::filesystem::path(desktopDir) / "Kelvane光盘助手.desktop";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        const std::string quoted = exe.find(' ') != std::string::npos ? '"' + exe + '"' : exe;
        out << "[Desktop Entry]\nType=Application\nName=Kelvane光盘助手\nComment=光盘目录管理\n"
            << "Exec=" << quoted << "\nIcon=kelvane-orb\nTerminal=false\n";
        out.flush();
        if (!out) return false;
    }
    using std::filesystem::perms;
    std::filesystem::permissions(file, perms::owner_exec | perms::group_exec | perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
    return !ec;
}

}  // namespace orb
