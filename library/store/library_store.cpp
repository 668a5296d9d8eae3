// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/store/library_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr size_t kDiscSuffixLength = 4;  // ".orb"
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

namespace {

// Big enough for a level of a few hundred entries in one read; a share then
// answers each directory in one or two round trips.
constexpr size_t kListingBufferBytes = 64 * 1024;
// Levels deeper than this are opened by full path instead of keeping every
// parent's descriptor open: a very deep library must not run out of them.
constexpr int kMaxHeldLevels = 64;

struct RawEntry {
    uint64_t ino;
    int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

// Opens a directory of the library for listing, never through a link: a
// category that became a link since its parent was listed is not entered.
int OpenLevel(int parentFd, const std::string& name, const std::string& fullPath) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (parentFd >= 0) return ::openat(parentFd, name.c_str(), flags);
    // A trailing '/' would have the last name followed even if it is a link.
    std::string path = fullPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return ::open(path.c_str(), flags);
}

// The categories and discs of the open directory dfd (whose path is dir, ending
// with '/'), in library order. The kind of each entry comes from the listing
// itself: a stat per file would cost a round trip each on a share. Only links,
// and file systems that do not give kinds, are asked.
std::vector<LibraryItem> ReadLevel(int dfd, const std::string& dir, bool showDiscs, int depth,
                                   std::vector<char>& buffer) {
    std::vector<LibraryItem> items;
    buffer.resize(kListingBufferBytes);
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dfd, buffer.data(), buffer.size());
        if (got <= 0) break;  // the end, or a directory that cannot be read further
        for (long at = 0; at < got;) {
            const auto* d = reinterpret_cast<const RawEntry*>(buffer.data() + at);
            if (d->reclen == 0) break;
            at += d->reclen;
            const std::string_view name(d->name);
            if (name == "." || name == "..") continue;
            unsigned char type = d->type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(dfd, d->name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            const bool isLink = type == DT_LNK;
            bool isDir = type == DT_DIR;
            if (isLink) {
                struct stat st {};
                isDir = ::fstatat(dfd, d->name, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
            if (!isDir && (!showDiscs || !IsDiscFileName(name))) continue;
            LibraryItem item;
            item.depth = depth;
            item.hostName.assign(name);
            item.isLink = isLink;
            item.isCategory = isDir;
            item.label = HostToStored(isDir ? name : DiscLabelOfFileName(name));
            item.hostPath.reserve(dir.size() + name.size() + 1);
            item.hostPath = dir;
            item.hostPath += name;
            if (isDir) item.hostPath += '/';
            items.push_back(std::move(item));
        }
    }
    // Stable, so labels equal after folding keep the file system's order.
    std::stable_sort(items.begin(), items.end(), [](const LibraryItem& a, const LibraryItem& b) {
        return CompareLibraryItems(a, b) < 0;
    });
    return items;
}

std::string AsDirectory(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

}  // namespace

std::vector<LibraryItem> ListLibraryLevel(const std::string& hostDir, bool showDiscs, int depth) {
    const std::string dir = AsDirectory(hostDir);
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return {};
    std::vector<char> buffer;
    std::vector<LibraryItem> items = ReadLevel(dfd, dir, showDiscs, depth, buffer);
    ::close(dfd);
    return items;
}

namespace {
thread_local CSharedLibraryWalk* g_sharedWalk = nullptr;

// cancel, when given and set, stops the walk's workers too, not only visit.
bool WalkDirectories(const std::string& hostRoot, bool showDiscs,
                     const std::function<bool(const LibraryItem&)>& visit,
                     const std::atomic<bool>* cancel = nullptr);

// Two recordings of one root: a trailing '/' makes no difference.
bool SameRoot(const std::string& a, const std::string& b) {
    return AsDirectory(a) == AsDirectory(b);
}
}  // namespace

CSharedLibraryWalk::CSharedLibraryWalk() : outer_(g_sharedWalk) {
    g_sharedWalk = this;
}

CSharedLibraryWalk::~CSharedLibraryWalk() {
    g_sharedWalk = outer_;
}

void CSharedLibraryWalk::Adopt(Recording recording) {
    recordings_.push_back(std::move(recording));
}

CSharedLibraryWalk::Recording RecordLibraryWalk(const std::string& hostRoot, bool showDiscs,
                                                const std::atomic<bool>* stop) {
    CSharedLibraryWalk::Recording r{hostRoot, showDiscs, {}};
    r.complete = WalkDirectories(
        hostRoot, showDiscs,
        [&](const LibraryItem& item) {
            if (stop && stop->load(std::memory_order_relaxed)) return false;
            r.items.push_back(item);
            return true;
        },
        stop);
    return r;
}

bool WalkLibrary(const std::string& hostRoot, bool showDiscs,
                 const std::function<bool(const LibraryItem&)>& visit) {
    CSharedLibraryWalk* share = g_sharedWalk;
    if (!share) return WalkDirectories(hostRoot, showDiscs, visit);
    const CSharedLibraryWalk::Recording* recording = nullptr;
    for (const auto& r : share->recordings_)
        if (SameRoot(r.root, hostRoot) && r.showDiscs == showDiscs) recording = &r;
    if (!recording) {
        share->recordings_.push_back(RecordLibraryWalk(hostRoot, showDiscs));
        ++share->walks_;
        recording = &share->recordings_.back();
    }
    for (const LibraryItem& item : recording->items)
        if (!visit(item)) return false;
    return true;
}

namespace {

// Walks one directory's subtree depth first in library order, the directory
// itself left out. dirFd is the open directory (taken over and closed); -1 for
// one that could not be opened.
bool WalkSubtree(int dirFd, const std::string& dir, bool showDiscs, int depth,
                 const std::function<bool(const LibraryItem&)>& visit) {
    struct Level {
        int fd = -1;
        std::vector<LibraryItem> items;
        size_t next = 0;
    };
    std::vector<char> buffer;
    // An explicit stack instead of recursion: a deep library cannot exhaust the
    // thread's stack.
    std::vector<Level> stack;
    if (dirFd < 0) return true;  // gone or unreadable: listed, nothing inside
    Level first;
    first.fd = dirFd;
    first.items = ReadLevel(dirFd, dir, showDiscs, depth, buffer);
    stack.push_back(std::move(first));
    bool whole = true;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next >= top.items.size()) {
            if (top.fd >= 0) ::close(top.fd);
            stack.pop_back();
            continue;
        }
        const LibraryItem& item = top.items[top.next++];
        if (!visit(item)) {
            whole = false;
            break;
        }
        if (!item.isCategory || item.isLink) continue;
        Level child;
        child.fd = OpenLevel(top.fd, item.hostName, item.hostPath);
        if (child.fd < 0) continue;  // gone or unreadable: listed, nothing inside
        child.items = ReadLevel(child.fd, item.hostPath, showDiscs, item.depth + 1, buffer);
        if (stack.size() >= kMaxHeldLevels) {
            ::close(child.fd);
            child.fd = -1;
        }
        stack.push_back(std::move(child));  // invalidates top and item
    }
    for (const Level& level : stack)
        if (level.fd >= 0) ::close(level.fd);
    return whole;
}

// The threads that list the root's categories at once: the walk waits on the
// disk or the share far more than it computes, so a few help even on one core.
unsigned WalkThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 2u, 4u);
}

