// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: layout, commands, drive monitoring, tray and dropped files.
#include "app/frame/main_frame.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <utility>

#include "app/dialogs/about_dlg.h"
#include "app/dialogs/folder_picker.h"
#include "app/dialogs/settings_dlg.h"
#include "app/tray_tip/tray_tip.h"
#include "audit/pane/dupes_dlg.h"
#include "audit/pane/verify_dlg.h"
#include "favorites/pane/favorite_pane.h"
#include "favorites/tree/favorite_tree.h"
#include "image/disc_image.h"
#include "index/doc/orb_doc.h"
#include "index/index_format.h"
#include "index/index_reader.h"
#include "library/newdisc/library_location_dlg.h"
#include "library/newdisc/new_disc_dlg.h"
#include "library/pane/library_files.h"
#include "library/pane/library_pane.h"
#include "library/store/library_store.h"
#include "library/tree/library_loader.h"
#include "library/tree/library_tree.h"
#include "library/tree/library_watcher.h"
#include "platform/drive_watcher.h"
#include "platform/drives.h"
#include "platform/error_text.h"
#include "res/desktop/desktop_files.h"
#include "res/images/app_images.h"
#include "res/images/toolbar_icons.h"
#include "search/pane/search_pane.h"
#include "search/pane/search_rules.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "ui/image_list.h"
#include "ui/pane_splitter.h"
#include "ui/panel_bar_ctrl.h"
#include "ui/teardown.h"
#include "views/dir_view.h"
#include "views/orb_view.h"
#include "views/remark_view.h"

namespace orb {

namespace {

const char* const kNotInLibraryQuestion =
    "新插入的光盘不在Kelvane光盘库的管理范围！需要制作该光盘的索引吗?";
const char* const kHelpMissing = "帮助文件没有找到";

QString AppTitle() {
    return QString::fromUtf8(COrbDoc::kAppTitle);
}

}  // namespace

CMainFrame::CMainFrame(COrbDoc& doc, Options options)
    : QMainWindow(nullptr), m_doc(doc), m_options(options) {
    // The library pane, the scope tree and the library watcher are filled from
    // one walk of the library, made on a worker. A library that is not walked in
    // a moment leaves the window to show at once, its trees filled when it is.
    CSharedLibraryWalk walkOnce;
    m_libraryLoader = new CLibraryLoader(this);
    connect(m_libraryLoader, &CLibraryLoader::loaded, this, &CMainFrame::OnLibraryLoaded);
    if (const std::string root = GetLibraryDirectory(); !root.empty())
        m_libraryLoading = !StartLibraryWalk(root, walkOnce);
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(kProgramIconName), MakeToolIcon(ToolIcon::AppIcon)));
    setAcceptDrops(true);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
    m_doc.SetMainWindow(this);
    m_doc.SetLibraryDirectoryProvider([] { return GetLibraryDirectory(); });

    CreateViews();
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateNavigationBar();

    askCatalogue = [this](const QString& text) {
        return QMessageBox::question(this, AppTitle(), text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    };
    askAddToLibrary = [this](const QString& text) {
        return QMessageBox::question(this, QStringLiteral("提示"), text,
                                     QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    pickLibraryLocation = [this](std::string& categoryPath) {
        CLibraryLocationDlg dlg(LibraryTree(), this);
        if (dlg.exec() != QDialog::Accepted) return false;
        categoryPath = dlg.SelectedPath();
        return !categoryPath.empty();
    };
    showNewDiscTip = [this] { ShowNewDiscTip(*this, this); };
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(QString::fromUtf8(kTrayTip));
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A click or a context click both bring the window back.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
                    reason == QSystemTrayIcon::DoubleClick)
                    RestoreFromTray();
            });

    connect(&m_doc, &COrbDoc::titleChanged, this, &CMainFrame::OnTitleChanged);
    connect(&m_doc, &COrbDoc::discLocationChanged, m_locationPane, &QLabel::setText);
    connect(&m_doc, &COrbDoc::pathOpened, this, [this](const QString& path) {
        m_recentFiles = AddRecentFile(m_recentFiles, path);
        UpdateRecentMenu();
    });
    connect(&m_doc, &COrbDoc::updateAllViews, this, &CMainFrame::UpdateCommandStates);
    OnTitleChanged(m_doc.Title());

    m_recentFiles = ReadRecentFiles();
    UpdateRecentMenu();
    UpdateCommandStates();
    resize(1000, 680);

    m_discs = DiscsInDrives(*Drives());
    if (m_options.watchDrives) {
        m_watcher = std::make_unique<CDriveWatcher>([this](DriveChange) {
            // The watcher runs on its own thread; the window handles the change.
            QMetaObject::invokeMethod(
                this, [this] { OnDriveChange(); }, Qt::QueuedConnection);
        });
        m_watcher->Start();
    }
}

