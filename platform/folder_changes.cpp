// SPDX-License-Identifier: GPL-3.0-or-later
// Folder and file change reports through inotify.
#include "platform/folder_changes.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/files.h"

namespace orb {

namespace {

// Everything that can change what a file holds or which file a name leads to.
// Not IN_ACCESS or IN_OPEN: the holder's own reads would be reported.
constexpr uint32_t kFolderMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                 IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                 IN_MOVE_SELF | IN_ONLYDIR;
// A file's own watch follows a link to the file it leads to (the link's own
// replacement is its folder's news); IN_ATTRIB tells of names made and removed.
constexpr uint32_t kFileMask =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

// The path without doubled or trailing separators; empty when not absolute.
std::string Plain(const std::string& path) {
    if (path.empty() || path[0] != '/') return std::string();
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

// Local file systems, where every change is made through this kernel and so is
// reported. Not network or cluster file systems (other machines' changes), FUSE
// (the daemon's own) or overlays (changes to the layers beneath).
bool ReportsEveryChange(const std::string& path) {
    struct statfs st {};
    if (::statfs(path.c_str(), &st) != 0) return false;
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0xEF53UL:      // ext2, ext3, ext4
        case 0x58465342UL:  // xfs
        case 0x9123683EUL:  // btrfs
        case 0x01021994UL:  // tmpfs
        case 0xF2F52010UL:  // f2fs
        case 0x4D44UL:      // vfat
        case 0x2011BAB0UL:  // exfat
        case 0x7366746EUL:  // ntfs3
        case 0x2FC12FC1UL:  // zfs
        case 0xCA451A4EUL:  // bcachefs
        case 0x3153464AUL:  // jfs
        case 0x482BUL:      // hfsplus
        case 0x9660UL:      // iso9660
        case 0x15013346UL:  // udf
        case 0x73717368UL:  // squashfs
            return true;
        default:
            return false;
    }
}

}  // namespace

CFolderChanges::CFolderChanges()
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      mounts_(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {
    // A quarter of the user's watches: file managers and editors watch too. Past
    // it, files are looked at on every search, as without watches.
    size_t limit = 8192;
    if (FILE* f = std::fopen("/proc/sys/fs/inotify/max_user_watches", "r")) {
        unsigned long n = 0;
        if (std::fscanf(f, "%lu", &n) == 1 && n > 0) limit = n;
        std::fclose(f);
    }
    mostWatches_ = limit / 4;
}

bool CFolderChanges::WatchesLeft() const {
    return byWatch_.size() < mostWatches_;
}

CFolderChanges::~CFolderChanges() {
    if (fd_ >= 0) ::close(fd_);
    if (mounts_ >= 0) ::close(mounts_);
}

std::shared_ptr<const CFolderChanges::Watched> CFolderChanges::Watch(const std::string& folder,
                                                                     bool* retry) {
    if (retry) *retry = false;
    const std::string path = Plain(folder);
    // Without the mount table, a mount over a folder would go unreported.
    if (fd_ < 0 || mounts_ < 0 || path.empty()) return nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = folders_.find(path);
        if (it != folders_.end() && byWatch_[it->second].chain) return byWatch_[it->second].watched;
    }
    // A name that is a link could be pointed elsewhere without any report in the
    // folders it leads to.
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real)) {
        if (retry) *retry = errno == ENOENT;
        return nullptr;
    }
    if (path != real || !ReportsEveryChange(path)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Watched> first;
    for (std::string p = path;;) {
        auto it = folders_.find(p);
        if (it == folders_.end()) {
            const int wd = WatchesLeft() ? ::inotify_add_watch(fd_, p.c_str(), kFolderMask) : -1;
            if (wd < 0) {
                // What was watched of the path so far stays, but is not given out
                // until the whole path is.
                if (retry) *retry = true;
                return nullptr;
            }
            // A folder already watched under another name (a bind mount) gives
            // its watch again, and its reports land on the one entry.
            Entry& entry = byWatch_[wd];
            if (!entry.watched) entry = {std::make_shared<Watched>(), p, false};
            it = folders_.emplace(p, wd).first;
        }
        if (!first) first = byWatch_[it->second].watched;
        if (p == "/") break;
        const size_t slash = p.rfind('/');
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
    byWatch_[folders_.at(path)].chain = true;
    return first;
}

std::shared_ptr<const CFolderChanges::Watched> CFolderChanges::WatchFile(const std::string& path,
                                                                         bool* missing) {
    if (missing) *missing = false;
    if (fd_ < 0) return nullptr;
    // A link is not followed: what it leads to may lie in a folder nothing
    // watches, or on a file system whose changes go unreported.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (missing) *missing = errno == ENOENT;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    int wd = -1, error = ENOSPC;
    if (WatchesLeft()) {
        wd = ::inotify_add_watch(fd_, path.c_str(), kFileMask | IN_DONT_FOLLOW);
        error = errno;
    }
    if (wd < 0) {
        if (missing) *missing = error == ENOENT;
        return nullptr;
    }
    // The same file again (or through another name): the same watch.
    Entry& entry = byWatch_[wd];
    if (!entry.watched) entry = {std::make_shared<Watched>(), path, true};
    if (!entry.file) return nullptr;
    files_[path] = wd;
    return entry.watched;
}

void CFolderChanges::ForgetFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(forgetMutex_);
    forgotten_.push_back(path);
}

