// SPDX-License-Identifier: GPL-3.0-or-later
// The library pane: tree, remark and cover tabs, library commands and drags.
#include "library/pane/library_pane.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QDrag>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QUrl>
#include <cerrno>
#include <cstring>

#include "index/doc/orb_doc.h"
#include "library/pane/remark_edit_dlg.h"
#include "library/store/library_store.h"
#include "library/tree/category_name.h"
#include "platform/error_text.h"
#include "platform/text.h"
#include "res/images/app_images.h"
#include "shell/app_settings.h"
#include "shell/orb_shell.h"
#include "ui/page_tab_ctrl.h"
#include "ui/pane_splitter.h"
#include "ui/qt_geometry.h"
#include "ui/teardown.h"
#include "ui/ui_font.h"
#include "views/cover_info_panel.h"

namespace orb {

namespace {

constexpr int kIdTabs = 1003;
constexpr int kIdCover = 1004;
constexpr int kIdRemark = 1005;
constexpr int kIdModify = 1006;
constexpr int kIdTree = 1007;
constexpr int kIdSplitter = 1009;

QString Host(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

QString RemarkToHost(const std::string& stored) {
    QString text = Host(StoredToHost(stored));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return text;
}

std::string RemarkToStored(const QString& text) {
    QString crlf = text;
    crlf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    crlf.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return HostToStored(crlf.toStdString());
}

CLibraryPane::CLibraryPane(IOrbShell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setFont(SongtiFont(12));
    tree_ = new CPaneLibraryTree(this);
    tree_->setObjectName(QString::number(kIdTree));
    tree_->setAccessibleName(QStringLiteral("光盘库"));
    splitter_ = new CPaneSplitter(this, kIdSplitter);
    splitter_->setObjectName(QString::number(kIdSplitter));
    tabs_ = new CPageTabCtrl(this);
    tabs_->setObjectName(QString::number(kIdTabs));
    tabs_->SetTabsAtBottom(true);
    remarkBox_ = new QPlainTextEdit;
    remarkBox_->setObjectName(QString::number(kIdRemark));
    remarkBox_->setAccessibleName(QStringLiteral("光盘注释"));
    remarkBox_->setReadOnly(true);
    remarkBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    cover_ = new CCoverInfoPanel(nullptr);
    cover_->setObjectName(QString::number(kIdCover));
    modifyButton_ = new QPushButton(QString::fromUtf8("修改"), tabs_);
    modifyButton_->setObjectName(QString::number(kIdModify));
    Initialise();
}

CLibraryPane::~CLibraryPane() {
    DisconnectChildrenFrom(this);
    // A label editor still open commits as it closes: nothing may reach the pane.
    tree_->onLabelEdited = nullptr;
    tree_->onBeginDrag = nullptr;
    tree_->DropTarget().onStatus = nullptr;
    tree_->DropTarget().onMoveFailed = nullptr;
    tree_->DropTarget().moveItem = nullptr;
    // The cover panel may hold on to the reader: let go of it first.
    cover_->ShowIndex(nullptr);
    reader_.Close();
}

void CLibraryPane::Initialise() {
    tabs_->AddPage(remarkBox_, QString::fromUtf8("注释"), -1);
    tabs_->AddPage(cover_, QString::fromUtf8("封面"), -1);
    tabs_->SetCurrentPage(0);
    modifyButton_->raise();
    // Tab goes top to bottom as drawn: the tree, the shown page, its tabs, 修改.
    setTabOrder(tree_, remarkBox_);
    setTabOrder(remarkBox_, cover_);
    setTabOrder(cover_, tabs_->TabBar());
    setTabOrder(tabs_->TabBar(), modifyButton_);
    tree_->SetImageList(AppImageList());

    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnSelectionChanged(current); });
    // A rebuilt tree has no selection, and Qt says nothing about the one it lost.
    connect(tree_->model(), &QAbstractItemModel::modelReset, this, [this] {
        reader_.Close();
        remarkBox_->clear();
        ShowCover();
    });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        if (item && !tree_->IsCategoryItem(item)) OpenLibraryDisc(item);
    });
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, &CLibraryPane::OnContextMenu);
    connect(modifyButton_, &QPushButton::clicked, this, &CLibraryPane::Modify);
    connect(tabs_, &CPageTabCtrl::currentPageChanged, this, [this] { PlaceModifyButton(); });
    tree_->onLabelEdited = [this](QTreeWidgetItem* item, const QString& text) {
        return RenameLibraryItem(item, text);
    };
    tree_->onBeginDrag = [this](QTreeWidgetItem* item) { BeginDrag(item); };
    tree_->DropTarget().onStatus = [this](const QString& text) { shell_.SetStatusMessage(text); };
    tree_->DropTarget().onMoveFailed = [this](const LibraryFileResult& r) { OnMoveFailed(r); };
    tree_->DropTarget().moveItem = [this](QTreeWidgetItem* target, QTreeWidgetItem* dragged) {
        return MoveDraggedItem(target, dragged);
    };

    tree_->FillLibrary(GetLibraryDirectory());
    // The panel rereads the reader on every paint: an update() shows a change.
    cover_->ShowIndex(&reader_);

    splitter_->BindPanes(tree_, tabs_, 100, 100, kSplitUpDown);
    connect(splitter_, &CPaneSplitter::moved, this, [this] { PlaceModifyButton(); });
    // Before the first layout the tree takes two thirds of the height.
    tree_->resize(200, 300);
    tabs_->resize(200, 150);
    initialised_ = 1;
    LayOut();
    tree_->setFocus();
}

