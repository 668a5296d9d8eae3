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
    m_stopWalk = true;
    if (m_walker.joinable()) m_walker.join();
    CloseInotify();
}

void CLibraryWatcher::CloseInotify() {
    // Closing the descriptor drops every watch at once.
    m_notifier.reset();
    if (m_inotify >= 0) ::close(m_inotify);
    m_inotify = -1;
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
    m_stopWalk = true;
    m_poll.stop();
    m_polling = false;
    m_settle.stop();
    CloseInotify();
    m_root = root;
    m_listing = LibraryListing(root);
    if (root.empty()) return;
    if (m_alwaysPoll || IsNetworkFileSystem(root)) {
        StartPolling();
    } else {
        WatchCategories();
    }
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
    StartPollWalk();
}

void CLibraryWatcher::WatchCategories() {
    // inotify itself rather than QFileSystemWatcher, which looks each new path up
    // in a list of those it watches: 100,000 categories took it 50 s.
    if (m_inotify < 0) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0) {
            StartPolling();
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &CLibraryWatcher::ReadEvents);
    }
    std::unordered_set<std::string> wanted{m_root};
    for (const std::string& path : m_listing)
        if (!path.empty() && path.back() == '/') wanted.insert(path);
    for (auto it = m_watchByPath.begin(); it != m_watchByPath.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_inotify, it->second);
        m_pathByWatch.erase(it->second);
        it = m_watchByPath.erase(it);
    }
    constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB | IN_ONLYDIR;
    for (const std::string& dir : wanted) {
        if (m_watchByPath.count(dir)) continue;
        const int wd = ::inotify_add_watch(m_inotify, dir.c_str(), kEvents);
        if (wd >= 0) {
            m_watchByPath[dir] = wd;
            m_pathByWatch[wd] = dir;
        } else if (errno == ENOSPC || errno == ENOMEM) {
            // The user's watches are used up: a change in a category left unwatched
            // would go unseen, so the library is polled instead.
            CloseInotify();
            StartPolling();
            return;
        }
        // Any other failure: the directory went away since the walk; the next
        // look at its parent finds that.
    }
}

void CLibraryWatcher::StartPolling() {
    m_polling = true;
    if (!m_paused) m_poll.start();
}

void CLibraryWatcher::Check() {
    if (m_polling) {
        StartPollWalk();
        return;
    }
    TakeListing(LibraryListing(m_root));
}

void CLibraryWatcher::StartPollWalk() {
    // A walk slower than the poll's interval: this tick is skipped.
    if (m_walking) return;
    if (m_walker.joinable()) m_walker.join();
    m_walking = true;
    m_stopWalk = false;
    const std::string root = m_root;
    m_walker = std::thread([this, root] {
        std::vector<std::string> listing;
        const bool whole = WalkLibrary(root, true, [&](const LibraryItem& item) {
            if (m_stopWalk) return false;
            listing.push_back(item.hostPath);
            return true;
        });
        const std::thread::id self = std::this_thread::get_id();
        // Queued to the watcher's thread. The destructor joins this thread first,
        // and events left for a destroyed object are dropped.
        QMetaObject::invokeMethod(
            this,
            [this, root, whole, self, listing = std::move(listing)]() mutable {
                m_walking = false;
                m_lastPollThread = self;
                if (whole && !m_stopWalk && root == m_root && m_polling)
                    TakeListing(std::move(listing));
            },
            Qt::QueuedConnection);
    });
}

void CLibraryWatcher::TakeListing(std::vector<std::string> listing) {
    if (listing == m_listing) return;
    m_listing = std::move(listing);
    // New categories are watched too; gone ones drop out of the watcher by themselves.
    if (!m_polling) WatchCategories();
    emit libraryChanged();
}

}  // namespace orb
