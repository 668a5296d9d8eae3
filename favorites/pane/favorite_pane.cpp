// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites pane.
#include "favorites/pane/favorite_pane.h"

#include <QAction>
#include <QCursor>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <system_error>

#include "favorites/pane/favorite_dialogs.h"
#include "favorites/pane/favorite_drop_target.h"
#include "favorites/tree/favorite_tree.h"
#include "index/doc/orb_doc.h"
#include "platform/files.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "ui/pane_splitter.h"
#include "ui/qt_geometry.h"
#include "ui/ui_font.h"
#include "views/dir_view.h"
#include "views/orb_view.h"

namespace orb {

namespace {

QString Host(const std::string& stored) {
    return QString::fromStdString(StoredToHost(stored));
}
std::string Stored(const QString& host) {
    return HostToStored(host.toStdString());
}

// Ends an in-place rename through the pane's rules instead of writing the label.
class CRenameDelegate : public QStyledItemDelegate {
public:
    CRenameDelegate(CFavoritePane* pane, CFavoriteTree* tree)
        : QStyledItemDelegate(tree), m_pane(pane), m_tree(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* item = m_tree->itemFromIndex(index);
        if (!edit || !item) return;
        if (m_pane->EndRename(item, edit->text()) == RenameCheck::TooLong) {
            // Shown once the editor has closed: a message box taking the focus from
            // a live editor would end the edit a second time.
            QPointer<CFavoritePane> pane(m_pane);
            QTimer::singleShot(0, m_pane, [pane] {
                if (!pane) return;
                QMessageBox::critical(pane->window(), QString::fromUtf8(kFavCaptionError),
                                      QString::fromUtf8(kFavMsgNameTooLong));
            });
        }
    }

private:
    CFavoritePane* m_pane;
    CFavoriteTree* m_tree;
};

// The local files a drag carries.
QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

CFavoritePane::CFavoritePane(IOrbShell& shell, QWidget* parent)
    : CFavoritePane(shell, GetLibraryDirectory(), parent) {}

CFavoritePane::CFavoritePane(IOrbShell& shell, const std::string& libraryPath, QWidget* parent)
    : QWidget(parent), m_shell(shell) {
    Init(libraryPath);
}

void CFavoritePane::Init(const std::string& libraryPath) {
    setObjectName(QStringLiteral("CFavoritePane"));
    setFont(SongtiFont(12));

    m_tree = new CFavoriteTree(this);
    m_tree->setObjectName(QString::number(kTreeId));
    m_tree->setAccessibleName(QStringLiteral("常用软件"));
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_tree->setItemDelegate(new CRenameDelegate(this, m_tree));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_tree->viewport()->installEventFilter(this);

    m_splitter = new CPaneSplitter(this, kSplitterId);
    m_splitter->setObjectName(QString::number(kSplitterId));

    m_remark = new QPlainTextEdit(this);
    m_remark->setObjectName(QString::number(kRemarkId));
    m_remark->setAccessibleName(QStringLiteral("软件说明"));
    m_remark->setReadOnly(true);
    m_remark->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    // Heights before the first layout: the tree takes three quarters.
    m_tree->setGeometry(0, 0, 200, 300);
    m_splitter->setGeometry(0, 300, 200, kFavSplitterHeight);
    m_remark->setGeometry(0, 300 + kFavSplitterHeight, 200, 100);

    m_ui.runDialog = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    m_ui.message = [this](const QString& text, const QString& caption, QMessageBox::Icon icon) {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, m_shell.MainWindow());
        box.exec();
    };
    m_ui.confirm = [this](const QString& text) {
        return QMessageBox::question(m_shell.MainWindow(), QString::fromUtf8(kFavCaptionNotice),
                                     text, QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Ok;
    };
    m_locate.openIndex = [this](const std::string& path) { return m_shell.OpenDocumentFile(path); };
    m_locate.selectDirectory = [this](const std::string& locator) {
        CCDDirView* view = m_shell.DirView();
        return view && view->SelectDirectoryByPath(locator) != 0;
    };
    m_locate.selectItem = [this](const std::string& name) {
        if (COrbView* view = m_shell.FileView()) view->SelectItemByName(name);
    };

    m_dropTarget = new CFavoriteDropTarget(m_tree, this);
    connect(m_dropTarget, &CFavoriteDropTarget::changed, this, &CFavoritePane::Changed);
    connect(m_dropTarget, &CFavoriteDropTarget::refused, this, &CFavoritePane::Refuse);

    m_fileWatcher = new QFileSystemWatcher(this);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    m_poll.setInterval(kPollMs);
    connect(m_fileWatcher, &QFileSystemWatcher::fileChanged, this, [this] { m_settle.start(); });
    connect(m_fileWatcher, &QFileSystemWatcher::directoryChanged, this,
            [this] { m_settle.start(); });
    connect(&m_settle, &QTimer::timeout, this, &CFavoritePane::CheckFavoritesFile);
    connect(&m_poll, &QTimer::timeout, this, &CFavoritePane::CheckFavoritesFile);

    LoadFavorites(libraryPath);

    m_splitter->BindPanes(m_tree, m_remark, 100, 100, kSplitUpDown);
    m_remark->setAcceptDrops(true);
    m_remark->viewport()->setAcceptDrops(true);
    m_remark->viewport()->installEventFilter(this);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { ShowRemark(current); });
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, &CFavoritePane::OnContextMenu);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this, [this] { LocateSelected(); });
    m_initialised = true;
}