CMainFrame::~CMainFrame() {
    if (m_watcher) m_watcher->Stop();
    if (m_tray) m_tray->hide();
    // Closing the window while it is torn down hides the bars, which would report
    // to actions already gone; the document lives on without its window.
    DisconnectChildrenFrom(this);
    QObject::disconnect(&m_doc, nullptr, this, nullptr);
    m_doc.SetMainWindow(nullptr);
}

// --- building the window -------------------------------------------------

void CMainFrame::CreateViews() {
    m_outerSplitter = new QSplitter(Qt::Horizontal, this);
    m_outerSplitter->setObjectName(QStringLiteral("outerSplitter"));
    m_dirView = new CCDDirView(m_doc, *this, m_outerSplitter);
    m_innerSplitter = new QSplitter(Qt::Vertical, m_outerSplitter);
    m_innerSplitter->setObjectName(QStringLiteral("innerSplitter"));
    m_fileView = new COrbView(m_doc, *this, m_innerSplitter);
    m_remarkView = new CRemarkView(m_doc, m_innerSplitter);
    m_outerSplitter->addWidget(m_dirView);
    m_outerSplitter->addWidget(m_innerSplitter);
    m_innerSplitter->addWidget(m_fileView);
    m_innerSplitter->addWidget(m_remarkView);
    m_outerSplitter->setStretchFactor(1, 1);
    m_innerSplitter->setStretchFactor(0, 1);
    m_outerSplitter->setSizes({150, 600});
    m_innerSplitter->setSizes({400, 100});
    setCentralWidget(m_outerSplitter);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    m_locationPane = new QLabel(QString::fromUtf8(COrbDoc::kDiscNotFound), bar);
    m_locationPane->setObjectName(QStringLiteral("59143"));
    m_locationPane->setMinimumWidth(
        m_locationPane->fontMetrics().horizontalAdvance(QString::fromUtf8(COrbDoc::kDiscNotFound)) +
        12);
    m_sloganPane = new QLabel(QString::fromUtf8(kSlogan), bar);
    m_sloganPane->setObjectName(QStringLiteral("59144"));
    bar->addPermanentWidget(m_locationPane);
    bar->addPermanentWidget(m_sloganPane);
    bar->showMessage(QStringLiteral("就绪"));
    connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& text) {
        if (text.isEmpty()) bar->showMessage(QStringLiteral("就绪"));
    });
}

