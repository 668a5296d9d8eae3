// SPDX-License-Identifier: GPL-3.0-or-later
// Folder change reports through inotify.
#include "platform/folder_changes.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/files.h"

namespace orb {

namespace {

// Everything that can change what a file holds or which file a name leads to.
// Not IN_ACCESS or IN_OPEN: the holder's own reads would be reported.
constexpr uint32_t kMask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                           IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The path without doubled or trailing separators; empty when not absolute.
std::string Plain(const std::string& path) {
    if (path.empty() || path[0] != '/') return std::string();
    std::string out;
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

CFolderChanges::CFolderChanges() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

CFolderChanges::~CFolderChanges() {
    if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<const CFolderChanges::Folder> CFolderChanges::Watch(const std::string& folder) {
    const std::string path = Plain(folder);
    if (fd_ < 0 || path.empty() || IsNetworkFileSystem(path)) return nullptr;
    // A name that is a link could be pointed elsewhere without any report in the
    // folders it leads to.
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real) || path != real) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Folder> first;
    for (std::string p = path;;) {
        auto it = byPath_.find(p);
        if (it == byPath_.end()) {
            const int wd = ::inotify_add_watch(fd_, p.c_str(), kMask);
            if (wd < 0) return nullptr;
            // A folder already watched under another name (a bind mount) gives
            // its watch again, and its reports land on the one entry.
            std::shared_ptr<Folder>& entry = byWatch_[wd];
            if (!entry) {
                entry = std::make_shared<Folder>();
                entry->wd = wd;
                entry->path = p;
            }
            it = byPath_.emplace(p, entry).first;
        }
        if (!first) first = it->second;
        if (p == "/") break;
        const size_t slash = p.rfind('/');
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
    return first;
}

void CFolderChanges::Mark(int wd, uint64_t look) {
    auto it = byWatch_.find(wd);
    if (it != byWatch_.end() && !it->second->Gone()) it->second->changedAt.store(look);
}

void CFolderChanges::DropAll() {
    for (auto& [wd, folder] : byWatch_) {
        folder->changedAt.store(Folder::kGone, std::memory_order_release);
        ::inotify_rm_watch(fd_, wd);
    }
    byWatch_.clear();
    byPath_.clear();
}

bool CFolderChanges::OnAWatchedPath(const inotify_event& e) const {
    if (e.len == 0) return true;
    auto it = byWatch_.find(e.wd);
    if (it == byWatch_.end()) return false;
    return byPath_.count(JoinPath(it->second->path, e.name)) != 0;
}

uint64_t CFolderChanges::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t look = look_.load() + 1;
    bool all = fd_ < 0;
    alignas(struct inotify_event) char buffer[64 * 1024];
    while (fd_ >= 0) {
        const ssize_t n = ::read(fd_, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // EAGAIN: nothing more. Anything else: what was missed is unknown.
            if (n < 0 && errno != EAGAIN) all = true;
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                all = true;
            } else if ((e->mask & IN_IGNORED) && !byWatch_.count(e->wd)) {
                // The end of a watch dropped here.
            } else if ((e->mask & (IN_IGNORED | IN_UNMOUNT | IN_DELETE_SELF | IN_MOVE_SELF)) ||
                       ((e->mask & IN_ISDIR) &&
                        (e->mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE)) &&
                        OnAWatchedPath(*e))) {
                // A watched folder gone or elsewhere: paths through it lead nowhere
                // or to other folders now, which no watch stands for. Other
                // folders come and go (a temporary folder's neighbours) freely.
                all = true;
                DropAll();
            } else if ((e->mask & IN_ISDIR) && (e->mask & IN_ATTRIB) && OnAWatchedPath(*e)) {
                // A watched folder's rights changed: paths through it may no longer
                // open.
                all = true;
            } else if (!(e->mask & IN_ISDIR)) {
                Mark(e->wd, look);
            }
        }
    }
    if (all) allChangedAt_.store(look);
    look_.store(look, std::memory_order_release);
    return look;
}

bool CFolderChanges::Unchanged(const Folder& folder, uint64_t lookedAt) const {
    return folder.changedAt.load(std::memory_order_acquire) <= lookedAt &&
           allChangedAt_.load(std::memory_order_acquire) <= lookedAt;
}

}  // namespace orb