void CFavoritePane::LoadFavorites(const std::string& libraryPath) {
    m_tree->LoadFavorites(libraryPath);
    WatchFavoritesFile();
    const FavoriteStatus loaded = m_tree->LastStatus();
    if (loaded != FavoriteStatus::Damaged && loaded != FavoriteStatus::NotFavorites) return;
    // The next change rewrites the file from what could be read: keep the original
    // beside it so nothing the reader skipped is lost.
    std::error_code ec;
    const std::string file = m_tree->FavoritesFilePath();
    bool kept = false;
    if (std::filesystem::file_size(file, ec) > 0 && !ec)
        kept = std::filesystem::copy_file(file, file + ".bak",
                                          std::filesystem::copy_options::overwrite_existing, ec);
    QString text = QString::fromUtf8(FavoriteStatusText(loaded));
    if (kept) text += QStringLiteral(" (原文件已另存为 favorite.dat.bak)");
    m_shell.SetStatusMessage(text);
}

// ---------------------------------------------------------------------------------
// Talking to the user

void CFavoritePane::Message(const char* text, const char* caption, QMessageBox::Icon icon) {
    if (m_ui.message) m_ui.message(QString::fromUtf8(text), QString::fromUtf8(caption), icon);
}

void CFavoritePane::Refuse(FavoriteStatus status) {
    Message(FavoriteRefusalText(status));
}

bool CFavoritePane::RunDialog(QDialog& dialog) {
    return m_ui.runDialog && m_ui.runDialog(dialog);
}

bool CFavoritePane::SaveNow() {
    const std::string path = m_tree->FavoritesFilePath();
    if (path.empty()) return false;
    if (m_tree->SaveFavorites(path)) {
        m_tree->SetModified(false);
        return true;
    }
    // The tree stays modified, so the save at exit tries again.
    m_tree->SetModified(true);
    QString text = QString::fromUtf8(kFavMsgSaveFailed) + QLatin1Char('\n') +
                   QString::fromStdString(path) + QLatin1Char('\n');
    text += m_tree->LastSaveError().empty()
                ? QString::fromUtf8(FavoriteStatusText(m_tree->LastStatus()))
                : QString::fromStdString(m_tree->LastSaveError());
    if (m_ui.message)
        m_ui.message(text, QString::fromUtf8(kFavCaptionError), QMessageBox::Critical);
    return false;
}

void CFavoritePane::WatchFavoritesFile() {
    m_poll.stop();
    m_polling = false;
    m_settle.stop();
    const QStringList watched = m_fileWatcher->files() + m_fileWatcher->directories();
    if (!watched.isEmpty()) m_fileWatcher->removePaths(watched);
    const std::string file = m_tree->FavoritesFilePath();
    m_fileStamp = StampOfFile(file);
    if (file.empty()) return;
    if (m_alwaysPoll || IsNetworkFileSystem(m_tree->GetLibraryPath())) {
        m_polling = true;
        if (!m_pollPaused) m_poll.start();
        return;
    }
    // Saves replace the file by a rename, which ends a watch on the file itself:
    // the folder's watch sees the new one arrive.
    m_fileWatcher->addPath(QString::fromStdString(m_tree->GetLibraryPath()));
    if (m_fileStamp != FileStamp{}) m_fileWatcher->addPath(QString::fromStdString(file));
}

