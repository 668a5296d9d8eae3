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
#include "library/tree/library_tree.h"
#include "library/tree/library_watcher.h"
#include "platform/drive_watcher.h"
#include "platform/drives.h"
#include "res/desktop/desktop_files.h"
#include "res/images/app_images.h"
#include "res/images/toolbar_icons.h"
#include "search/pane/search_pane.h"
#include "search/pane/search_rules.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "ui/image_list.h"
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
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowIcon(
        QIcon::fromTheme(QString::fromLatin1(kProgramIconName), MakeToolIcon(ToolIcon::AppIcon)));
    setAcceptDrops(true);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
    m_doc.SetMainWindow(this);

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

QAction* CMainFrame::AddAction(int id, const char* name, const QString& text, const QString& prompt,
                               const QString& tip, const QIcon& icon,
                               const QList<QKeySequence>& keys) {
    auto* action = new QAction(icon, text, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(id);
    action->setStatusTip(prompt);
    action->setToolTip(tip.isEmpty() ? prompt : tip);
    if (!keys.isEmpty()) action->setShortcuts(keys);
    m_actions.insert(id, action);
    addAction(action);
    return action;
}

void CMainFrame::CreateActions() {
    using K = QKeySequence;
    auto on = [this](QAction* a, auto fn) { connect(a, &QAction::triggered, this, fn); };
    on(AddAction(ID_FILE_NEW, "ID_FILE_NEW", QStringLiteral("新建(&N)"),
                 QStringLiteral("建立新文档"), QStringLiteral("新建"),
                 MakeToolIcon(ToolIcon::NewDisc), {K(Qt::CTRL | Qt::Key_N)}),
       [this] { ShowNewDiscDialog(); });
    on(AddAction(ID_FILE_NEW_FROM_FOLDER, "ID_FILE_NEW_FROM_FOLDER",
                 QStringLiteral("从文件夹新建光盘映象..."),
                 QStringLiteral("把一个文件夹当作光盘，建立它的光盘映象"),
                 QStringLiteral("从文件夹新建"), MakeToolIcon(ToolIcon::NewFromFolder)),
       &CMainFrame::OnNewFromFolder);
    on(AddAction(ID_FILE_NEW_FROM_IMAGE, "ID_FILE_NEW_FROM_IMAGE",
                 QStringLiteral("从映象文件新建光盘映象..."),
                 QStringLiteral("不用挂载，直接为一个光盘映象文件(ISO, UDF)建立光盘映象"),
                 QStringLiteral("从映象文件新建"), MakeToolIcon(ToolIcon::NewFromFolder)),
       &CMainFrame::OnNewFromImage);
    on(AddAction(ID_FILE_OPEN, "ID_FILE_OPEN", QStringLiteral("打开(&O)..."),
                 QStringLiteral("打开一个现有文档"), QStringLiteral("打开"),
                 MakeToolIcon(ToolIcon::Open), {K(Qt::CTRL | Qt::Key_O)}),
       &CMainFrame::OnFileOpen);
    on(AddAction(ID_FILE_SAVE, "ID_FILE_SAVE", QStringLiteral("保存"), QStringLiteral("保存注释"),
                 QString(), QIcon(), {K(Qt::CTRL | Qt::Key_S)}),
       [this] { m_doc.SaveModified(); });
    on(AddAction(ID_APP_EXIT, "ID_APP_EXIT", QStringLiteral("退出(&X)"),
                 QStringLiteral("退出应用程序；提示保存文档"), QStringLiteral("退出"),
                 MakeToolIcon(ToolIcon::Exit)),
       [this] { close(); });
    on(AddAction(ID_EDIT_UNDO, "ID_EDIT_UNDO", QStringLiteral("撤消(&U)"),
                 QStringLiteral("撤消最后一步操作"), QStringLiteral("撤消"), QIcon(),
                 {K(Qt::CTRL | Qt::Key_Z), K(Qt::ALT | Qt::Key_Backspace)}),
       [this] { EditCommand(ID_EDIT_UNDO); });
    on(AddAction(ID_EDIT_CUT, "ID_EDIT_CUT", QStringLiteral("剪切(&T)"),
                 QStringLiteral("剪切被选对象并将其置于剪贴板上"), QStringLiteral("剪切"),
                 MakeToolIcon(ToolIcon::Cut),
                 {K(Qt::CTRL | Qt::Key_X), K(Qt::SHIFT | Qt::Key_Delete)}),
       [this] { EditCommand(ID_EDIT_CUT); });
    on(AddAction(ID_EDIT_COPY, "ID_EDIT_COPY", QStringLiteral("复制(&C)"),
                 QStringLiteral("复制被选对象并将其置于剪贴板上"), QStringLiteral("复制"),
                 MakeToolIcon(ToolIcon::Copy),
                 {K(Qt::CTRL | Qt::Key_C), K(Qt::CTRL | Qt::Key_Insert)}),
       [this] { EditCommand(ID_EDIT_COPY); });
    on(AddAction(ID_EDIT_PASTE, "ID_EDIT_PASTE", QStringLiteral("粘贴(&P)"),
                 QStringLiteral("插入剪贴板内容"), QStringLiteral("粘贴"),
                 MakeToolIcon(ToolIcon::Paste),
                 {K(Qt::CTRL | Qt::Key_V), K(Qt::SHIFT | Qt::Key_Insert)}),
       [this] { EditCommand(ID_EDIT_PASTE); });
    for (QAction* a : {m_actions[ID_EDIT_UNDO], m_actions[ID_EDIT_CUT], m_actions[ID_EDIT_COPY],
                       m_actions[ID_EDIT_PASTE]})
        a->setShortcutContext(Qt::WindowShortcut);
    on(AddAction(ID_NEXT_PANE, "ID_NEXT_PANE", QStringLiteral("下一窗格"), QString(), QString(),
                 QIcon(), {K(Qt::Key_F6)}),
       [this] { CyclePane(1); });
    on(AddAction(ID_PREV_PANE, "ID_PREV_PANE", QStringLiteral("上一窗格"), QString(), QString(),
                 QIcon(), {K(Qt::SHIFT | Qt::Key_F6)}),
       [this] { CyclePane(-1); });
    on(AddAction(ID_SETTINGS, "ID_SETTINGS", QStringLiteral("系统配置"),
                 QStringLiteral("更改光盘库位置等系统配置参数"), QStringLiteral("系统配置"),
                 MakeToolIcon(ToolIcon::Settings)),
       &CMainFrame::OnSettings);
    on(AddAction(ID_SYNC_INDEX, "ID_SYNC_INDEX", QStringLiteral("同步打开的索引到光盘库"),
                 QStringLiteral("同步打开的索引到光盘库"), QStringLiteral("定位"),
                 MakeToolIcon(ToolIcon::Sync)),
       &CMainFrame::OnSyncIndex);
    on(AddAction(ID_VERIFY_DISC, "ID_VERIFY_DISC", QStringLiteral("校验光盘..."),
                 QStringLiteral("将驱动器中的光盘与打开的索引比较"), QString()),
       [this] { RunVerifyDialog(*this); });
    on(AddAction(ID_FIND_DUPLICATES, "ID_FIND_DUPLICATES", QStringLiteral("查找重复文件..."),
                 QStringLiteral("查找保存在多张光盘上的文件"), QString()),
       [this] { RunDupesDialog(*this); });
    on(AddAction(ID_DESKTOP_SHORTCUT, "ID_DESKTOP_SHORTCUT", QStringLiteral("创建桌面快捷方式"),
                 QString(), QString()),
       &CMainFrame::OnDesktopShortcut);
    auto* navbar =
        AddAction(ID_VIEW_NAVBAR, "ID_VIEW_NAVBAR", QStringLiteral("系统导航栏(&N)"),
                  QStringLiteral("显示或隐藏系统导航栏"), QStringLiteral("显隐系统导航栏"));
    navbar->setCheckable(true);
    connect(navbar, &QAction::triggered, this, [this] {
        m_navBar->setVisible(!m_navBar->isVisible());
        UpdateCommandStates();
    });
    auto* toolbar = AddAction(ID_VIEW_TOOLBAR, "ID_VIEW_TOOLBAR", QStringLiteral("工具栏(&T)"),
                              QStringLiteral("显示或隐藏工具栏"), QStringLiteral("显隐工具栏"));
    toolbar->setCheckable(true);
    connect(toolbar, &QAction::triggered, this, [this](bool on) { m_toolBar->setVisible(on); });
    auto* status = AddAction(ID_VIEW_STATUS_BAR, "ID_VIEW_STATUS_BAR", QStringLiteral("状态栏(&S)"),
                             QStringLiteral("显示或隐藏状态栏"), QStringLiteral("显隐状态栏"));
    status->setCheckable(true);
    connect(status, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });
    struct Page {
        int id;
        const char* name;
        const char* prompt;
        const char* tip;
        ToolIcon icon;
        int page;
        QKeyCombination key;
    };
    for (const Page& p : {Page{ID_VIEW_LIBRARY, "ID_VIEW_LIBRARY", "显示光盘库", "光盘库",
                               ToolIcon::Library, kPageLibrary, Qt::CTRL | Qt::Key_1},
                          Page{ID_VIEW_FAVORITES, "ID_VIEW_FAVORITES", "显示我的收藏", "收藏",
                               ToolIcon::Favorites, kPageFavorites, Qt::CTRL | Qt::Key_2},
                          Page{ID_VIEW_SEARCH, "ID_VIEW_SEARCH", "搜索软件", "搜索",
                               ToolIcon::Search, kPageSearch, Qt::CTRL | Qt::Key_3}}) {
        auto* a = AddAction(p.id, p.name, QString::fromUtf8(p.tip), QString::fromUtf8(p.prompt),
                            QString::fromUtf8(p.tip), MakeToolIcon(p.icon), {K(p.key)});
        a->setCheckable(true);
        const int page = p.page;
        connect(a, &QAction::triggered, this, [this, page] { SelectPage(page); });
        // A screen reader toggles the button instead of clicking it: checking a page
        // shows it too; the state is put right when the page is already shown.
        connect(a, &QAction::toggled, this, [this, page](bool on) {
            if (on && (m_navBar->isHidden() || m_panelBar->GetSelectedItem() != page))
                SelectPage(page);
        });
    }
    on(AddAction(ID_VIEW_REFRESH, "ID_VIEW_REFRESH", QStringLiteral("刷新光盘库(&R)"),
                 QStringLiteral("重新读取光盘库和搜索范围"), QStringLiteral("刷新"), QIcon(),
                 {K(Qt::Key_F5)}),
       [this] {
           if (m_libraryPane) m_libraryPane->RefreshLibrary();
           if (m_searchPane) m_searchPane->RefreshScope();
       });
    on(AddAction(ID_HELP_MANUAL, "ID_HELP_MANUAL", QStringLiteral("使用手册(&C)"),
                 QStringLiteral("使用手册"), QStringLiteral("使用手册"),
                 MakeToolIcon(ToolIcon::Manual)),
       &CMainFrame::OnHelpManual);
    on(AddAction(ID_FEEDBACK, "ID_FEEDBACK", QStringLiteral("建议反馈及捐助"),
                 QStringLiteral("建议反馈及捐助"), QStringLiteral("反馈")),
       &CMainFrame::OnFeedback);
    on(AddAction(ID_APP_ABOUT, "ID_APP_ABOUT", QStringLiteral("关于 Kelvane光盘助手(&A)"),
                 QStringLiteral("显示程序信息，版本号和版权"), QStringLiteral("关于"),
                 MakeToolIcon(ToolIcon::About)),
       [this] {
           CAboutDlg dlg(this);
           dlg.exec();
       });
}