void CMainFrame::CreateNavigationBar() {
    m_navBar = new QDockWidget(QStringLiteral("导航工具条"), this);
    m_navBar->setObjectName(QStringLiteral("navigationBar"));
    m_navBar->setAllowedAreas(Qt::LeftDockWidgetArea);
    m_navBar->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    m_panelBar = new CPanelBarCtrl(m_navBar);
    m_panelBar->setObjectName(QStringLiteral("panelBar"));
    m_panelImages = std::make_unique<CImageList>(16, 16);
    for (ToolIcon icon : {ToolIcon::Library, ToolIcon::Favorites, ToolIcon::Search})
        m_panelImages->Add(MakeToolIcon(icon).pixmap(16, 16));
    m_panelBar->SetImageList(m_panelImages.get());

    m_libraryPane = new CLibraryPane(*this, m_panelBar);
    m_favoritePane = new CFavoritePane(*this, m_panelBar);
    m_searchPane = new CSearchPane(*this, m_panelBar);
    m_libraryPane->refreshAll = [this] { RefreshLibrary(); };
    m_searchPane->refreshAll = [this] { RefreshLibrary(); };
    // Favourites and recent files follow a disc or category the library pane moves.
    connect(m_libraryPane, &CLibraryPane::libraryPathMoved, this,
            [this](const std::string& from, const std::string& to) {
                m_favoritePane->LibraryPathMoved(from, to);
                const QStringList moved = MoveRecentFiles(m_recentFiles, from, to);
                if (moved == m_recentFiles) return;
                m_recentFiles = moved;
                UpdateRecentMenu();
            });
    m_panelBar->AddItem({QStringLiteral("光盘库"), 0, m_libraryPane});
    m_panelBar->AddItem({QStringLiteral("常用软件"), 1, m_favoritePane});
    m_panelBar->AddItem({QStringLiteral("搜索"), 2, m_searchPane});
    m_panelBar->SelectItem(0);
    connect(m_panelBar, &CPanelBarCtrl::itemSelected, this, &CMainFrame::UpdateCommandStates);
    m_navBar->setWidget(m_panelBar);
    m_navBar->setMinimumWidth(180);
    addDockWidget(Qt::LeftDockWidgetArea, m_navBar);
    resizeDocks({m_navBar}, {250}, Qt::Horizontal);
    connect(m_navBar, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandStates);

    // Every disc is in the first search's scope; the user narrows it from there.
    if (QTreeWidgetItem* root = m_searchPane->Scope()->RootItem())
        m_searchPane->Scope()->SetItemCheck(root, kScopeChecked);
    m_libraryWatcher = new CLibraryWatcher(this);
    // Not shown yet: the polls wait for the window.
    UpdatePolling();
    connect(m_libraryWatcher, &CLibraryWatcher::libraryChanged, this, &CMainFrame::FollowLibrary);
    // Discs added, moved, renamed or deleted: the name index follows in the background.
    connect(m_libraryWatcher, &CLibraryWatcher::libraryChanged, m_searchPane,
            &CSearchPane::RefreshNameIndex);
    connect(m_libraryPane, &CLibraryPane::libraryPathMoved, m_searchPane,
            &CSearchPane::RefreshNameIndex);
    if (m_libraryLoading)
        ShowLibraryLoading(true);
    else
        m_libraryWatcher->SetRoot(m_libraryPane->Tree()->GetLibraryRoot());
}

bool CMainFrame::StartLibraryWalk(const std::string& root, CSharedLibraryWalk& walkOnce) {
    m_libraryLoader->Start(root);
    const bool done = m_libraryLoader->WaitFor(m_options.libraryWaitMs);
    // Not walked yet: the panes start from nothing and are filled when it is.
    walkOnce.Adopt(done ? m_libraryLoader->Take() : CSharedLibraryWalk::Recording{root, true, {}});
    return done;
}

void CMainFrame::ShowLibraryLoading(bool loading) {
    // Greyed, so nothing is made or moved in a tree about to be filled anew, and
    // no search (by button, Return or typing) starts on a scope still empty.
    LibraryTree()->setEnabled(!loading);
    m_searchPane->setEnabled(!loading);
    if (loading)
        statusBar()->showMessage(QStringLiteral("正在读取光盘库..."));
    else
        statusBar()->clearMessage();
}

void CMainFrame::OnLibraryLoaded() {
    if (!m_libraryLoading) return;
    m_libraryLoading = false;
    CSharedLibraryWalk walkOnce;
    walkOnce.Adopt(m_libraryLoader->Take());
    m_libraryPane->RefreshLibrary();
    // Ticked whole while it was empty, the scope stays ticked whole.
    CSearchScopeTree* scope = m_searchPane->Scope();
    if (CSearchScopeTree::CheckState(scope->RootItem()) == kScopeChecked) {
        scope->FillLibrary(LibraryTree()->GetLibraryRoot());
        scope->SetItemCheck(scope->RootItem(), kScopeChecked);
    } else {
        scope->RefillKeepingChecks(LibraryTree()->GetLibraryRoot());
    }
    m_libraryWatcher->SetRoot(LibraryTree()->GetLibraryRoot());
    ShowLibraryLoading(false);
    if (m_locateWhenLoaded) {
        const bool fileOnCommandLine = *m_locateWhenLoaded;
        m_locateWhenLoaded.reset();
        LocateDiscAtStart(fileOnCommandLine);
    }
}

