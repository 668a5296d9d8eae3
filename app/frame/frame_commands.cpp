// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's command table: every action with its text, prompt, icon and
// keys, and the menus and toolbar built from it.
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
#include "app/frame/main_frame.h"
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
       &CMainFrame::RefreshLibrary);
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

}  // namespace orb
