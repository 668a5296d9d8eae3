// SPDX-License-Identifier: GPL-3.0-or-later
// Which folders the kernel reported changes in since a given look, so that a
// holder of what it read from files there need not look at every file again to
// know that nothing changed (inotify; nothing is trusted on a network file system).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

struct inotify_event;

namespace orb {

class CFolderChanges {
public:
    // One watched folder; shared by its holders, read without a lock.
    struct Folder {
        static constexpr uint64_t kGone = UINT64_MAX;
        int wd = -1;
        std::string path;
        // The look at which something was last reported in the folder; kGone once
        // its watch no longer says anything about its path (Watch it again).
        std::atomic<uint64_t> changedAt{0};
        bool Gone() const { return changedAt.load(std::memory_order_acquire) == kGone; }
    };

    CFolderChanges();
    ~CFolderChanges();
    CFolderChanges(const CFolderChanges&) = delete;
    CFolderChanges& operator=(const CFolderChanges&) = delete;

    // Starts watching a folder (an absolute path) and every folder above it, so a
    // folder renamed, moved or deleted anywhere on its path is reported too. Null
    // when its changes cannot be known: no notification here, a network file system
    // (other machines' changes are never reported), a path through a symbolic link,
    // or no watch left. A folder already watched gives its existing entry.
    std::shared_ptr<const Folder> Watch(const std::string& folder);

    // Takes in what was reported since the last call and begins a new look; what a
    // caller looks at in a file after this returns is known to be current unless
    // later looks report its folder.
    uint64_t Take();
    // The current look: read it before looking at a file, and that look vouches
    // for what was seen as long as Unchanged says so.
    uint64_t Look() const { return look_.load(std::memory_order_acquire); }
    // Whether nothing was reported in the folder, or above it, after the look at
    // which its file was looked at.
    bool Unchanged(const Folder& folder, uint64_t lookedAt) const;

private:
    void Mark(int wd, uint64_t look);
    void DropAll();
    // Whether the event names a watched folder (or is about one itself).
    bool OnAWatchedPath(const ::inotify_event& e) const;

    int fd_ = -1;
    std::mutex mutex_;  // guards the maps and the reading of fd_
    std::unordered_map<std::string, std::shared_ptr<Folder>> byPath_;
    std::unordered_map<int, std::shared_ptr<Folder>> byWatch_;
    std::atomic<uint64_t> look_{0};
    // A folder renamed, moved or deleted, or reports lost: every folder changed.
    std::atomic<uint64_t> allChangedAt_{0};
};

}  // namespace orb