void CMainFrame::CreateMenus() {
    m_fileMenu = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    m_fileMenu->addAction(m_actions[ID_FILE_NEW]);
    m_fileMenu->addAction(m_actions[ID_FILE_NEW_FROM_FOLDER]);
    m_fileMenu->addAction(m_actions[ID_FILE_NEW_FROM_IMAGE]);
    m_fileMenu->addAction(m_actions[ID_FILE_OPEN]);
    m_fileMenu->addSeparator();
    m_recentPlaceholder = m_fileMenu->addAction(QStringLiteral("最近文件"));
    m_recentPlaceholder->setEnabled(false);
    m_recentSeparator = m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_actions[ID_APP_EXIT]);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
    edit->addAction(m_actions[ID_EDIT_UNDO]);
    edit->addSeparator();
    edit->addAction(m_actions[ID_EDIT_CUT]);
    edit->addAction(m_actions[ID_EDIT_COPY]);
    edit->addAction(m_actions[ID_EDIT_PASTE]);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(m_actions[ID_SETTINGS]);
    tools->addAction(m_actions[ID_SYNC_INDEX]);
    tools->addSeparator();
    tools->addAction(m_actions[ID_VERIFY_DISC]);
    tools->addAction(m_actions[ID_FIND_DUPLICATES]);
    tools->addSeparator();
    tools->addAction(m_actions[ID_DESKTOP_SHORTCUT]);

    QMenu* view = menuBar()->addMenu(QStringLiteral("查看(&V)"));
    view->addAction(m_actions[ID_VIEW_NAVBAR]);
    view->addSeparator();
    view->addAction(m_actions[ID_VIEW_LIBRARY]);
    view->addAction(m_actions[ID_VIEW_FAVORITES]);
    view->addAction(m_actions[ID_VIEW_SEARCH]);
    view->addAction(m_actions[ID_VIEW_REFRESH]);
    view->addSeparator();
    view->addAction(m_actions[ID_VIEW_TOOLBAR]);
    view->addAction(m_actions[ID_VIEW_STATUS_BAR]);
    connect(view, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(m_actions[ID_HELP_MANUAL]);
    help->addAction(m_actions[ID_FEEDBACK]);
    help->addAction(m_actions[ID_APP_ABOUT]);
}

