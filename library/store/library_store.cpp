// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/store/library_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr size_t kDiscSuffixLength = 4;  // ".orb"

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

int CompareLibraryItems(bool category1, std::string_view storedLabel1, bool category2,
                        std::string_view storedLabel2) {
    if (category1 != category2) return static_cast<int>(category2) - static_cast<int>(category1);
    return CompareNatural(storedLabel1, storedLabel2);
}

bool IsDiscFileName(std::string_view fileName) {
    if (fileName.size() < kDiscSuffixLength) return false;
    return EqualsNoCaseAZ(fileName.substr(fileName.size() - kDiscSuffixLength), ".orb");
}

std::string_view DiscLabelOfFileName(std::string_view fileName) {
    if (fileName.size() < kDiscSuffixLength) return fileName;
    return fileName.substr(0, fileName.size() - kDiscSuffixLength);
}

std::vector<LibraryItem> ListLibraryLevel(const std::string& hostDir, bool showDiscs, int depth) {
    std::vector<LibraryItem> items;
    std::string dir = hostDir;
    if (dir.empty() || dir.back() != '/') dir += '/';
    // The kind of each entry comes from the listing itself: a stat per file would
    // cost a round trip each on a share. Only links, and file systems that do not
    // give kinds, are asked.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return items;
    DIR* listing = fdopendir(dfd);
    if (!listing) {
        ::close(dfd);
        return items;
    }
    while (const struct dirent* d = readdir(listing)) {
        const std::string_view name(d->d_name);
        if (name == "." || name == "..") continue;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        const bool isLink = type == DT_LNK;
        bool isDir = type == DT_DIR;
        if (isLink) {
            struct stat st {};
            isDir = fstatat(dfd, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isDir && (!showDiscs || !IsDiscFileName(name))) continue;
        LibraryItem item;
        item.depth = depth;
        item.hostName.assign(name);
        item.isLink = isLink;
        if (isDir) {
            item.isCategory = true;
            item.label = HostToStored(name);
            item.hostPath = dir + item.hostName + '/';
        } else {
            item.label = HostToStored(DiscLabelOfFileName(name));
            item.hostPath = dir + item.hostName;
        }
        items.push_back(std::move(item));
    }
    closedir(listing);
    // Stable, so labels equal after folding keep the file system's order.
    std::stable_sort(items.begin(), items.end(), [](const LibraryItem& a, const LibraryItem& b) {
        return CompareLibraryItems(a, b) < 0;
    });
    return items;
}

namespace {
thread_local CSharedLibraryWalk* g_sharedWalk = nullptr;

bool WalkDirectories(const std::string& hostRoot, bool showDiscs,
                     const std::function<bool(const LibraryItem&)>& visit);
}  // namespace

CSharedLibraryWalk::CSharedLibraryWalk() : outer_(g_sharedWalk) {
    g_sharedWalk = this;
}

CSharedLibraryWalk::~CSharedLibraryWalk() {
    g_sharedWalk = outer_;
}

bool WalkLibrary(const std::string& hostRoot, bool showDiscs,
                 const std::function<bool(const LibraryItem&)>& visit) {
    CSharedLibraryWalk* share = g_sharedWalk;
    if (!share) return WalkDirectories(hostRoot, showDiscs, visit);
    const CSharedLibraryWalk::Recording* recording = nullptr;
    for (const auto& r : share->recordings_)
        if (r.root == hostRoot && r.showDiscs == showDiscs) recording = &r;
    if (!recording) {
        CSharedLibraryWalk::Recording r{hostRoot, showDiscs, {}};
        WalkDirectories(hostRoot, showDiscs, [&](const LibraryItem& item) {
            r.items.push_back(item);
            return true;
        });
        ++share->walks_;
        share->recordings_.push_back(std::move(r));
        recording = &share->recordings_.back();
    }
    for (const LibraryItem& item : recording->items)
        if (!visit(item)) return false;
    return true;
}

namespace {
bool WalkDirectories(const std::string& hostRoot, bool showDiscs,
                     const std::function<bool(const LibraryItem&)>& visit) {
    // An explicit stack instead of recursion: a deep library cannot exhaust the
    // thread's stack.
    struct Level {
        std::vector<LibraryItem> items;
        size_t next = 0;
    };
    std::vector<Level> stack;
    if (!IsDirectory(hostRoot)) return true;
    // A link to a directory is shown but never entered: one to "/" or to the
    // library itself would walk the whole machine or loop, and a real directory
    // is always reached by its own path. So every directory is entered at most
    // once and the listing's kinds are enough, with no stat per directory.
    Level root;
    root.items = ListLibraryLevel(hostRoot, showDiscs, 0);
    stack.push_back(std::move(root));
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next >= top.items.size()) {
            stack.pop_back();
            continue;
        }
        const LibraryItem& item = top.items[top.next++];
        if (!visit(item)) return false;
        if (!item.isCategory || item.isLink) continue;
        Level child;
        child.items = ListLibraryLevel(item.hostPath, showDiscs, item.depth + 1);
        stack.push_back(std::move(child));  // invalidates top and item
    }
    return true;
}
}  // namespace

std::vector<std::string> LibraryDiscPaths(const std::string& hostRoot) {
    std::vector<std::string> paths;
    WalkLibrary(hostRoot, true, [&](const LibraryItem& item) {
        if (!item.isCategory) paths.push_back(item.hostPath);
        return true;
    });
    return paths;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string StripExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return path;
    return path.substr(0, dot);
}

namespace {

bool IdentityOf(const std::string& path, struct stat& st) {
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool IsSameFile(const std::string& path1, const std::string& path2) {
    struct stat a {
    }, b{};
    return IdentityOf(path1, a) && IdentityOf(path2, b) && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

bool IsBelowDirectory(const std::string& filePath, const std::string& dir, std::string* rest) {
    struct stat target {};
    if (!IdentityOf(dir, target) || !S_ISDIR(target.st_mode)) return false;
    // Each directory the path names, from the file's own upwards.
    size_t end = filePath.size();
    while (end > 0 && filePath[end - 1] == '/') --end;
    for (;;) {
        const size_t slash = filePath.rfind('/', end ? end - 1 : 0);
        if (slash == std::string::npos || end == 0) return false;
        const std::string parent = slash == 0 ? std::string("/") : filePath.substr(0, slash);
        struct stat st {};
        if (IdentityOf(parent, st) && st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
            if (rest) *rest = filePath.substr(slash + 1);
            return true;
        }
        if (slash == 0) return false;
        end = slash;
    }
}

}  // namespace orb
