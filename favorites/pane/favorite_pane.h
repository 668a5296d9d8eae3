// SPDX-License-Identifier: GPL-3.0-or-later
// CFavoritePane: the favourites page of the navigation bar. The favourites tree
// over a splitter bar and a read-only box with the selected software's remark; a
// context menu to add, edit, delete, rename and expand; double click opens the
// favourite's disc index at its file; a text file dropped on the remark box
// becomes the remark. Every change is written to favorite.dat at once.
#pragma once

#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "favorites/pane/favorite_rules.h"
#include "favorites/store/fav_drag.h"
#include "platform/file_stamp.h"

class QDialog;
class QFileSystemWatcher;
class QMenu;
class QPlainTextEdit;
class QTreeWidgetItem;

namespace orb {

class IOrbShell;
class CFavoriteTree;
class CFavoriteDropTarget;
class CPaneSplitter;

class CFavoritePane : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTreeId = 1000;
    static constexpr int kRemarkId = 1005;
    static constexpr int kSplitterId = 1009;

    // Loads the favourites of the library directory the settings name.
    explicit CFavoritePane(IOrbShell& shell, QWidget* parent = nullptr);
    // Loads the favourites of the given library directory (tests).
    CFavoritePane(IOrbShell& shell, const std::string& libraryPath, QWidget* parent = nullptr);

    CFavoriteTree* Tree() { return m_tree; }
    QPlainTextEdit* RemarkBox() const { return m_remark; }
    CPaneSplitter* Splitter() const { return m_splitter; }
    CFavoriteDropTarget* DropTarget() const { return m_dropTarget; }

    // Loads favorite.dat of a library directory (the settings dialog's move of the
    // library). The old library's file is written first when it has unsaved changes;
    // a damaged file is kept as favorite.dat.bak and the status bar says so.
    void LoadFavorites(const std::string& libraryPath);

    // The file list's "加入收藏夹": the add dialog for its one selected row.
    void AddFromFileList();
    // The add dialog for one row of the file list (name, directory, index); on
    // "加入收藏" the entry goes below the dialog's child categories.
    void AddEntry(const FavSoftDragData& entry);

    // The context menu for target (nullptr: empty space): actions in menu order,
    // each with its command id as data, enabled as the target allows.
    QMenu* CreateContextMenu(QTreeWidgetItem* target, QWidget* parent);
    void RunCommand(int id, QTreeWidgetItem* target);

    // Double click: opens the selected software's disc index at its file.
    void LocateSelected();
    // The end of an in-place rename; the tree shows the new name only on Accept.
    RenameCheck EndRename(QTreeWidgetItem* item, const QString& text);
    // A text file dropped on the remark box becomes the selected software's remark.
    RemarkFileStatus SetRemarkFromFile(const std::string& hostPath);

    // A disc or category of the library was renamed or moved (index paths, or
    // directory paths ending with '/'): entries follow it and the file is saved.
    void LibraryPathMoved(const std::string& from, const std::string& to);

    // Writes favorite.dat; a failure is shown to the user.
    bool SaveNow();

    // favorite.dat is watched (inotify, or a poll on a network file system where
    // inotify misses other machines): a change made outside reloads the tree.
    static constexpr int kSettleMs = 300;
    static constexpr int kPollMs = 3000;
    bool IsPollingFile() const { return m_polling; }
    bool IsPollScheduled() const { return m_poll.isActive(); }
    // Polls wherever the file lies (tests: a local folder behaves as a share); takes
    // effect at the next LoadFavorites.
    void SetAlwaysPoll(bool poll) { m_alwaysPoll = poll; }
    // No polls while the window is hidden or minimised; resuming polls at once.
    void SetPollPaused(bool paused);
    // Rereads favorite.dat when it is no longer the file last seen.
    void CheckFavoritesFile();

    // How the pane talks to the user; tests replace these.
    struct UiHooks {
        std::function<bool(QDialog& dialog)> runDialog;
        std::function<void(const QString& text, const QString& caption, QMessageBox::Icon icon)>
            message;
        std::function<bool(const QString& text)> confirm;
    };
    void SetUiHooks(UiHooks hooks) { m_ui = std::move(hooks); }
    // The steps of locating (open the index, select the directory and the entry);
    // by default the shell's document and views.
    void SetLocateSteps(LocateSteps steps) { m_locate = std::move(steps); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Init(const std::string& libraryPath);
    void ShowRemark(QTreeWidgetItem* item);
    void OnContextMenu(const QPoint& pos);
    void Message(const char* text, const char* caption = kFavCaptionNotice,
                 QMessageBox::Icon icon = QMessageBox::Critical);
    void Refuse(FavoriteStatus status);
    bool RunDialog(QDialog& dialog);
    void Changed();
    void AddCategory(QTreeWidgetItem* target);
    void AddSoftware(QTreeWidgetItem* target);
    void EditRemark(QTreeWidgetItem* item);
    void Delete(QTreeWidgetItem* item);
    QTreeWidgetItem* SelectedSoftware() const;
    void WatchFavoritesFile();

    IOrbShell& m_shell;
    CFavoriteTree* m_tree = nullptr;
    QPlainTextEdit* m_remark = nullptr;
    CPaneSplitter* m_splitter = nullptr;
    CFavoriteDropTarget* m_dropTarget = nullptr;
    bool m_initialised = false;
    UiHooks m_ui;
    LocateSteps m_locate;
    QFileSystemWatcher* m_fileWatcher = nullptr;
    QTimer m_settle;
    QTimer m_poll;
    bool m_polling = false;
    bool m_alwaysPoll = false;
    bool m_pollPaused = false;
    FileStamp m_fileStamp;
};

}  // namespace orb