void CMainFrame::CreateToolBar() {
    m_toolBar = new QToolBar(QStringLiteral("工具条"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 16));
    for (int id : std::initializer_list<int>{
             ID_FILE_NEW, ID_FILE_NEW_FROM_FOLDER, ID_FILE_OPEN, 0, ID_EDIT_CUT, ID_EDIT_COPY,
             ID_EDIT_PASTE, 0, ID_VIEW_LIBRARY, ID_VIEW_FAVORITES, ID_VIEW_SEARCH, 0, ID_SYNC_INDEX,
             ID_SETTINGS, 0, ID_HELP_MANUAL, ID_APP_ABOUT, 0, ID_APP_EXIT}) {
        if (id == 0)
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(m_actions[id]);
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    connect(m_toolBar, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateCommandStates);
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
    connect(m_libraryWatcher, &CLibraryWatcher::libraryChanged, this, &CMainFrame::FollowLibrary);
    m_libraryWatcher->SetRoot(m_libraryPane->Tree()->GetLibraryRoot());
}

void CMainFrame::FollowLibrary() {
    CLibraryTree* tree = LibraryTree();
    if (!tree) return;
    const std::vector<std::string> onDisk = LibraryListing(tree->GetLibraryRoot());
    // The pane's own changes are in its tree already: keep its expansion then.
    if (TreeListing(*tree) != onDisk) m_libraryPane->RefreshLibrary();
    if (CLibraryTree* scope = SearchScopeTree(); scope && TreeListing(*scope) != onDisk)
        m_searchPane->RefreshScope();
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
        CLibraryTree* tree = LibraryTree();
        m_arrivedDrive = disc->root;
        std::string indexPath;
        QTreeWidgetItem* item =
            tree ? FindLibraryDisc(*tree, disc->storedLabel, disc->capacity, &indexPath) : nullptr;
        if (item) {
            if (IsInTray()) RestoreFromTray();
            SelectPage(kPageLibrary);
            tree->setCurrentItem(item);
            tree->scrollToItem(item);
            OpenDocumentFile(indexPath);
        } else if (IsInTray()) {
            if (showNewDiscTip) showNewDiscTip();
        } else if (askCatalogue && askCatalogue(QString::fromUtf8(kNotInLibraryQuestion))) {
            ShowNewDiscDialog();
        }
    }
    emit driveChangeHandled();
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
    if (m_libraryPane) m_libraryPane->SetLibraryDirectory(path);
    if (m_searchPane) m_searchPane->Scope()->RefillKeepingChecks(path);
    if (m_libraryWatcher && LibraryTree())
        m_libraryWatcher->SetRoot(LibraryTree()->GetLibraryRoot());
    if (m_favoritePane) m_favoritePane->LoadFavorites(path);
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
    if (path.empty() ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
        QMessageBox::critical(this, QStringLiteral("错误"), QString::fromUtf8(kHelpMissing));
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

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_inTray &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, &CMainFrame::MinimizeToTray);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    m_doc.SaveModified();
    WriteRecentFiles(m_recentFiles);
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