void CFavoritePane::SetPollPaused(bool paused) {
    if (paused == m_pollPaused) return;
    m_pollPaused = paused;
    if (!m_polling) return;
    if (paused) {
        m_poll.stop();
        return;
    }
    m_poll.start();
    CheckFavoritesFile();
}

void CFavoritePane::CheckFavoritesFile() {
    const std::string file = m_tree->FavoritesFilePath();
    if (file.empty()) return;
    const FileStamp now = StampOfFile(file);
    if (now == m_fileStamp) return;
    m_fileStamp = now;
    if (!m_polling && now != FileStamp{} &&
        !m_fileWatcher->files().contains(QString::fromStdString(file)))
        m_fileWatcher->addPath(QString::fromStdString(file));
    if (m_tree->ReloadFromFile()) ShowRemark(m_tree->currentItem());
}

void CFavoritePane::Changed() {
    if (m_tree->IsModified()) SaveNow();
}

// ---------------------------------------------------------------------------------
// Layout and remark box

void CFavoritePane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_initialised) return;
    FavoritePaneLayout layout;
    if (!LayoutFavoritePane(width(), height(), m_tree->height(), m_remark->height(), layout))
        return;
    m_tree->setGeometry(ToQRect(layout.tree));
    m_splitter->setGeometry(ToQRect(layout.bar));
    m_remark->setGeometry(ToQRect(layout.remark));
}

void CFavoritePane::ShowRemark(QTreeWidgetItem* item) {
    const FavoriteItem* record = CFavoriteTree::GetFavoriteItem(item);
    if (!record || record->IsCategory() || !record->software) {
        m_remark->clear();
        return;
    }
    m_remark->setPlainText(RemarkToEditor(Host(record->software->remark)));
}

QTreeWidgetItem* CFavoritePane::SelectedSoftware() const {
    QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->isSelected() || m_tree->IsCategory(item)) return nullptr;
    return item;
}

RemarkFileStatus CFavoritePane::SetRemarkFromFile(const std::string& hostPath) {
    QTreeWidgetItem* item = SelectedSoftware();
    std::string remark;
    const RemarkFileStatus status =
        item ? ReadRemarkFile(hostPath, remark) : RemarkFileStatus::CannotOpen;
    switch (status) {
        case RemarkFileStatus::NotText:
            Message(kFavMsgOnlyTxt);
            break;
        case RemarkFileStatus::CannotOpen:
            Message(kFavMsgOpenFileFailed);
            break;
        case RemarkFileStatus::Ok:
            if (m_tree->SetSoftwareRemarkStored(item, std::move(remark))) Changed();
            ShowRemark(item);
            break;
    }
    return status;
}

bool CFavoritePane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree->viewport() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        // A right click names the menu's target; it leaves the selection alone.
        return true;
    }
    if (watched != m_remark->viewport()) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* move = static_cast<QDragMoveEvent*>(event);
            const QMimeData* data = move->mimeData();
            // Reading the file leaves it where it is, so a copy is what is offered:
            // a move would invite the file manager to delete the original.
            if (data && data->urls().size() == 1 && LocalFiles(data).size() == 1 &&
                SelectedSoftware()) {
                move->setDropAction(Qt::CopyAction);
                move->accept();
            } else {
                move->ignore();
            }
            return true;
        }
        case QEvent::DragLeave:
            return true;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList files = LocalFiles(drop->mimeData());
            if (files.size() != 1 || drop->mimeData()->urls().size() != 1) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            if (QWidget* main = m_shell.MainWindow()) {
                main->raise();
                main->activateWindow();
            }
            // The file manager waits for the drop to end: read after it has.
            const std::string path = files.front().toStdString();
            QTimer::singleShot(0, this, [this, path] { SetRemarkFromFile(path); });
            return true;
        }
        default:
            return QWidget::eventFilter(watched, event);
    }
}

// ---------------------------------------------------------------------------------
// Context menu and its commands