CLibraryTree* CLibraryPane::Tree() {
    return tree_;
}

void CLibraryPane::SetLibraryDirectory(const std::string& hostPath) {
    tree_->FillLibrary(hostPath);
    StoreLibraryDirectory(hostPath);
}

// ---------------------------------------------------------------------------------
// Layout

void CLibraryPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void CLibraryPane::LayOut() {
    if (!initialised_) return;
    LibraryPaneLayout layout;
    if (!LayOutLibraryPane(width(), height(), tree_->height(), tabs_->height(), layout)) return;
    tree_->setGeometry(ToQRect(layout.tree));
    splitter_->setGeometry(ToQRect(layout.bar));
    tabs_->setGeometry(ToQRect(layout.tabs));
    PlaceModifyButton();
}

void CLibraryPane::PlaceModifyButton() {
    modifyButton_->setGeometry(
        ToQRect(ModifyButtonRect(ToUiRect(tabs_->rect()), ToUiRect(tabs_->DisplayRect()))));
    modifyButton_->raise();
}

// ---------------------------------------------------------------------------------
// Selection, reader, cover

bool CLibraryPane::OpenReader(const std::string& indexPath, OpenMode mode) {
    // Another window holding the disc leaves it readable here; a change then says
    // that it is open elsewhere. A library on read-only media or a share can still
    // be browsed; only changing it is refused.
    readOnly_ = false;
    if (reader_.OpenPreferWrite(indexPath, mode))
        readOnly_ = reader_.OpenElsewhere();
    else
        readOnly_ = reader_.Open(indexPath, OpenMode::ReadShareAll) != 0;
    UpdateModifyButton();
    return reader_.IsOpen() != 0;
}

bool CLibraryPane::IsReadOnly() const {
    return reader_.IsOpen() && readOnly_;
}

void CLibraryPane::UpdateModifyButton() {
    const bool readOnly = IsReadOnly();
    modifyButton_->setEnabled(!readOnly);
    modifyButton_->setToolTip(readOnly ? QString::fromUtf8(kReadOnlyTip) : QString());
}

void CLibraryPane::OnSelectionChanged(QTreeWidgetItem* current) {
    reader_.Close();
    if (!current) {
        ShowCover();
        return;
    }
    if (tree_->IsCategoryItem(current)) {
        remarkBox_->clear();
    } else {
        if (!OpenReader(tree_->GetItemPath(current, true), OpenMode::ReadWriteShareRead)) {
            Message(QMessageBox::Critical, QString::fromUtf8(kOpenFailed));
            return;
        }
        std::string remark;
        reader_.ReadRemark(remark);
        remarkBox_->setPlainText(RemarkToHost(remark));
    }
    ShowCover();
}

void CLibraryPane::ShowCover() {
    UpdateModifyButton();
    cover_->update();
}