void CMainFrame::FollowLibrary() {
    CLibraryTree* tree = LibraryTree();
    if (!tree) return;
    // The watcher walked the library on its worker: the trees fill from that walk.
    const bool asked = m_libraryWatcher->LastWalkWasAsked();
    CSharedLibraryWalk walkOnce;
    if (CSharedLibraryWalk::Recording walk = m_libraryWatcher->TakeWalk(); !walk.root.empty())
        walkOnce.Adopt(std::move(walk));
    const std::vector<std::string> onDisk = LibraryListing(tree->GetLibraryRoot());
    // The pane's own changes are in its tree already: keep its expansion then, and
    // an open menu or editor. F5 reads the library again whatever it holds.
    if (asked || !SameLibraryItems(TreeListing(*tree), onDisk)) m_libraryPane->RefreshLibrary();
    if (CLibraryTree* scope = SearchScopeTree();
        scope && (asked || !SameLibraryItems(TreeListing(*scope), onDisk)))
        m_searchPane->RefreshScope();
}

void CMainFrame::RefreshLibrary() {
    // The start-up walk fills the trees when it is done.
    if (m_libraryLoading) return;
    if (m_libraryWatcher && LibraryTree() && !LibraryTree()->GetLibraryRoot().empty()) {
        m_libraryWatcher->WalkNow();
        return;
    }
    if (m_libraryPane) m_libraryPane->RefreshLibrary();
    if (m_searchPane) m_searchPane->RefreshScope();
}

void CMainFrame::UpdateCommandStates() {
    const bool navVisible = m_navBar && !m_navBar->isHidden();
    const int page = m_panelBar ? m_panelBar->GetSelectedItem() : -1;
    m_actions[ID_VIEW_NAVBAR]->setChecked(navVisible);
    m_actions[ID_VIEW_LIBRARY]->setChecked(navVisible && page == kPageLibrary);
    m_actions[ID_VIEW_FAVORITES]->setChecked(navVisible && page == kPageFavorites);
    m_actions[ID_VIEW_SEARCH]->setChecked(navVisible && page == kPageSearch);
    m_actions[ID_VIEW_TOOLBAR]->setChecked(m_toolBar && !m_toolBar->isHidden());
    m_actions[ID_VIEW_STATUS_BAR]->setChecked(!statusBar()->isHidden());
    m_actions[ID_SYNC_INDEX]->setEnabled(m_doc.CanSyncIndex());
}

void CMainFrame::UpdateRecentMenu() {
    for (QAction* a : m_recentActions) {
        m_fileMenu->removeAction(a);
        a->deleteLater();
    }
    m_recentActions.clear();
    m_recentPlaceholder->setVisible(m_recentFiles.isEmpty());
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        const QString path = m_recentFiles[i];
        auto* a = new QAction(RecentDisplayName(i, path), this);
        a->setData(ID_FILE_MRU_FILE1 + i);
        a->setStatusTip(QStringLiteral("打开该文档"));
        connect(a, &QAction::triggered, this, [this, path] { OpenRecentFile(path); });
        m_fileMenu->insertAction(m_recentSeparator, a);
        m_recentActions.push_back(a);
    }
    WriteRecentFiles(m_recentFiles);
}

void CMainFrame::OnTitleChanged(const QString& title) {
    setWindowTitle(title + QStringLiteral(" - ") + AppTitle());
    UpdateCommandStates();
}

QString CMainFrame::DiscLocationText() const {
    return m_locationPane->text();
}

// --- IOrbShell --------------------------------------------------------------

bool CMainFrame::OpenDocumentFile(const std::string& hostPath) {
    m_doc.SaveModified();
    const bool ok = m_doc.OnOpenDocument(hostPath);
    UpdateCommandStates();
    return ok;
}

bool CMainFrame::OpenRecentFile(const QString& path) {
    CIndexReader probe;
    bool ok = probe.Open(path.toStdString(), OpenMode::ReadShareAll) != 0;
    probe.Close();
    if (ok)
        ok = OpenDocumentFile(path.toStdString());
    else
        QMessageBox::critical(this, QStringLiteral("提示"),
                              QString::fromUtf8(COrbDoc::kOpenFailed));
    if (!ok && m_recentFiles.removeAll(path) > 0) UpdateRecentMenu();
    return ok;
}

