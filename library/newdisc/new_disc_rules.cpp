// SPDX-License-Identifier: GPL-3.0-or-later
// Names, text files, remark and folder rules of the new disc image dialog.
#include "library/newdisc/new_disc_rules.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/drives.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Length of the valid UTF-8 prefix of s; a sequence cut by the end counts as
// invalid unless allowCutEnd is set, in which case it is left out of the prefix.
size_t ValidUtf8Prefix(std::string_view s, bool allowCutEnd, bool& sawMultiByte) {
    size_t i = 0;
    sawMultiByte = false;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
        } else {
            return std::string_view::npos;
        }
        for (size_t k = 1; k < n; ++k) {
            if (i + k >= s.size()) return allowCutEnd ? i : std::string_view::npos;
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return std::string_view::npos;
        }
        const unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return std::string_view::npos;
        sawMultiByte = true;
        i += n;
    }
    return i;
}

}  // namespace

bool IsTextFileName(std::string_view hostName) {
    return hostName.size() >= 4 && EqualsNoCaseAZ(hostName.substr(hostName.size() - 4), ".txt");
}

std::vector<std::string> ListRootTextFiles(const std::string& root) {
    std::vector<std::string> names;
    ListDirectory(root, [&](const DirEntry& e) {
        if (!e.isDirectory && IsTextFileName(e.name)) names.push_back(e.name);
        return names.size() < 10000;  // a root with more text files than that is no disc
    });
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string sa = HostToStored(a), sb = HostToStored(b);
        const int c = CompareNoCaseAZ(sa, sb);
        return c != 0 ? c < 0 : CompareBytes(sa, sb) < 0;
    });
    return names;
}

int PickRemarkFile(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (EqualsNoCaseAZ(names[i], "readme.txt")) return static_cast<int>(i);
    return names.empty() ? -1 : 0;
}

std::string DiscNameFromLabel(std::string_view storedLabel) {
    std::string name = StoredToHost(storedLabel);
    for (char& c : name)
        if (c == '/' || (static_cast<unsigned char>(c) < 0x20)) c = '_';
    return name;
}

DiscNameProblem CheckDiscName(std::string_view name) {
    if (name.empty()) return DiscNameProblem::Empty;
    if (name == "." || name == "..") return DiscNameProblem::Dots;
    for (char c : name)
        if (c == '/' || c == '\0') return DiscNameProblem::BadCharacter;
    // The companion's name is as long as the index's.
    if (name.size() + 4 > NAME_MAX) return DiscNameProblem::TooLong;
    return DiscNameProblem::None;
}

const char* DiscNameProblemText(DiscNameProblem problem) {
    switch (problem) {
        case DiscNameProblem::Empty:
            return "请输入光盘映象的名称。";
        case DiscNameProblem::BadCharacter:
            return "光盘映象的名称不能含有字符“/”。";
        case DiscNameProblem::Dots:
            return "光盘映象的名称不能是“.”或“..”。";
        case DiscNameProblem::TooLong:
            return "光盘映象的名称太长。";
        case DiscNameProblem::None:
            break;
    }
    return "";
}

std::string DiscIndexPath(const std::string& location, const std::string& name) {
    return location + name + ".orb";
}

bool DiscFileTaken(const std::string& location, const std::string& name) {
    return Exists(location + name + ".orb") || Exists(location + name + ".orc");
}

std::string NextFreeDiscName(const std::string& location, const std::string& name) {
    std::string candidate;
    for (int n = 1; n < 100000; ++n) {
        candidate = name + "(" + std::to_string(n) + ")";
        if (!DiscFileTaken(location, candidate)) break;
    }
    return candidate;
}