// ---------------------------------------------------------------------------------
// Messages

QMessageBox::StandardButton CLibraryPane::Message(QMessageBox::Icon icon, const QString& text,
                                                  const QString& detail,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton) {
    if (messageHook_) return messageHook_(icon, text, detail, buttons);
    QMessageBox box(icon, QString::fromUtf8(kCaption), text, buttons, shell_.MainWindow());
    if (!detail.isEmpty()) box.setInformativeText(detail);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

// ---------------------------------------------------------------------------------
// Context menu and commands

QMenu* CLibraryPane::BuildContextMenu(QTreeWidgetItem* target, QWidget* parent) {
    if (!target) return nullptr;
    const LibraryMenuState state =
        LibraryMenuStateFor(target == tree_->RootItem(), !tree_->IsCategoryItem(target));
    auto* menu = new QMenu(parent);
    menu->setObjectName("cdlib_popup");
    auto add = [menu](int id, const char* text, bool enabled) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::number(id));
        action->setData(id);
        action->setEnabled(enabled);
    };
    add(kCmdAddCategory, "增加分类", state.addCategory);
    add(kCmdDeleteItem, "删除光盘(库)", state.deleteItem);
    add(kCmdRename, "重命名", state.rename);
    add(kCmdExplore, state.exploreIsOpen ? "打开" : "资源管理器", true);
    menu->addSeparator();
    add(kCmdRefresh, "刷新", true);
    return menu;
}

void CLibraryPane::OnContextMenu(const QPoint& pos) {
    QTreeWidgetItem* target = tree_->itemAt(pos);
    if (!target) target = tree_->currentItem();
    if (!target) return;
    std::unique_ptr<QMenu> menu(BuildContextMenu(target, this));
    tree_->SetDropHighlight(target);
    QAction* chosen = menu->exec(tree_->viewport()->mapToGlobal(pos));
    tree_->SetDropHighlight(nullptr);
    // The menu may have let events run: the target must still be there.
    if (chosen && TreeHoldsItem(*tree_, target)) RunCommand(chosen->data().toInt(), target);
}

void CLibraryPane::RunCommand(int command, QTreeWidgetItem* target) {
    if (!target) return;
    switch (command) {
        case kCmdAddCategory:
            if (tree_->IsCategoryItem(target)) CreateCategory(target);
            break;
        case kCmdDeleteItem:
            if (target != tree_->RootItem()) DeleteLibraryItem(target);
            break;
        case kCmdRename:
            tree_->EditLabel(target);
            break;
        case kCmdExplore:
            ExploreLibraryItem(target);
            break;
        case kCmdRefresh:
            if (refreshAll)
                refreshAll();
            else
                RefreshLibrary();
            break;
        default:
            break;
    }
}

QTreeWidgetItem* CLibraryPane::CreateCategory(QTreeWidgetItem* parent) {
    if (!parent || !tree_->IsCategoryItem(parent)) return nullptr;
    const std::string parentPath = tree_->GetItemPath(parent, false);
    // A directory on disk that the tree does not show yet must not be taken over.
    const std::string name = NewCategoryName([&](std::string_view candidate) {
        return tree_->FindChildItem(parent, candidate) != nullptr ||
               PathExists(parentPath + std::string(candidate));
    });
    const std::string dir = parentPath + name;
    if (::mkdir(dir.c_str(), 0777) != 0) {
        const int error = errno;
        Message(QMessageBox::Critical,
                QString::fromUtf8("无法创建分类“%1”：%2")
                    .arg(Host(dir), QString::fromStdString(ErrorText(error))));
        return nullptr;
    }
    QTreeWidgetItem* item = tree_->InsertCategoryItem(parent, name);
    parent->setExpanded(true);
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
    tree_->EditLabel(item);
    return item;
}

