// SPDX-License-Identifier: GPL-3.0-or-later
// Notices categories and discs of the library changed on disk by anyone.
#include "library/tree/library_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "library/store/library_store.h"
#include "library/tree/library_tree.h"
#include "platform/files.h"

namespace orb {

std::vector<std::string> LibraryListing(const std::string& root) {
    std::vector<std::string> paths;
    if (root.empty()) return paths;
    WalkLibrary(root, true, [&](const LibraryItem& item) {
        paths.push_back(item.hostPath);
        return true;
    });
    return paths;
}

std::vector<std::string> TreeListing(const CLibraryTree& tree) {
    std::vector<std::string> paths;
    // Linear where NextItemPreorder looks each item up among its siblings.
    for (QTreeWidgetItemIterator it(const_cast<CLibraryTree*>(&tree)); *it; ++it)
        if (*it != tree.RootItem()) paths.push_back(tree.GetItemPath(*it, true));
    return paths;
}

bool SameLibraryItems(std::vector<std::string> a, std::vector<std::string> b) {
    if (a.size() != b.size()) return false;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

CLibraryWatcher::CLibraryWatcher(QObject* parent) : QObject(parent) {
    // A copy or an unpack touches a directory many times: look once it settles.
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    m_poll.setInterval(kPollMs);
    connect(&m_settle, &QTimer::timeout, this, &CLibraryWatcher::Check);
    connect(&m_poll, &QTimer::timeout, this, &CLibraryWatcher::Check);
}

CLibraryWatcher::~CLibraryWatcher() {
    StopWalk();
    CloseInotify();
}

void CLibraryWatcher::StopWalk() {
    m_stopWalk = true;
    if (m_walker.joinable()) m_walker.join();
    // What the stopped walk still posts is dropped.
    ++m_generation;
    m_walking = false;
    m_walkAgain = false;
}

void CLibraryWatcher::CloseInotify() {
    // Closing the descriptor drops every watch at once. No worker uses it now:
    // every caller stopped the walk first.
    m_notifier.reset();
    if (m_inotify >= 0) ::close(m_inotify);
    m_inotify = -1;
    std::lock_guard<std::mutex> lock(m_watchMutex);
    m_watchByPath.clear();
    m_pathByWatch.clear();
}

void CLibraryWatcher::ReadEvents() {
    alignas(struct inotify_event) char buffer[64 * 1024];
    bool changed = false;
    for (;;) {
        const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
        if (got <= 0) break;  // drained (EAGAIN), or the descriptor failed
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(struct inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_IGNORED) {
                // The directory is gone and the kernel dropped its watch; the
                // number may come back for another directory.
                std::lock_guard<std::mutex> lock(m_watchMutex);
                if (auto it = m_pathByWatch.find(event->wd); it != m_pathByWatch.end()) {
                    m_watchByPath.erase(it->second);
                    m_pathByWatch.erase(it);
                }
                continue;
            }
            changed = true;
        }
    }
    if (changed) m_settle.start();
}

void CLibraryWatcher::SetRoot(const std::string& root) {
    // A walk of the old library still running reports nothing.
    StopWalk();
    m_poll.stop();
    m_polling = false;
    m_settle.stop();
    CloseInotify();
    m_root = root;
    m_walk = {};
    m_listing = std::make_shared<const std::vector<std::string>>(LibraryListing(root));
    if (root.empty()) return;
    if (m_alwaysPoll || IsNetworkFileSystem(root)) {
        StartPolling();
        return;
    }
    // inotify itself rather than QFileSystemWatcher, which looks each new path up
    // in a list of those it watches: 100,000 categories took it 50 s.
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0) {
        StartPolling();
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &CLibraryWatcher::ReadEvents);
    // The watches are made on the worker, which then walks again: what changed
    // before a category was watched shows in that walk, what changed after it
    // comes as an event.
    StartWalk(true);
}

void CLibraryWatcher::SetPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    if (!m_polling) return;
    if (paused) {
        m_poll.stop();
        return;
    }
    m_poll.start();
    StartWalk(false);
}

void CLibraryWatcher::WalkNow() {
    if (m_root.empty()) return;
    m_askedNext = true;
    StartWalk(false);
}

