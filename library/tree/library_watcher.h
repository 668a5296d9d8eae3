// SPDX-License-Identifier: GPL-3.0-or-later
// Notices categories and discs of the library changed on disk by anyone.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

namespace orb {

class CLibraryTree;

// Every category and disc below the library root as host paths, in the order a
// filled library tree lists them (categories end with '/').
std::vector<std::string> LibraryListing(const std::string& root);
// The same for the items of a tree (its root left out).
std::vector<std::string> TreeListing(const CLibraryTree& tree);

// Watches the library root and its categories with inotify on a local file
// system; on a network file system, where inotify misses other machines' changes,
// lists the library every few seconds instead. Reports only changes of the
// listing: annotation or favourites saves in the library do not count.
class CLibraryWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 300;
    static constexpr int kPollMs = 3000;

    explicit CLibraryWatcher(QObject* parent = nullptr);
    // Starts watching another library (an empty root stops watching).
    void SetRoot(const std::string& root);
    bool IsPolling() const { return m_poll.isActive(); }

signals:
    void libraryChanged();

private:
    void WatchCategories();
    void Check();

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_poll;
    std::string m_root;
    std::vector<std::string> m_listing;
};

}  // namespace orb