bool CLibraryPane::RenameLibraryItem(QTreeWidgetItem* item, const QString& newLabel) {
    if (!item || item == tree_->RootItem()) return false;
    const std::string label = newLabel.toStdString();
    const std::string oldLabel = CLibraryTree::ItemLabel(item);
    if (label.empty() || label == oldLabel) return false;
    // The name is checked before anything is closed or touched.
    if (std::string why = CheckNewItemName(label); !why.empty()) {
        Message(QMessageBox::Critical, Host(why));
        return false;
    }
    const std::string parentPath = tree_->GetItemPath(item->parent(), false);
    COrbDoc& doc = shell_.Document();
    if (tree_->IsCategoryItem(item)) {
        const std::string oldDir = parentPath + CLibraryTree::ItemFileName(item) + "/";
        const std::string newDir = parentPath + label + "/";
        // An index shown from inside the category is closed meanwhile, so its
        // annotations are written before its directory changes name. Inside is
        // judged by identity: the index may have been opened through a link.
        const std::string shown = doc.Index().IsOpen() ? doc.Index().GetFilePath() : std::string();
        std::string shownRest;
        const bool docClosed = !shown.empty() && IsBelowDirectory(shown, oldDir, &shownRest);
        if (docClosed) doc.CloseIndex(0);
        const std::string held = reader_.IsOpen() ? reader_.GetFilePath() : std::string();
        std::string heldRest;
        const bool readerClosed = !held.empty() && IsBelowDirectory(held, oldDir, &heldRest);
        if (readerClosed) reader_.Close();
        LibraryFileResult r = RenameLibraryCategory(oldDir, newDir);
        if (readerClosed) OpenReader(r.ok ? newDir + heldRest : held, OpenMode::ReadWriteShareAll);
        if (docClosed) doc.OpenIndex(r.ok ? newDir + shownRest : shown, 0);
        if (!r.ok) {
            Message(QMessageBox::Critical, Host(r.message));
            return false;
        }
        tree_->SetItemLabel(item, label);
        emit libraryPathMoved(oldDir, newDir);
        return true;
    }

    const std::string oldName = CLibraryTree::ItemFileName(item);
    const std::string extension = oldName.substr(DiscLabelOfFileName(oldName).size());
    const std::string oldIndex = parentPath + oldName;
    const std::string newIndex = parentPath + label + extension;
    // The document's file, not a name that merely looks alike (Data.orb, data.orb).
    const bool docClosed = doc.Index().IsOpen() && IsSameFile(oldIndex, doc.Index().GetFilePath());
    if (docClosed) doc.CloseIndex(0);
    const bool readerClosed = item == tree_->currentItem() && reader_.IsOpen();
    if (readerClosed) reader_.Close();

    LibraryFileResult r = RenameLibraryDisc(oldIndex, newIndex);
    // After a failure the index may still have moved when its companion could not
    // follow and could not be put back: reopen wherever it is now.
    const bool moved = r.ok || (r.partial && PathExists(newIndex) && !PathExists(oldIndex));
    const std::string nowAt = moved ? newIndex : oldIndex;
    if (readerClosed) OpenReader(nowAt, OpenMode::ReadWriteShareAll);
    if (docClosed) doc.OpenIndex(nowAt, 0);
    if (!r.ok) Message(QMessageBox::Critical, Host(r.message));
    if (!moved) return false;
    tree_->SetItemLabel(item, label);
    emit libraryPathMoved(oldIndex, newIndex);
    return true;
}

