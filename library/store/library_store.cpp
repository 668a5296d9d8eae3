// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/store/library_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr size_t kDiscSuffixLength = 4;  // ".orb"

struct DirId {
    dev_t dev;
    ino_t ino;
};

bool StatDir(const std::string& path, DirId& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    id = {st.st_dev, st.st_ino};
    return true;
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
    ListDirectory(dir, [&](const DirEntry& e) {
        if (e.name == "." || e.name == "..") return true;
        bool isDir = e.isDirectory;
        if (!isDir && e.isSymlink) {
            DirId ignored;
            isDir = StatDir(dir + e.name, ignored);
        }
        LibraryItem item;
        item.depth = depth;
        item.hostName = e.name;
        item.isLink = e.isSymlink;
        if (isDir) {
            item.isCategory = true;
            item.label = HostToStored(e.name);
            item.hostPath = dir + e.name + '/';
        } else if (showDiscs && IsDiscFileName(e.name)) {
            item.label = HostToStored(DiscLabelOfFileName(e.name));
            item.hostPath = dir + e.name;
        } else {
            return true;
        }
        items.push_back(std::move(item));
        return true;
    });
    // Stable, so labels equal after folding keep the file system's order.
    std::stable_sort(items.begin(), items.end(), [](const LibraryItem& a, const LibraryItem& b) {
        return CompareLibraryItems(a, b) < 0;
    });
    return items;
}

bool WalkLibrary(const std::string& hostRoot, bool showDiscs,
                 const std::function<bool(const LibraryItem&)>& visit) {
    // An explicit stack instead of recursion: a deep library cannot exhaust the
    // thread's stack, and the chain of open directories is at hand for the loop
    // check.
    struct Level {
        std::vector<LibraryItem> items;
        size_t next = 0;
        DirId id;
    };
    std::vector<Level> stack;
    Level root;
    if (!StatDir(hostRoot, root.id)) return true;
    // Each directory is entered once. A link to a directory of the library itself
    // is shown but not entered (the directory is listed where it really is), so
    // chains of links cannot multiply the walk; a link leading out of the library
    // is entered the first time its directory is reached.
    std::set<std::pair<dev_t, ino_t>> entered{{root.id.dev, root.id.ino}};
    std::string realRoot;
    if (char* real = ::realpath(hostRoot.c_str(), nullptr)) {
        realRoot = real;
        std::free(real);
        if (realRoot.back() != '/') realRoot += '/';
    }
    auto insideLibrary = [&](const std::string& path) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return true;  // cannot tell: do not enter
        std::string r = std::string(real) + '/';
        std::free(real);
        return !realRoot.empty() && r.compare(0, realRoot.size(), realRoot) == 0;
    };
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
        if (!item.isCategory) continue;
        DirId id;
        if (!StatDir(item.hostPath, id)) continue;
        if (entered.count({id.dev, id.ino})) continue;
        if (item.isLink && insideLibrary(item.hostPath)) continue;
        entered.insert({id.dev, id.ino});
        Level child;
        child.id = id;
        child.items = ListLibraryLevel(item.hostPath, showDiscs, item.depth + 1);
        stack.push_back(std::move(child));  // invalidates top and item
    }
    return true;
}

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
