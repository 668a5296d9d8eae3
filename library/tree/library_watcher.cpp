// SPDX-License-Identifier: GPL-3.0-or-later
// Notices categories and discs of the library changed on disk by anyone.
#include "library/tree/library_watcher.h"

#include <QTreeWidgetItemIterator>
#include <algorithm>

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
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
    connect(&m_settle, &QTimer::timeout, this, &CLibraryWatcher::Check);
    connect(&m_poll, &QTimer::timeout, this, &CLibraryWatcher::Check);
}

CLibraryWatcher::~CLibraryWatcher() {
    m_stopWalk = true;
    if (m_walker.joinable()) m_walker.join();
}

void CLibraryWatcher::SetRoot(const std::string& root) {
    // A walk of the old library still running reports nothing.
    m_stopWalk = true;
    m_poll.stop();
    m_polling = false;
    m_settle.stop();
    if (!m_watcher.directories().isEmpty()) m_watcher.removePaths(m_watcher.directories());
    m_root = root;
    m_listing = LibraryListing(root);
    if (root.empty()) return;
    if (m_alwaysPoll || IsNetworkFileSystem(root)) {
        m_polling = true;
        if (!m_paused) m_poll.start();
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
    QStringList wanted{QString::fromStdString(m_root)};
    for (const std::string& path : m_listing)
        if (!path.empty() && path.back() == '/') wanted << QString::fromStdString(path);
    const QStringList watched = m_watcher.directories();
    QStringList added;
    for (const QString& dir : wanted)
        if (!watched.contains(dir)) added << dir;
    if (!added.isEmpty()) m_watcher.addPaths(added);
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
