// SPDX-License-Identifier: GPL-3.0-or-later
// CMainFrame: the program's main window. It lays out the toolbar, menus, status
// bar, the navigation bar with the library, favourites and search panes, and the
// three document views; handles the commands that belong to no view; watches the
// drives, auto-locates inserted discs, and sits in the tray when minimised.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/frame/frame_rules.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QMimeData;
class QSplitter;
class QSystemTrayIcon;
class QUrl;

namespace orb {

class CDriveWatcher;
class CFavoritePane;
class CLibraryPane;
class CLibraryLoader;
class CLibraryWatcher;
class CPanelBarCtrl;
class CImageList;
class CSearchPane;

// Command ids: the framework's standard values and the program's own from 32771.
enum CommandId {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_EXIT = 57665,
    ID_APP_ABOUT = 57664,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_CUT = 57635,
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_NAVBAR = 32771,
    ID_VIEW_LIBRARY = 32772,
    ID_VIEW_SEARCH = 32773,
    ID_VIEW_FAVORITES = 32775,
    ID_HELP_MANUAL = 32794,
    ID_DESKTOP_SHORTCUT = 32796,
    ID_SYNC_INDEX = 32797,
    ID_FEEDBACK = 32798,
    ID_SETTINGS = 32800,
    // Not in the original menus: cataloguing a folder instead of a disc.
    ID_FILE_NEW_FROM_FOLDER = 32801,
    // Library tools: verify the open disc, duplicates across discs.
    ID_VERIFY_DISC = 32802,
    ID_FIND_DUPLICATES = 32803,
    // Reads the library again into the library pane and the search scope (F5).
    ID_VIEW_REFRESH = 32804,
    // Cataloguing a disc image file.
    ID_FILE_NEW_FROM_IMAGE = 32805,
};

class CMainFrame : public QMainWindow, public IOrbShell {
    Q_OBJECT

public:
    static constexpr const char* kTrayTip = "Kelvane光盘助手3.0";
    static constexpr const char* kSlogan = "Kelvane软件：因为努力，所以美丽！";

    struct Options {
        // Start the drive watcher (tests drive changes by calling OnDriveChange).
        bool watchDrives = true;
        // How long building the window waits for the library's walk (negative:
        // until it is done). A library that takes longer is walked on in the
        // background and its trees filled when it is done.
        int libraryWaitMs = -1;
    };

    explicit CMainFrame(COrbDoc& doc, Options options);
    explicit CMainFrame(COrbDoc& doc) : CMainFrame(doc, Options{}) {}
    ~CMainFrame() override;

    // --- IOrbShell ---
    QWidget* MainWindow() override { return this; }
    COrbDoc& Document() override { return m_doc; }
    CCDDirView* DirView() override { return m_dirView; }
    COrbView* FileView() override { return m_fileView; }
    CRemarkView* RemarkView() override { return m_remarkView; }
    bool OpenDocumentFile(const std::string& hostPath) override;
    CLibraryTree* LibraryTree() override;
    CFavoriteTree* FavoriteTree() override;
    CLibraryTree* SearchScopeTree() override;
    void SelectPage(int page) override;
    void ShowNewDiscDialog(const std::string& folder = std::string()) override;
    void RestoreFromTray() override;
    bool IsInTray() const override;
    void SetStatusMessage(const QString& text) override;
    void AddFavoriteFromFileList() override;
    void SetFileListDragActive(bool active) override { m_fileListDragActive = active; }

    // Hides the window into the tray (a desktop without a tray: minimised).
    void MinimizeToTray();
    // A change of the drives: locate the shown disc; on an arrival, auto-locate.
    void OnDriveChange();
    // The three steps of a new library directory, in order: library pane, search
    // scope, favourites.
    void ChangeLibraryDirectory(const std::string& path);
    // The window's size, position, maximised state, splitters, navigation bar and
    // page as stored at the last close; what was never stored keeps its default.
    void RestoreWindowMemory(const WindowMemory& memory);
    WindowMemory CurrentWindowMemory() const;
    // A catalogued disc already in a drive at start-up is opened as if it had just
    // been inserted (the window stays in the tray when it started there).
    void LocateDiscAtStart(bool fileOnCommandLine);
    // True while the start-up walk of a large library runs in the background.
    bool IsLibraryLoading() const { return m_libraryLoading; }
    CLibraryWatcher* LibraryWatcher() const { return m_libraryWatcher; }