QMenu* CFavoritePane::CreateContextMenu(QTreeWidgetItem* target, QWidget* parent) {
    const FavoriteTarget kind = !target                      ? FavoriteTarget::Root
                                : m_tree->IsCategory(target) ? FavoriteTarget::Category
                                                             : FavoriteTarget::Software;
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("favpopup"));
    for (const FavoriteMenuItem& entry : kFavoriteMenu) {
        if (entry.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromUtf8(entry.text));
        action->setData(entry.id);
        action->setObjectName(QString::number(entry.id));
        action->setEnabled(FavoriteMenuEnabled(entry.id, kind));
    }
    return menu;
}

void CFavoritePane::OnContextMenu(const QPoint& pos) {
    QTreeWidgetItem* target = m_tree->itemAt(pos);
    QMenu* menu = CreateContextMenu(target, this);
    // The target is marked while the menu is open, as the selection stays put.
    m_dropTarget->SetDropHighlight(target);
    QAction* chosen = menu->exec(m_tree->viewport()->mapToGlobal(pos));
    m_dropTarget->SetDropHighlight(nullptr);
    const int id = chosen ? chosen->data().toInt() : 0;
    delete menu;
    if (id) RunCommand(id, target);
}

void CFavoritePane::RunCommand(int id, QTreeWidgetItem* target) {
    const FavoriteTarget kind = !target                      ? FavoriteTarget::Root
                                : m_tree->IsCategory(target) ? FavoriteTarget::Category
                                                             : FavoriteTarget::Software;
    if (!FavoriteMenuEnabled(id, kind)) return;
    switch (id) {
        case ID_FAV_ADD_CATEGORY:
            AddCategory(target);
            break;
        case ID_FAV_ADD_SOFTWARE:
            AddSoftware(target);
            break;
        case ID_FAV_EDIT_REMARK:
            EditRemark(target);
            break;
        case ID_FAV_DELETE:
            Delete(target);
            break;
        case ID_FAV_RENAME:
            m_tree->scrollToItem(target);
            m_tree->editItem(target);
            break;
        case ID_FAV_EXPAND_ALL:
            m_tree->ExpandAll();
            break;
        default:
            break;
    }
}

void CFavoritePane::AddCategory(QTreeWidgetItem* target) {
    CCategoryDlg dialog(m_shell.MainWindow());
    dialog.SetRefusal([this](const QString& text) {
        if (m_ui.message)
            m_ui.message(text, QString::fromUtf8(kFavCaptionError), QMessageBox::Critical);
    });
    if (!RunDialog(dialog) || dialog.Text().isEmpty()) return;
    QTreeWidgetItem* added = m_tree->AddCategoryPath(dialog.Text(), target);
    if (!added) {
        // A text of nothing but "\" names no category: nothing to add, nothing to say.
        if (m_tree->LastStatus() != FavoriteStatus::NameEmpty) Refuse(m_tree->LastStatus());
        return;
    }
    if (target) target->setExpanded(true);
    m_tree->scrollToItem(added);
    Changed();
}

void CFavoritePane::AddSoftware(QTreeWidgetItem* target) {
    CAddFavoriteDlg dialog(m_shell.MainWindow());
    dialog.SetRefusal([this](const QString& text) {
        if (m_ui.message)
            m_ui.message(text, QString::fromUtf8(kFavCaptionError), QMessageBox::Critical);
    });
    dialog.SetParentCategory(m_tree->GetCategoryPath(target));
    if (!RunDialog(dialog)) return;
    QTreeWidgetItem* parent = target;
    if (!dialog.ChildCategory().isEmpty()) {
        if (QTreeWidgetItem* chain = m_tree->AddCategoryPath(dialog.ChildCategory(), target))
            parent = chain;
        else if (m_tree->LastStatus() != FavoriteStatus::NameEmpty)
            return Refuse(m_tree->LastStatus());
    }
    QTreeWidgetItem* added = nullptr;
    const bool ok =
        m_tree->AddSoftware(parent, dialog.Name(), dialog.Description(), nullptr, &added);
    if (!ok) Refuse(m_tree->LastStatus());
    if (added) {
        m_tree->setCurrentItem(added);
        m_tree->scrollToItem(added);
    }
    Changed();
}