bool WalkDirectories(const std::string& hostRoot, bool showDiscs,
                     const std::function<bool(const LibraryItem&)>& visit,
                     const std::atomic<bool>* cancel) {
    // A link to a directory is shown but never entered: one to "/" or to the
    // library itself would walk the whole machine or loop, and a real directory
    // is always reached by its own path. So every directory is entered at most
    // once and the listing's kinds are enough, with no stat per directory.
    const std::string root = AsDirectory(hostRoot);
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return true;
    std::vector<char> buffer;
    const std::vector<LibraryItem> top = ReadLevel(rootFd, root, showDiscs, 0, buffer);

    // Each category of the root is one piece of work; the pieces are handed out
    // in order and given to visit in order as each is done, so the caller sees
    // exactly the one-thread walk's sequence.
    struct Piece {
        const LibraryItem* category = nullptr;
        std::vector<LibraryItem> items;
        bool done = false;
    };
    std::vector<Piece> pieces;
    for (const LibraryItem& item : top)
        if (item.isCategory && !item.isLink) pieces.push_back(Piece{&item, {}, false});
    const unsigned threads = pieces.size() < 2 ? 0 : WalkThreads();

    std::mutex mutex;
    std::condition_variable ready;
    std::atomic<size_t> nextPiece{0};
    std::atomic<bool> stop{false};
    // A caller's cancel must reach the workers: the thread that waits for a
    // category would otherwise wait for the whole of it.
    auto halted = [&] { return stop || (cancel && cancel->load(std::memory_order_relaxed)); };
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            // Every piece taken is marked done, halted or not: the collecting
            // thread may be waiting for it.
            for (size_t i; (i = nextPiece.fetch_add(1)) < pieces.size();) {
                Piece& piece = pieces[i];
                std::vector<LibraryItem> items;
                if (!halted())
                    WalkSubtree(
                        OpenLevel(rootFd, piece.category->hostName, piece.category->hostPath),
                        piece.category->hostPath, showDiscs, 1, [&](const LibraryItem& item) {
                            if (halted()) return false;
                            items.push_back(item);
                            return true;
                        });
                std::lock_guard<std::mutex> lock(mutex);
                piece.items = std::move(items);
                piece.done = true;
                ready.notify_all();
            }
        });
    }

    bool whole = true;
    size_t pieceAt = 0;
    for (const LibraryItem& item : top) {
        if (!visit(item)) {
            whole = false;
            break;
        }
        if (!item.isCategory || item.isLink) continue;
        if (threads == 0) {
            if (!WalkSubtree(OpenLevel(rootFd, item.hostName, item.hostPath), item.hostPath,
                             showDiscs, 1, visit)) {
                whole = false;
                break;
            }
            continue;
        }
        std::vector<LibraryItem> items;
        {
            std::unique_lock<std::mutex> lock(mutex);
            Piece& piece = pieces[pieceAt++];
            ready.wait(lock, [&] { return piece.done; });
            items = std::move(piece.items);
        }
        bool stopped = false;
        for (const LibraryItem& inside : items)
            if (!visit(inside)) {
                stopped = true;
                break;
            }
        if (stopped) {
            whole = false;
            break;
        }
    }
    stop = true;
    for (std::thread& worker : workers) worker.join();
    ::close(rootFd);
    // A piece halted by cancel may have given only part of its category.
    return whole && !(cancel && cancel->load());
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