CLibraryTree* CMainFrame::LibraryTree() {
    return m_libraryPane ? m_libraryPane->Tree() : nullptr;
}
CFavoriteTree* CMainFrame::FavoriteTree() {
    return m_favoritePane ? m_favoritePane->Tree() : nullptr;
}
CLibraryTree* CMainFrame::SearchScopeTree() {
    return m_searchPane ? m_searchPane->ScopeTree() : nullptr;
}

void CMainFrame::SelectPage(int page) {
    m_navBar->show();
    m_panelBar->SelectItem(page);
    UpdateCommandStates();
}

void CMainFrame::ShowNewDiscDialog(const std::string& folder) {
    if (m_newDiscDialogOpen) return;
    if (folder.empty() && !CNewDiscDlg::CanRun(this)) return;
    m_newDiscDialogOpen = true;
    {
        CNewDiscDlg dlg(LibraryTree(), *this, this, folder);
        dlg.PreselectDrive(std::exchange(m_arrivedDrive, std::string()));
        dlg.exec();
    }
    m_newDiscDialogOpen = false;
}

void CMainFrame::OnNewFromFolder() {
    std::string folder;
    if (!CFolderPicker::Pick(this, QDir::homePath(), folder,
                             QStringLiteral("选择要建立光盘映象的文件夹")))
        return;
    ShowNewDiscDialog(folder);
}

void CMainFrame::OnNewFromImage() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("选择光盘映象文件"), QDir::homePath(),
        QStringLiteral("光盘映象文件 (*.iso *.img *.udf *.bin);;所有文件 (*)"));
    if (file.isEmpty()) return;
    const std::string path = file.toStdString();
    if (!AcceptsImageFile(path)) {
        QMessageBox::warning(this, QStringLiteral("提示"),
                             QStringLiteral("“%1”不是光盘映象文件(ISO 9660 或 UDF)。").arg(file));
        return;
    }
    ShowNewDiscDialog(path);
}

void CMainFrame::MinimizeToTray() {
    if (m_inTray) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Without a tray a hidden window could never be reached again.
        if (!isMinimized()) showMinimized();
        return;
    }
    m_inTray = true;
    hide();
    m_tray->show();
}

void CMainFrame::RestoreFromTray() {
    m_inTray = false;
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    m_tray->hide();
}

bool CMainFrame::IsInTray() const {
    return m_inTray || isMinimized() || isHidden();
}

void CMainFrame::SetStatusMessage(const QString& text) {
    if (text.isEmpty())
        statusBar()->showMessage(QStringLiteral("就绪"));
    else
        statusBar()->showMessage(text);
}

void CMainFrame::AddFavoriteFromFileList() {
    if (m_favoritePane) m_favoritePane->AddFromFileList();
}

// --- drives -----------------------------------------------------------------

void CMainFrame::OnDriveChange() {
    const std::vector<DiscInDrive> before = std::move(m_discs);
    m_discs = DiscsInDrives(*Drives());
    if (m_discs != before) m_doc.LocateDisc();
    if (const DiscInDrive* disc =
            DiscToExamine(before, m_discs, !m_doc.DiscDrive().empty(),
                          ReadSettingInt(kKeyAutoLocate, 1) != 0, m_newDiscDialogOpen)) {
        m_arrivedDrive = disc->root;
        if (CLibraryTree* tree = LibraryTree();
            tree && FindLibraryDisc(*tree, disc->storedLabel, disc->capacity)) {
            if (IsInTray()) RestoreFromTray();
            OpenLibraryDisc(*disc);
        } else if (IsInTray()) {
            if (showNewDiscTip) showNewDiscTip();
        } else if (askCatalogue && askCatalogue(QString::fromUtf8(kNotInLibraryQuestion))) {
            ShowNewDiscDialog();
        }
    }
    emit driveChangeHandled();
}

bool CMainFrame::OpenLibraryDisc(const DiscInDrive& disc) {
    CLibraryTree* tree = LibraryTree();
    std::string indexPath;
    QTreeWidgetItem* item =
        tree ? FindLibraryDisc(*tree, disc.storedLabel, disc.capacity, &indexPath) : nullptr;
    if (!item) return false;
    SelectPage(kPageLibrary);
    tree->setCurrentItem(item);
    tree->scrollToItem(item);
    OpenDocumentFile(indexPath);
    return true;
}