void CFavoritePane::EditRemark(QTreeWidgetItem* item) {
    const FavoriteItem* record = CFavoriteTree::GetFavoriteItem(item);
    if (!record || !record->software) return;
    CEditRemarkDlg dialog(m_shell.MainWindow());
    dialog.SetSoftwareName(Host(record->name));
    dialog.SetRemark(Host(record->software->remark));
    if (!RunDialog(dialog)) return;
    if (m_tree->SetSoftwareRemark(item, dialog.Remark())) Changed();
    if (item == m_tree->currentItem()) ShowRemark(item);
}

void CFavoritePane::Delete(QTreeWidgetItem* item) {
    if (!item || !m_ui.confirm || !m_ui.confirm(QString::fromUtf8(kFavMsgConfirmDelete))) return;
    m_tree->DeleteFavorite(item);
    ShowRemark(m_tree->currentItem());
    Changed();
}

RenameCheck CFavoritePane::EndRename(QTreeWidgetItem* item, const QString& text) {
    const FavoriteItem* record = CFavoriteTree::GetFavoriteItem(item);
    if (!record) return RenameCheck::Unchanged;
    const RenameCheck check = CheckFavoriteRename(record->name, Stored(text));
    if (check == RenameCheck::Accept && m_tree->RenameFavorite(item, text)) Changed();
    return check;
}

// ---------------------------------------------------------------------------------
// Locating and adding from the file list

void CFavoritePane::LocateSelected() {
    QTreeWidgetItem* item = m_tree->currentItem();
    const FavoriteItem* record = CFavoriteTree::GetFavoriteItem(item);
    if (!record) return;
    if (record->IsCategory() || !record->software) {
        m_remark->clear();
        return;
    }
    const std::string pathInDisc = record->software->pathInDisc;
    if (pathInDisc.empty()) return;
    const std::string indexPath = m_tree->GetIndexPath(item);
    std::error_code error;
    if (!indexPath.empty() && !std::filesystem::exists(indexPath, error)) {
        Message(kFavMsgLocateFailed);
        return;
    }
    switch (LocateFavorite(indexPath, pathInDisc, m_locate)) {
        case LocateResult::Located:
            break;
        case LocateResult::IndexGone:
            // A stored path that leaves the library was never handed to the document,
            // which would have said so itself. The entry keeps its location: the
            // library may sit on a disk that is not mounted now.
            if (indexPath.empty()) Message(COrbDoc::kOpenFailed);
            break;
        case LocateResult::DirectoryMissing:
            Message(kFavMsgLocateFailed);
            break;
    }
}

void CFavoritePane::LibraryPathMoved(const std::string& from, const std::string& to) {
    if (m_tree->MoveDiscPaths(from, to) > 0) Changed();
}

void CFavoritePane::AddEntry(const FavSoftDragData& entry) {
    CAddFavoriteDlg dialog(m_shell.MainWindow());
    dialog.SetRefusal([this](const QString& text) {
        if (m_ui.message)
            m_ui.message(text, QString::fromUtf8(kFavCaptionError), QMessageBox::Critical);
    });
    dialog.SetName(Host(entry.name));
    dialog.SetChildCategory(Host(entry.dirInDisc));
    if (!RunDialog(dialog)) return;
    // The location names the row as listed, whatever name the user gave the entry.
    const FavoriteLocation location{entry.indexPath, entry.dirInDisc + entry.name};
    QTreeWidgetItem* added = nullptr;
    const FavoriteStatus status =
        AddLocatedSoftware(*m_tree, nullptr, dialog.ChildCategory(), dialog.Name(),
                           dialog.Description(), location, &added);
    if (status != FavoriteStatus::Ok) return Refuse(status);
    m_tree->setCurrentItem(added);
    m_tree->scrollToItem(added);
    Changed();
}

void CFavoritePane::AddFromFileList() {
    COrbView* view = m_shell.FileView();
    if (!view || view->SelectedCount() != 1) return;
    IndexEntry row;
    int32_t id = 0;
    if (!view->GetSelectedEntry(row, id)) return;
    FavSoftDragData entry;
    entry.indexPath = m_shell.Document().Index().GetFilePath();
    entry.dirInDisc = view->CurrentDirectoryStored();
    entry.name = std::string(row.Name());
    AddEntry(entry);
}

}  // namespace orb