bool ReadRemarkSource(const std::string& path, std::string& raw, std::string* reason) {
    raw.clear();
    // Non-blocking, so a FIFO or a device named *.txt cannot hold the window.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (reason) *reason = ErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (reason) *reason = "不是普通文件";
        ::close(fd);
        return false;
    }
    // Up to three bytes more than the limit let the cut see a whole last character.
    const size_t want = kMaxRemarkBytes + 4;
    raw.resize(want);
    size_t got = 0;
    while (got < want) {
        ssize_t n = ::read(fd, raw.data() + got, want - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (reason) *reason = ErrorText(errno);
            ::close(fd);
            raw.clear();
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    raw.resize(got);
    return true;
}

std::string MakeRemark(std::string_view raw, bool truncated) {
    const size_t nul = raw.find('\0');
    if (nul != std::string_view::npos) {
        raw = raw.substr(0, nul);
        truncated = false;
    }
    bool multiByte = false;
    const size_t valid = ValidUtf8Prefix(raw, truncated, multiByte);
    std::string stored;
    if (valid != std::string_view::npos && multiByte)
        stored = HostToStored(raw.substr(0, valid));
    else
        stored.assign(raw);
    if (stored.size() > kMaxRemarkBytes) stored.assign(CutAtCharBoundary(stored, kMaxRemarkBytes));
    return stored;
}

bool DescribeFolderDisc(const std::string& folder, FolderDisc& out) {
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real) return false;
    std::string path = real;
    std::free(real);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    out.root = NormalizeDriveRoot(path);
    out.label.clear();
    std::shared_ptr<IDriveSystem> drives = Drives();
    std::string stored;
    if (drives->GetDriveType(path) != DRIVE_NO_ROOT_DIR && drives->GetVolumeLabel(path, stored))
        out.label = StoredToHost(stored);
    if (out.label.empty() && path != "/") out.label = path.substr(path.rfind('/') + 1);
    struct statvfs vfs {};
    out.capacity = 0;
    if (::statvfs(path.c_str(), &vfs) == 0)
        out.capacity =
            static_cast<uint64_t>(vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize) * vfs.f_blocks;
    return true;
}

std::string DriveDisplayName(const std::string& root, const std::string& hostLabel, bool hasDisc) {
    std::string shown = root;
    if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    if (hasDisc && !hostLabel.empty()) return hostLabel + " (" + shown + ")";
    return "光盘驱动器 (" + shown + ")";
}

bool CanCreate(bool driveChosen, std::string_view name, bool scanOutstanding) {
    return driveChosen && !name.empty() && !scanOutstanding;
}

int DriveToPreselect(const std::vector<std::string>& listRoots, const std::vector<bool>& holdsDisc,
                     const std::string& arrivedRoot) {
    if (!arrivedRoot.empty()) {
        const std::string wanted = NormalizeDriveRoot(arrivedRoot);
        for (size_t i = 0; i < listRoots.size(); ++i)
            if (NormalizeDriveRoot(listRoots[i]) == wanted) return static_cast<int>(i);
    }
    int only = -1;
    for (size_t i = 0; i < listRoots.size() && i < holdsDisc.size(); ++i) {
        if (!holdsDisc[i]) continue;
        if (only >= 0) return -1;
        only = static_cast<int>(i);
    }
    return only;
}

std::string UnreadableSummary(const ScanUnreadable& unreadable) {
    if (!unreadable.Any()) return std::string();
    return "光盘上有内容无法读取：" + std::to_string(unreadable.directories) + " 个目录，" +
           std::to_string(unreadable.files) + " 个文件。索引中没有它们的内容。";
}

std::string UnreadableDetails(const ScanUnreadable& unreadable) {
    std::string text;
    for (const std::string& path : unreadable.paths) text += path + "\n";
    const uint64_t total = uint64_t{unreadable.directories} + unreadable.files;
    if (total > unreadable.paths.size())
        text += "……另有 " + std::to_string(total - unreadable.paths.size()) + " 项未列出\n";
    return text;
}

namespace {

std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
    return digits;
}

}  // namespace

std::string ScanDoneText(uint32_t files, uint32_t directories) {
    return "完成：" + Grouped(files) + " 个文件，" + Grouped(directories) + " 个文件夹";
}

}  // namespace orb
