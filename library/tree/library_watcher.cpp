// SPDX-License-Identifier: GPL-3.0-or-later
// Notices categories and discs of the library changed on disk by anyone.
#include "library/tree/library_watcher.h"

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
    QTreeWidgetItem* root = tree.RootItem();
    for (QTreeWidgetItem* at = tree.NextItemPreorder(root); at; at = tree.NextItemPreorder(at))
        paths.push_back(tree.GetItemPath(at, true));
    return paths;
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

void CLibraryWatcher::SetRoot(const std::string& root) {
    m_poll.stop();
    m_settle.stop();
    if (!m_watcher.directories().isEmpty()) m_watcher.removePaths(m_watcher.directories());
    m_root = root;
    m_listing = LibraryListing(root);
    if (root.empty()) return;
    if (IsNetworkFileSystem(root))
        m_poll.start();
    else
        WatchCategories();
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
    std::vector<std::string> listing = LibraryListing(m_root);
    if (listing == m_listing) return;
    m_listing = std::move(listing);
    // New categories are watched too; gone ones drop out of the watcher by themselves.
    if (!m_poll.isActive()) WatchCategories();
    emit libraryChanged();
}

}  // namespace orb