int CLibraryWatcher::SyncWatches(int fd, const std::unordered_set<std::string_view>& wanted) {
    std::vector<int> gone;
    {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        for (auto it = m_watchByPath.begin(); it != m_watchByPath.end();) {
            if (wanted.count(it->first)) {
                ++it;
                continue;
            }
            gone.push_back(it->second);
            m_pathByWatch.erase(it->second);
            it = m_watchByPath.erase(it);
        }
    }
    for (int wd : gone) ::inotify_rm_watch(fd, wd);
    constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB | IN_ONLYDIR;
    int added = 0;
    std::string dir;
    for (std::string_view wantedDir : wanted) {
        if (m_stopWalk) break;
        dir.assign(wantedDir);
        {
            std::lock_guard<std::mutex> lock(m_watchMutex);
            if (m_watchByPath.count(dir)) continue;
        }
        const int wd = ::inotify_add_watch(fd, dir.c_str(), kEvents);
        if (wd >= 0) {
            std::lock_guard<std::mutex> lock(m_watchMutex);
            m_watchByPath[dir] = wd;
            m_pathByWatch[wd] = dir;
            ++added;
        } else if (errno == ENOSPC || errno == ENOMEM) {
            // The user's watches are used up: a change in a category left unwatched
            // would go unseen, so the library is polled instead.
            return -1;
        }
        // Any other failure: the directory went away since the walk; the next
        // look at its parent finds that.
    }
    return added;
}

CLibraryWatcher::WalkResult CLibraryWatcher::WatchAndWalk(
    int fd, const std::string& root, std::shared_ptr<const std::vector<std::string>> listing) {
    // Categories made faster than they are watched: after a few rounds the
    // events they cause bring another look.
    constexpr int kMaxWalks = 5;
    WalkResult result;
    result.walk.complete = false;
    bool walked = false;
    for (int walks = 0;;) {
        if (fd >= 0 && (walked || listing)) {
            // Views of the paths of the last walk, or of the listing given.
            std::unordered_set<std::string_view> wanted{root};
            auto want = [&](const std::string& path) {
                if (!path.empty() && path.back() == '/') wanted.insert(path);
            };
            if (walked) {
                for (const LibraryItem& item : result.walk.items) want(item.hostPath);
            } else {
                for (const std::string& path : *listing) want(path);
            }
            const int added = SyncWatches(fd, wanted);
            if (added < 0) {
                result.watchesExhausted = true;
                break;
            }
            if (walked && added == 0) break;
        } else if (walked) {
            break;
        }
        listing.reset();
        if (m_stopWalk) break;
        if (walks == kMaxWalks) {
            result.unsettled = true;
            break;
        }
        result.walk = {};
        result.walk = RecordLibraryWalk(root, true, &m_stopWalk);
        walked = true;
        ++walks;
    }
    return result;
}

void CLibraryWatcher::StartPolling() {
    m_polling = true;
    if (!m_paused) m_poll.start();
}

void CLibraryWatcher::Check() {
    StartWalk(false);
}

void CLibraryWatcher::StartWalk(bool startWithListing) {
    if (m_walking) {
        m_walkAgain = true;
        return;
    }
    if (m_walker.joinable()) m_walker.join();
    m_walking = true;
    m_stopWalk = false;
    const bool asked = m_askedNext;
    m_askedNext = false;
    const unsigned generation = ++m_generation;
    const int fd = m_polling ? -1 : m_inotify;
    std::shared_ptr<const std::vector<std::string>> listing;
    if (startWithListing) listing = m_listing;
    m_walker = std::thread(
        [this, root = m_root, fd, asked, generation, listing = std::move(listing)]() mutable {
            WalkResult result = WatchAndWalk(fd, root, std::move(listing));
            const std::thread::id self = std::this_thread::get_id();
            // Queued to the watcher's thread. The destructor joins this thread first,
            // and events left for a destroyed object are dropped.
            QMetaObject::invokeMethod(
                this,
                [this, generation, self, asked, result = std::move(result)]() mutable {
                    if (generation != m_generation) return;
                    m_lastPollThread = self;
                    TakeResult(std::move(result), asked);
                },
                Qt::QueuedConnection);
        });
}

void CLibraryWatcher::TakeResult(WalkResult result, bool asked) {
    m_walker.join();
    m_walking = false;
    if (result.watchesExhausted) {
        CloseInotify();
        StartPolling();
        // The first poll compares with what the trees show.
        m_walkAgain = true;
        m_askedNext = m_askedNext || asked;
    } else if (result.walk.complete) {
        const std::vector<LibraryItem>& items = result.walk.items;
        const bool same = m_listing && m_listing->size() == items.size() &&
                          std::equal(items.begin(), items.end(), m_listing->begin(),
                                     [](const LibraryItem& item, const std::string& path) {
                                         return item.hostPath == path;
                                     });
        if (asked || !same) {
            if (!same) {
                // The old listing goes first: two of 100,000 paths are many megabytes.
                m_listing.reset();
                std::vector<std::string> listing;
                listing.reserve(items.size());
                for (const LibraryItem& item : items) listing.push_back(item.hostPath);
                m_listing = std::make_shared<const std::vector<std::string>>(std::move(listing));
            }
            m_walk = std::move(result.walk);
            m_lastWalkAsked = asked;
            emit libraryChanged();
        }
        if (result.unsettled) m_walkAgain = true;
    }
    if (m_walkAgain && !m_root.empty()) {
        m_walkAgain = false;
        StartWalk(false);
    }
}

}  // namespace orb