bool CLibraryPane::DeleteLibraryItem(QTreeWidgetItem* item) {
    if (!item || item == tree_->RootItem()) return false;
    const QString question =
        QString::fromUtf8("确定删除光盘(库)\"%1\"吗？").arg(Host(CLibraryTree::ItemLabel(item)));
    // Say what goes for good; a stray Enter keeps everything.
    size_t discs = 0, categories = 0;
    const bool category = tree_->IsCategoryItem(item);
    if (category)
        WalkLibrary(tree_->GetItemPath(item, false), true, [&](const LibraryItem& inside) {
            ++(inside.isCategory ? categories : discs);
            return true;
        });
    if (Message(QMessageBox::Question, question,
                QString::fromUtf8(DeleteConsequenceText(category, discs, categories)),
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) != QMessageBox::Ok)
        return false;

    LibraryFileResult r;
    bool readerClosed = false;
    std::string indexPath;
    if (tree_->IsCategoryItem(item)) {
        const std::string dir = tree_->GetItemPath(item, false);
        // An index shown from inside the category goes with it.
        COrbDoc& doc = shell_.Document();
        if (doc.Index().IsOpen() && IsBelowDirectory(doc.Index().GetFilePath(), dir))
            doc.CloseIndex(1);
        for (QTreeWidgetItem* at = tree_->currentItem(); at; at = at->parent())
            if (at == item && reader_.IsOpen()) {
                reader_.Close();
                readerClosed = true;
            }
        r = DeleteLibraryCategory(dir);
    } else {
        indexPath = tree_->GetItemPath(item, true);
        COrbDoc& doc = shell_.Document();
        if (doc.Index().IsOpen() && IsSameFile(indexPath, doc.Index().GetFilePath()))
            doc.CloseIndex(1);
        if (item == tree_->currentItem() && reader_.IsOpen()) {
            reader_.Close();
            readerClosed = true;
        }
        r = DeleteLibraryDisc(indexPath);
    }
    if (r.ok) {
        DeleteTreeItem(item);
        return true;
    }
    if (readerClosed && !indexPath.empty()) OpenReader(indexPath, OpenMode::ReadWriteShareAll);
    Message(QMessageBox::Critical, Host(r.message));
    // Part of it is gone: show what is left on disk.
    if (r.partial) tree_->FillLibrary(std::string());
    return false;
}

void CLibraryPane::OpenLibraryDisc(QTreeWidgetItem* item) {
    if (!item || tree_->IsCategoryItem(item)) return;
    shell_.OpenDocumentFile(tree_->GetItemPath(item, true));
}

void CLibraryPane::ExploreLibraryItem(QTreeWidgetItem* item) {
    if (!item) return;
    if (!tree_->IsCategoryItem(item)) {
        OpenLibraryDisc(item);
        return;
    }
    const std::string dir = tree_->GetItemPath(item, false);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Host(dir))))
        Message(QMessageBox::Critical, QString::fromUtf8("无法打开文件夹“%1”").arg(Host(dir)));
}

void CLibraryPane::RefreshLibrary() {
    tree_->FillLibrary(std::string());
}

void CLibraryPane::Modify() {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item || tree_->IsCategoryItem(item)) {
        Message(QMessageBox::Critical, QString::fromUtf8(kSelectDiscFirst));
        return;
    }
    if (!reader_.IsOpen()) {
        Message(QMessageBox::Critical, QString::fromUtf8(kNoFileOpen));
        return;
    }
    if (IsReadOnly()) {
        Message(QMessageBox::Critical, QString::fromUtf8(kReadOnlyTip));
        return;
    }
    if (tabs_->GetCurrentPage() == 0) {
        std::string stored;
        reader_.ReadRemark(stored);
        QString remark = RemarkToHost(stored);
        bool ok = false;
        if (editRemark) {
            ok = editRemark(remark);
        } else {
            CRemarkEditDlg dlg(shell_.MainWindow());
            dlg.SetRemark(remark);
            ok = dlg.exec() == QDialog::Accepted;
            remark = dlg.Remark();
        }
        if (!ok) return;
        if (!reader_.WriteRemark(RemarkToStored(remark))) {
            Message(QMessageBox::Critical, Host(reader_.LastError()));
            return;
        }
        remarkBox_->setPlainText(remark);
        ShowCover();
        return;
    }
    QString picture = choosePicture
                          ? choosePicture()
                          : QFileDialog::getOpenFileName(shell_.MainWindow(), QString(), QString(),
                                                         QString::fromUtf8(kPictureFilter));
    if (picture.isEmpty()) return;
    // A picture that does not decode leaves the cover as it was; the user hears why.
    if (!reader_.ReplaceCover(picture.toStdString())) {
        Message(QMessageBox::Critical, Host(reader_.LastError()));
        // The reader drops its picture on a failed decode: reread the index.
        const std::string path = reader_.GetFilePath();
        reader_.Close();
        OpenReader(path, OpenMode::ReadWriteShareRead);
    }
    ShowCover();
}

// ---------------------------------------------------------------------------------
// Drag and drop

