#include "library/store/library_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr size_t kDiscSuffixLength = 4;  // ".orb"

struct DirId {
    dev_t dev;
    ino_t ino;
    bool operator==(const DirId& o) const { return dev == o.dev && ino == o.ino; }
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
    return CompareNoCaseAZ(storedLabel1, storedLabel2);
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
        bool loops =
            std::any_of(stack.begin(), stack.end(), [&](const Level& l) { return l.id == id; });
        if (loops) continue;
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

}  // namespace orb