    QAction* Action(int id) const { return m_actions.value(id); }
    bool IsNewDiscDialogOpen() const { return m_newDiscDialogOpen; }
    QString DiscLocationText() const;
    QStringList RecentFiles() const { return m_recentFiles; }
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    CLibraryPane* LibraryPane() const { return m_libraryPane; }
    CFavoritePane* FavoritePane() const { return m_favoritePane; }
    CSearchPane* SearchPane() const { return m_searchPane; }
    CPanelBarCtrl* PanelBar() const { return m_panelBar; }
    QDockWidget* NavigationBar() const { return m_navBar; }

    // Questions the frame asks, replaceable by tests: true for Yes / OK.
    std::function<bool(const QString& text)> askCatalogue;
    std::function<bool(const QString& text)> askAddToLibrary;
    // Picks a category for ID_SYNC_INDEX; false when cancelled.
    std::function<bool(std::string& categoryPath)> pickLibraryLocation;
    // Shows the new-disc pop-up while the window is in the tray.
    std::function<void()> showNewDiscTip;
    // Hands a file or address to the desktop; false when no program took it.
    std::function<bool(const QUrl&)> openUrl;

    // A recent-file entry: tried on its own first, so an entry that no longer opens
    // leaves the shown index open; such an entry leaves the list.
    bool OpenRecentFile(const QString& path);

    // Commands (also reachable through their actions).
    void OnSyncIndex();
    void OnDesktopShortcut();
    void OnHelpManual();
    void OnFeedback();
    void OnSettings();
    void OnFileOpen();
    void OnNewFromFolder();
    void OnNewFromImage();

signals:
    // After each drive change was handled (tests wait for it).
    void driveChangeHandled();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAction* AddAction(int id, const char* name, const QString& text, const QString& prompt,
                       const QString& tip, const QIcon& icon = QIcon(),
                       const QList<QKeySequence>& keys = {});
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateNavigationBar();
    void CreateViews();
    void UpdateCommandStates();
    void UpdateRecentMenu();
    void OnTitleChanged(const QString& title);
    void EditCommand(int id);
    void CyclePane(int step);
    bool DropAcceptable(const QMimeData* data) const;
    void OpenManualPage(const char* page);
    // Fills again the library pane's tree and the search scope where they no
    // longer show what the library holds on disk.
    void FollowLibrary();
    // F5: walks the library on the watcher's worker, then fills both trees again.
    void RefreshLibrary();
    // Selects the disc's item in the library and opens its index; false when the
    // library does not hold it.
    bool OpenLibraryDisc(const DiscInDrive& disc);
    // The start-up walk is done: fills the trees and starts the watcher.
    void OnLibraryLoaded();
    // Shows the library's trees as loading (greyed, a word in the status bar) or not.
    void ShowLibraryLoading(bool loading);
    // Starts the walk of a library on the worker and waits a moment for it; true
    // when it was walked in that moment (walkOnce then holds it), false when the
    // panes start empty and the walk's end fills them.
    bool StartLibraryWalk(const std::string& root, CSharedLibraryWalk& walkOnce);
    // The library's and the favourites' polls of a share run only while the
    // window is seen.
    void UpdatePolling();

    COrbDoc& m_doc;
    Options m_options;
    CCDDirView* m_dirView = nullptr;
    COrbView* m_fileView = nullptr;
    CRemarkView* m_remarkView = nullptr;
    QSplitter* m_outerSplitter = nullptr;
    QSplitter* m_innerSplitter = nullptr;
    QDockWidget* m_navBar = nullptr;
    CPanelBarCtrl* m_panelBar = nullptr;
    std::unique_ptr<CImageList> m_panelImages;
    CLibraryPane* m_libraryPane = nullptr;
    CFavoritePane* m_favoritePane = nullptr;
    CSearchPane* m_searchPane = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_locationPane = nullptr;
    QLabel* m_sloganPane = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_recentSeparator = nullptr;
    QAction* m_recentPlaceholder = nullptr;
    std::vector<QAction*> m_recentActions;
    QStringList m_recentFiles;
    QHash<int, QAction*> m_actions;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_inTray = false;
    bool m_newDiscDialogOpen = false;
    bool m_fileListDragActive = false;
    std::unique_ptr<CDriveWatcher> m_watcher;
    CLibraryWatcher* m_libraryWatcher = nullptr;
    CLibraryLoader* m_libraryLoader = nullptr;
    bool m_libraryLoading = false;
    // A disc location asked for while the library was loading (its argument).
    std::optional<bool> m_locateWhenLoaded;
    // The drive of the last disc offered for cataloguing: the new disc dialog
    // starts with it chosen.
    std::string m_arrivedDrive;
    std::vector<DiscInDrive> m_discs;
};

}  // namespace orb