void CFolderChanges::LetGoOfForgotten() {
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> lock(forgetMutex_);
        paths.swap(forgotten_);
    }
    for (const std::string& path : paths) {
        auto it = files_.find(path);
        if (it == files_.end()) continue;
        auto w = byWatch_.find(it->second);
        if (w != byWatch_.end() && w->second.file) {
            // Another holder of the same file watches it again at its next look.
            w->second.watched->changedAt.store(Watched::kGone, std::memory_order_release);
            ::inotify_rm_watch(fd_, w->first);
            byWatch_.erase(w);
        }
        files_.erase(it);
    }
}

void CFolderChanges::Mark(const Entry& entry, uint64_t look) {
    if (!entry.watched->Gone()) entry.watched->changedAt.store(look);
}

void CFolderChanges::DropFolders() {
    for (auto it = byWatch_.begin(); it != byWatch_.end();) {
        if (it->second.file) {
            ++it;
            continue;
        }
        it->second.watched->changedAt.store(Watched::kGone, std::memory_order_release);
        ::inotify_rm_watch(fd_, it->first);
        it = byWatch_.erase(it);
    }
    folders_.clear();
}

bool CFolderChanges::OnAWatchedPath(const Entry& folder, const inotify_event& e) const {
    return e.len == 0 || folders_.count(JoinPath(folder.path, e.name)) != 0;
}

uint64_t CFolderChanges::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    LetGoOfForgotten();
    const uint64_t look = look_.load() + 1;
    bool all = fd_ < 0 || mounts_ < 0;
    // Something mounted or unmounted anywhere: a path may now lead into another
    // file system, where nothing is watched. The poll takes the news in.
    pollfd mounts{mounts_, POLLPRI, 0};
    if (mounts_ >= 0 && ::poll(&mounts, 1, 0) > 0 && (mounts.revents & (POLLPRI | POLLERR))) {
        all = true;
        DropFolders();
    }
    alignas(struct inotify_event) char buffer[64 * 1024];
    while (fd_ >= 0) {
        const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // EAGAIN: nothing more. Anything else: what was missed is unknown.
            if (n < 0 && errno != EAGAIN) {
                all = true;
                DropFolders();
            }
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                // A folder moved among what was lost would keep a watch that no
                // longer stands for its path.
                all = true;
                DropFolders();
                continue;
            }
            auto it = byWatch_.find(e->wd);
            if (it == byWatch_.end()) continue;  // a watch let go here
            const Entry& entry = it->second;
            if (entry.file) {
                // Its name may lead elsewhere now, or nothing is watched any more:
                // the holder looks again and watches the file there.
                if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    entry.watched->changedAt.store(Watched::kGone, std::memory_order_release);
                    if (!(e->mask & IN_IGNORED)) ::inotify_rm_watch(fd_, e->wd);
                    auto f = files_.find(entry.path);
                    if (f != files_.end() && f->second == e->wd) files_.erase(f);
                    byWatch_.erase(it);
                } else {
                    Mark(entry, look);
                }
            } else if ((e->mask & (IN_IGNORED | IN_UNMOUNT | IN_DELETE_SELF | IN_MOVE_SELF)) ||
                       ((e->mask & IN_ISDIR) &&
                        (e->mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE)) &&
                        OnAWatchedPath(entry, *e))) {
                // A watched folder gone or elsewhere: paths through it lead nowhere
                // or to other folders now, which no watch stands for. Other
                // folders come and go (a temporary folder's neighbours) freely.
                all = true;
                DropFolders();
            } else if ((e->mask & IN_ISDIR) && (e->mask & IN_ATTRIB) && OnAWatchedPath(entry, *e)) {
                // A watched folder's rights changed: paths through it may no longer
                // open.
                all = true;
            } else if (!(e->mask & IN_ISDIR)) {
                Mark(entry, look);
            }
        }
    }
    if (all) allChangedAt_.store(look);
    look_.store(look, std::memory_order_release);
    return look;
}

bool CFolderChanges::Unchanged(const Watched& watched, uint64_t lookedAt) const {
    return watched.changedAt.load(std::memory_order_acquire) <= lookedAt &&
           allChangedAt_.load(std::memory_order_acquire) <= lookedAt;
}

}  // namespace orb