void CMainFrame::LocateDiscAtStart(bool fileOnCommandLine) {
    if (m_libraryLoading) {
        // The disc is looked for in the library's tree, once it is filled.
        m_locateWhenLoaded = fileOnCommandLine;
        return;
    }
    m_discs = DiscsInDrives(*Drives());
    m_doc.LocateDisc();
    if (const DiscInDrive* disc =
            DiscToLocateAtStart(m_discs, !m_doc.DiscDrive().empty(),
                                ReadSettingInt(kKeyAutoLocate, 1) != 0, fileOnCommandLine))
        OpenLibraryDisc(*disc);
}

// --- window memory ------------------------------------------------------------

void CMainFrame::RestoreWindowMemory(const WindowMemory& memory) {
    // Each part is checked by Qt; a damaged value leaves that part as built.
    if (!memory.geometry.isEmpty()) restoreGeometry(memory.geometry);
    if (!memory.docks.isEmpty()) restoreState(memory.docks);
    if (!memory.outerSplitter.isEmpty()) m_outerSplitter->restoreState(memory.outerSplitter);
    if (!memory.innerSplitter.isEmpty()) m_innerSplitter->restoreState(memory.innerSplitter);
    CPaneSplitter* bars[3] = {m_libraryPane->Splitter(), m_favoritePane->Splitter(),
                              m_searchPane->Splitter()};
    for (int i = 0; i < 3; ++i)
        if (bars[i] && memory.paneShares[i] > 0) bars[i]->SetFirstShare(memory.paneShares[i]);
    if (memory.page >= kPageLibrary && memory.page <= kPageSearch)
        m_panelBar->SelectItem(memory.page);
    UpdateCommandStates();
}

WindowMemory CMainFrame::CurrentWindowMemory() const {
    WindowMemory memory;
    memory.geometry = saveGeometry();
    memory.docks = saveState();
    memory.outerSplitter = m_outerSplitter->saveState();
    memory.innerSplitter = m_innerSplitter->saveState();
    const CPaneSplitter* bars[3] = {m_libraryPane->Splitter(), m_favoritePane->Splitter(),
                                    m_searchPane->Splitter()};
    for (int i = 0; i < 3; ++i) memory.paneShares[i] = bars[i] ? bars[i]->FirstShare() : -1;
    memory.page = m_panelBar->GetSelectedItem();
    memory.lastIndex = QString::fromStdString(m_doc.PathName());
    return memory;
}

// --- commands ---------------------------------------------------------------

void CMainFrame::OnFileOpen() {
    QString start;
    if (!m_doc.PathName().empty())
        start = QFileInfo(QString::fromStdString(m_doc.PathName())).absolutePath();
    else if (CLibraryTree* tree = LibraryTree())
        start = QString::fromStdString(tree->GetLibraryRoot());
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("打开"), start,
                                     QStringLiteral("Kelvane光盘索引 (*.orb *.ORB);;所有文件 (*)"));
    if (!path.isEmpty()) OpenDocumentFile(path.toStdString());
}

void CMainFrame::OnSettings() {
    CLibraryTree* tree = LibraryTree();
    const std::string current = tree ? tree->GetLibraryRoot() : GetLibraryDirectory();
    CSettingsDlg dlg(
        current, [this](const std::string& path) { ChangeLibraryDirectory(path); }, this);
    dlg.exec();
}

void CMainFrame::ChangeLibraryDirectory(const std::string& path) {
    // The start-up walk of the old library is of no use any more.
    if (m_libraryLoading) {
        m_libraryLoader->Cancel();
        m_libraryLoading = false;
        ShowLibraryLoading(false);
    }
    // The new library is walked on the worker, as at start-up: a large one greys
    // the trees until it is read rather than holding the window.
    CSharedLibraryWalk walkOnce;
    const bool loaded = path.empty() || StartLibraryWalk(path, walkOnce);
    if (m_libraryPane) m_libraryPane->SetLibraryDirectory(path);
    if (m_searchPane) {
        m_searchPane->Scope()->RefillKeepingChecks(path);
        m_searchPane->RefreshNameIndex();
    }
    if (m_favoritePane) m_favoritePane->LoadFavorites(path);
    if (!loaded) {
        // The old library's changes are no longer this window's concern.
        if (m_libraryWatcher) m_libraryWatcher->SetRoot(std::string());
        m_libraryLoading = true;
        ShowLibraryLoading(true);
        return;
    }
    if (m_libraryWatcher && LibraryTree())
        m_libraryWatcher->SetRoot(LibraryTree()->GetLibraryRoot());
}

