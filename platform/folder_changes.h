// SPDX-License-Identifier: GPL-3.0-or-later
// Which folders and files the kernel reported changes in since a given look, so
// that a holder of what it read from files there need not look at every file
// again to know that nothing changed (inotify, on local file systems only).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct inotify_event;

namespace orb {

class CFolderChanges {
public:
    // One watched folder or file; shared by its holders, read without a lock.
    struct Watched {
        static constexpr uint64_t kGone = UINT64_MAX;
        // The look at which something was last reported of it; kGone once its
        // watch no longer says anything about its path (watch it again).
        std::atomic<uint64_t> changedAt{0};
        bool Gone() const { return changedAt.load(std::memory_order_acquire) == kGone; }
    };

    CFolderChanges();
    ~CFolderChanges();
    CFolderChanges(const CFolderChanges&) = delete;
    CFolderChanges& operator=(const CFolderChanges&) = delete;

    // Starts watching a folder (an absolute path) and every folder above it, so a
    // folder renamed, moved or deleted anywhere on its path is reported too. Null
    // when its changes cannot be known: no notification here, a file system whose
    // changes may be made where no report comes from (a network or cluster file
    // system, an overlay), a path through a symbolic link, or no watch left. A
    // folder already watched gives its existing entry.
    // retry (when given) tells a refusal that may pass (the folder not there yet,
    // no watch left) from one that will not.
    std::shared_ptr<const Watched> Watch(const std::string& folder, bool* retry = nullptr);
    // Starts watching a file of a watched folder itself: what is written through
    // another of its names is reported only to the file. Null when it cannot be
    // watched; missing (when given) tells a file that is not there, whose coming
    // its folder reports.
    std::shared_ptr<const Watched> WatchFile(const std::string& path, bool* missing = nullptr);
    // Lets go of a file's watch (its holder is gone) at the next Take; never
    // waits for a Watch or a Take in progress.
    void ForgetFile(const std::string& path);

    // Takes in what was reported since the last call and begins a new look; what a
    // caller looks at in a file after this returns is known to be current unless
    // later looks report it.
    uint64_t Take();
    // The current look: read it before looking at a file, and that look vouches
    // for what was seen as long as Unchanged says so.
    uint64_t Look() const { return look_.load(std::memory_order_acquire); }
    // Whether nothing was reported of it, or of the folders above, after the look
    // at which it was looked at.
    bool Unchanged(const Watched& watched, uint64_t lookedAt) const;

private:
    struct Entry {
        std::shared_ptr<Watched> watched;
        std::string path;
        bool file = false;
        // A folder whose every folder above is watched too, and which was found
        // to be on a local file system: one that Watch may give out.
        bool chain = false;
    };
    bool WatchesLeft() const;
    void Mark(const Entry& entry, uint64_t look);
    // Every folder's watch is let go (files keep theirs: they follow the file).
    void DropFolders();
    void LetGoOfForgotten();
    // Whether the event names a watched folder (or is about one itself).
    bool OnAWatchedPath(const Entry& folder, const ::inotify_event& e) const;

    int fd_ = -1;
    int mounts_ = -1;   // the process's mount table, which tells of mounts by poll
    std::mutex mutex_;  // guards the maps and the reading of fd_
    std::unordered_map<std::string, int> folders_;  // path to watch
    std::unordered_map<std::string, int> files_;    // path to watch
    std::mutex forgetMutex_;                        // guards forgotten_ alone
    std::vector<std::string> forgotten_;            // files to let go at the next Take
    size_t mostWatches_ = 0;  // a share of the user's watches, which others need too
    std::unordered_map<int, Entry> byWatch_;
    std::atomic<uint64_t> look_{0};
    // A folder renamed, moved or deleted, a mount, or reports lost: every folder
    // changed.
    std::atomic<uint64_t> allChangedAt_{0};
};

}  // namespace orb
