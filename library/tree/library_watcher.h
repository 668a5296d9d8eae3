// SPDX-License-Identifier: GPL-3.0-or-later
// Notices categories and discs of the library changed on disk by anyone.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "library/store/library_store.h"

class QSocketNotifier;

namespace orb {

class CLibraryTree;

// Every category and disc below the library root as host paths, in the order a
// filled library tree lists them (categories end with '/').
std::vector<std::string> LibraryListing(const std::string& root);
// The same for the items of a tree (its root left out).
std::vector<std::string> TreeListing(const CLibraryTree& tree);
// Whether two listings hold the same categories and discs, in whatever order: a
// tree that placed a new or renamed item where the user made it shows the library
// as it is, and refilling it then would only throw away an open menu or editor.
bool SameLibraryItems(std::vector<std::string> a, std::vector<std::string> b);

// Watches the library root and its categories with inotify on a local file
// system; on a network file system, where inotify misses other machines' changes,
// lists the library every few seconds instead. Reports only changes of the
// listing: annotation or favourites saves in the library do not count. Every
// walk and the watches of a large library (100,000 categories take about a
// second) are made on a worker thread; the walk that found a change is kept for
// the trees to fill from (TakeWalk), so they need not read the library again.
class CLibraryWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;
    static constexpr int kPollMs = 3000;

    explicit CLibraryWatcher(QObject* parent = nullptr);
    // Stops a running poll walk and waits for it.
    ~CLibraryWatcher() override;
    // Starts watching another library (an empty root stops watching).
    void SetRoot(const std::string& root);
    // Watching by polling (a network file system), paused or not.
    bool IsPolling() const { return m_polling; }
    // Polls even on a local file system (tests; a file system inotify misses).
    void SetAlwaysPoll(bool poll) { m_alwaysPoll = poll; }
    // The time between polls (tests use a short one).
    void SetPollInterval(int ms) { m_poll.setInterval(ms); }
    // No polls while paused: the window is hidden or minimised, and a poll costs
    // a round trip per directory on the share. Resuming polls at once, so what
    // changed meanwhile shows as the window does. Inotify watches are free and
    // stay on.
    void SetPaused(bool paused);
    bool IsPaused() const { return m_paused; }
    // A poll is due in time: polling and not paused.
    bool IsPollScheduled() const { return m_poll.isActive(); }
    // The thread the last walk ran on (tests).
    std::thread::id LastPollThread() const { return m_lastPollThread; }
    // Walks the library now (F5); libraryChanged() follows even when nothing
    // changed, with LastWalkWasAsked() true. A walk already running is followed
    // by one more.
    void WalkNow();
    // True while the watches are being made or a walk runs.
    bool IsBusy() const { return m_walking; }
    // The walk the last libraryChanged() came from, once; empty afterwards.
    CSharedLibraryWalk::Recording TakeWalk() { return std::move(m_walk); }
    // Whether that walk was asked for by WalkNow().
    bool LastWalkWasAsked() const { return m_lastWalkAsked; }

signals:
    void libraryChanged();

private:
    struct WalkResult {
        CSharedLibraryWalk::Recording walk;
        bool watchesExhausted = false;
        // Categories were still being made as the walks ended: walk once more.
        bool unsettled = false;
    };
    void StartPolling();
    void ReadEvents();
    void StopWalk();
    void CloseInotify();
    void Check();
    void StartWalk(bool startWithListing);
    // Worker side: watches every category of the listing, and drops the watches
    // of categories gone; the number of watches added, -1 when they ran out.
    int SyncWatches(int fd, const std::unordered_set<std::string_view>& wanted);
    // Worker side: watches (fd >= 0) and walks until a walk made after every
    // category it found was watched; starts with a walk unless given a listing.
    WalkResult WatchAndWalk(int fd, const std::string& root,
                            std::shared_ptr<const std::vector<std::string>> listing);
    void TakeResult(WalkResult result, bool asked);

    int m_inotify = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Filled by the worker, pruned by the window's thread as the kernel drops watches.
    std::mutex m_watchMutex;
    std::unordered_map<std::string, int> m_watchByPath;
    std::unordered_map<int, std::string> m_pathByWatch;
    QTimer m_settle;
    QTimer m_poll;
    std::string m_root;
    // Shared with the worker, which watches its categories; never changed in place.
    std::shared_ptr<const std::vector<std::string>> m_listing;
    bool m_alwaysPoll = false;
    bool m_polling = false;
    bool m_paused = false;
    std::thread m_walker;
    bool m_walking = false;
    // A change seen while a walk runs: one more walk follows it, never several.
    bool m_walkAgain = false;
    bool m_askedNext = false;
    bool m_lastWalkAsked = false;
    unsigned m_generation = 0;
    CSharedLibraryWalk::Recording m_walk;
    std::atomic<bool> m_stopWalk{false};
    std::thread::id m_lastPollThread;
};

}  // namespace orb