void CMainFrame::OnSyncIndex() {
    if (m_libraryPane) m_libraryPane->AddOpenIndexToLibrary(askAddToLibrary, pickLibraryLocation);
    UpdateCommandStates();
}

void CMainFrame::OnDesktopShortcut() {
    WriteDesktopShortcut(
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString(),
        ExecutablePath());
}

void CMainFrame::OpenManualPage(const char* page) {
    const std::string path = FindManualPage(ExecutableDir(), page);
    if (path.empty())
        QMessageBox::critical(
            this, QStringLiteral("错误"),
            QString::fromUtf8(kHelpMissing) + QStringLiteral("：") + QString::fromUtf8(page));
    else if (!openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        // The manual is there; what is missing is a program that shows it.
        QMessageBox::critical(this, QStringLiteral("错误"),
                              QString::fromStdString(NoOpenerText(path)));
}

void CMainFrame::OnHelpManual() {
    OpenManualPage("index.html");
}

void CMainFrame::OnFeedback() {
    OpenManualPage("feedback.html");
}

namespace {

// The edit commands on any of Qt's text editors, which share these four slots.
template <class Editor>
bool EditText(QWidget* focus, int id) {
    auto* editor = qobject_cast<Editor*>(focus);
    if (!editor) return false;
    if (id == ID_EDIT_UNDO) editor->undo();
    if (id == ID_EDIT_CUT) editor->cut();
    if (id == ID_EDIT_COPY) editor->copy();
    if (id == ID_EDIT_PASTE) editor->paste();
    return true;
}

}  // namespace

void CMainFrame::EditCommand(int id) {
    QWidget* focus = QApplication::focusWidget();
    if (EditText<QLineEdit>(focus, id) || EditText<QTextEdit>(focus, id) ||
        EditText<QPlainTextEdit>(focus, id))
        return;
    // The file list copies its selected rows as files.
    if (id == ID_EDIT_COPY && m_fileView && focus &&
        (focus == m_fileView || m_fileView->isAncestorOf(focus)))
        m_fileView->OnEditCopy();
}

void CMainFrame::CyclePane(int step) {
    QWidget* views[] = {m_dirView, m_fileView, m_remarkView};
    QWidget* focus = QApplication::focusWidget();
    int current = -1;
    for (int i = 0; i < 3; ++i)
        if (focus && (focus == views[i] || views[i]->isAncestorOf(focus))) current = i;
    const int next = current < 0 ? 0 : (current + step + 3) % 3;
    views[next]->setFocus(Qt::OtherFocusReason);
}

// --- window events ----------------------------------------------------------

void CMainFrame::UpdatePolling() {
    const bool hidden = IsInTray();
    if (m_libraryWatcher) m_libraryWatcher->SetPaused(hidden);
    if (m_favoritePane) m_favoritePane->SetPollPaused(hidden);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    UpdatePolling();
}

void CMainFrame::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    UpdatePolling();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) UpdatePolling();
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_inTray &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, &CMainFrame::MinimizeToTray);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    m_doc.SaveModified();
    WriteRecentFiles(m_recentFiles);
    WriteWindowMemory(CurrentWindowMemory());
    if (m_tray) m_tray->hide();
    event->accept();
    QMainWindow::closeEvent(event);
}

bool CMainFrame::DropAcceptable(const QMimeData* data) const {
    if (m_fileListDragActive || !data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (DropAcceptable(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
    if (DropAcceptable(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    if (!DropAcceptable(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    activateWindow();
    // Opened after the drop returns, so the source is not kept waiting by a message.
    QTimer::singleShot(0, this, [this, files] {
        for (const QString& f : files) {
            // A disc image file is offered for cataloguing; anything else is opened.
            const std::string path = f.toStdString();
            IndexHeader header;
            if (!ProbeIndexHeader(path, header) && AcceptsImageFile(path))
                ShowNewDiscDialog(path);
            else
                OpenDocumentFile(path);
        }
    });
}

}  // namespace orb