void CLibraryPane::BeginDrag(QTreeWidgetItem* item) {
    if (!item || item == tree_->RootItem()) return;
    // The pane's own reader lets go for the drag; the document is closed only
    // when the drop moves what it shows (MoveDraggedItem).
    reader_.Close();
    ShowCover();

    auto* drag = new QDrag(tree_);
    QMimeData* mime = NewLibraryDragMime({tree_, item});
    drag->setMimeData(mime);
    drag->setDragCursor(LibraryMoveCursor(), Qt::MoveAction);
    Qt::DropAction result = drag->exec(Qt::MoveAction, Qt::MoveAction);
    EndLibraryDrag(mime);
    tree_->DragEnded();
    tree_->DropTarget().Leave();
    shell_.SetStatusMessage(QString());
    if (result == Qt::IgnoreAction && TreeHoldsItem(*tree_, item)) {
        // Show the dragged item once more.
        tree_->setCurrentItem(tree_->RootItem());
        tree_->setCurrentItem(item);
    }
}

LibraryFileResult CLibraryPane::MoveDraggedItem(QTreeWidgetItem* target, QTreeWidgetItem* dragged) {
    const bool category = tree_->IsCategoryItem(dragged);
    const std::string from = tree_->GetItemPath(dragged, !category);
    const std::string to = tree_->GetItemPath(target, false) + CLibraryTree::ItemFileName(dragged) +
                           (category ? "/" : "");
    // The document lets go of its index only when that index is being moved.
    COrbDoc& doc = shell_.Document();
    const std::string shown = doc.Index().IsOpen() ? doc.Index().GetFilePath() : std::string();
    const bool docClosed =
        !shown.empty() && (category ? IsBelowDirectory(shown, from) : IsSameFile(shown, from));
    if (docClosed) doc.CloseIndex(1);
    LibraryFileResult result = MoveLibraryFiles(*tree_, target, dragged);
    if (result.ok)
        emit libraryPathMoved(from, to);
    else if (docClosed && PathExists(shown))
        doc.OpenIndex(shown, 1);
    return result;
}

void CLibraryPane::OnMoveFailed(const LibraryFileResult& result) {
    QString detail = Host(result.message);
    if (result.partial) detail += QString::fromUtf8("\n移动只完成了一部分。");
    Message(QMessageBox::Warning, QString::fromUtf8(kMoveFailed), detail);
    tree_->FillLibrary(std::string());
}

void CLibraryPane::AddOpenIndexToLibrary(const std::function<bool(const QString&)>& askAdd,
                                         const std::function<bool(std::string&)>& pickLocation) {
    COrbDoc& doc = shell_.Document();
    CPaneLibraryTree* tree = tree_;
    if (!doc.Index().IsOpen()) return;
    const std::string oldPath = doc.Index().GetFilePath();
    if (tree->SelectItemByPath(StripExtension(oldPath))) {
        shell_.SelectPage(kPageLibrary);
        return;
    }
    if (!askAdd || !askAdd(QString::fromUtf8(kSyncQuestion))) return;
    std::string folder;
    if (!pickLocation || !pickLocation(folder)) return;
    if (folder.empty() || folder.back() != '/') folder += '/';

    doc.CloseIndex(0);
    const std::string target = folder + FileNameOf(oldPath);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        doc.OpenIndex(oldPath, 0);
        Message(QMessageBox::Critical, QString::fromUtf8(kSyncExists));
        return;
    }
    // The index moves with its annotations and never replaces a file that
    // appeared at the target meanwhile; a half-done move is said, not hidden.
    const LibraryFileResult moved = MoveLibraryDisc(oldPath, folder);
    if (!moved.ok) {
        doc.OpenIndex(moved.partial ? target : oldPath, 0);
        QString text = QString::fromUtf8(kSyncMoveFailed);
        if (!moved.message.empty()) text += '\n' + QString::fromStdString(moved.message);
        Message(QMessageBox::Critical, text);
        if (moved.partial) tree->FillLibrary(std::string());
        return;
    }

    emit libraryPathMoved(oldPath, target);
    shell_.SelectPage(kPageLibrary);
    if (QTreeWidgetItem* parent = tree->FindItemByPath(folder)) {
        QTreeWidgetItem* item = tree->InsertDiscItem(parent, FileNameOf(target));
        tree->SortChildItems(parent);
        tree->setCurrentItem(item);
        tree->scrollToItem(item);
    }
    doc.OpenIndex(target, 0);
}

}  // namespace orb
