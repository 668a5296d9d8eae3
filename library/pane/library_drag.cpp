// SPDX-License-Identifier: GPL-3.0-or-later
// Library drag and drop: the in-process drag block, the move rules on tree items,
// the drop target and the pane's tree.
#include "library/pane/library_drag.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTreeWidgetItemIterator>
#include <cstring>

#include "ui/qt_geometry.h"
#include "views/drag_origin.h"

namespace orb {

namespace {

// The drag this process is running. A block is believed only when it arrives in
// the very data object this process handed to its own drag, so a block offered by
// another process (whose addresses mean nothing here) is never decoded.
const QMimeData* g_runningDrag = nullptr;

QByteArray EncodeBlock(const LibraryDragData& data) {
    QByteArray block(2 * sizeof(quint64), '\0');
    quint64 tree = reinterpret_cast<quintptr>(data.tree);
    quint64 item = reinterpret_cast<quintptr>(data.item);
    std::memcpy(block.data(), &tree, sizeof tree);
    std::memcpy(block.data() + sizeof tree, &item, sizeof item);
    return block;
}

// Labels the name editor shows and reports back to the tree.
class CLabelDelegate : public QStyledItemDelegate {
public:
    explicit CLabelDelegate(CPaneLibraryTree* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        QTreeWidgetItem* item = tree_->ItemFromIndex(index);
        QString text = editor->property("text").toString();
        // The handler renames on disk and then sets the item's label itself.
        if (item && tree_->onLabelEdited) tree_->onLabelEdited(item, text);
    }

private:
    CPaneLibraryTree* tree_;
};

}  // namespace

QMimeData* NewLibraryDragMime(const LibraryDragData& data) {
    auto* mime = new QMimeData;
    mime->setData(kLibraryDragFormat, EncodeBlock(data));
    MarkDragFromThisProcess(mime);
    g_runningDrag = mime;
    return mime;
}

void EndLibraryDrag(const QMimeData* mime) {
    if (g_runningDrag == mime) g_runningDrag = nullptr;
}

bool GetLibraryDragData(const QMimeData* mime, LibraryDragData& data) {
    if (!mime || mime != g_runningDrag || !IsDragFromThisProcess(mime)) return false;
    QByteArray block = mime->data(kLibraryDragFormat);
    if (block.size() != static_cast<int>(2 * sizeof(quint64))) return false;
    quint64 tree = 0, item = 0;
    std::memcpy(&tree, block.constData(), sizeof tree);
    std::memcpy(&item, block.constData() + sizeof tree, sizeof item);
    LibraryDragData out;
    out.tree = reinterpret_cast<CLibraryTree*>(static_cast<quintptr>(tree));
    out.item = reinterpret_cast<QTreeWidgetItem*>(static_cast<quintptr>(item));
    // The tree may have been rebuilt since the drag began.
    if (!out.tree || !TreeHoldsItem(*out.tree, out.item)) return false;
    data = out;
    return true;
}

bool TreeHoldsItem(const CLibraryTree& tree, const QTreeWidgetItem* item) {
    if (!item) return false;
    for (QTreeWidgetItemIterator it(const_cast<CLibraryTree*>(&tree)); *it; ++it)
        if (*it == item) return true;
    return false;
}

int CheckLibraryMove(const CLibraryTree& tree, QTreeWidgetItem* target, QTreeWidgetItem* dragged,
                     int& stringId) {
    LibraryMoveFacts facts;
    facts.targetIsDragged = target == dragged;
    facts.targetIsDisc = !tree.IsCategoryItem(target);
    for (QTreeWidgetItem* at = target ? target->parent() : nullptr; at; at = at->parent())
        if (at == dragged) facts.draggedIsAncestorOfTarget = true;
    facts.targetHasSameLabelChild =
        tree.FindChildItem(target, CLibraryTree::ItemLabel(dragged)) != nullptr;
    return CheckLibraryMove(facts, stringId);
}

LibraryFileResult MoveLibraryFiles(const CLibraryTree& tree, QTreeWidgetItem* target,
                                   QTreeWidgetItem* dragged) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string targetDir = tree.GetItemPath(target, false);
    LibraryFileResult result =
        tree.IsCategoryItem(dragged)
            ? MoveLibraryCategory(tree.GetItemPath(dragged, false), targetDir)
            : MoveLibraryDisc(tree.GetItemPath(dragged, true), targetDir);
    QGuiApplication::restoreOverrideCursor();
    return result;
}

QTreeWidgetItem* CopyItemSubtree(CLibraryTree& tree, QTreeWidgetItem* newParent,
                                 QTreeWidgetItem* item) {
    const std::string name = CLibraryTree::ItemFileName(item);
    QTreeWidgetItem* copy = tree.IsCategoryItem(item) ? tree.InsertCategoryItem(newParent, name)
                                                      : tree.InsertDiscItem(newParent, name);
    if (!copy) return nullptr;
    for (int i = 0, n = item->childCount(); i < n; ++i) CopyItemSubtree(tree, copy, item->child(i));
    return copy;
}

QPixmap LibraryMoveCursor() {
    // An arrow carrying a small folder: a move into another category.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 17);
    arrow.lineTo(5, 13);
    arrow.lineTo(8, 20);
    arrow.lineTo(11, 19);
    arrow.lineTo(8, 12);
    arrow.lineTo(13, 12);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(arrow);
    // The folder: tab and body in the library's folder yellow.
    p.setPen(QPen(QColor(120, 90, 20), 1));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(QRectF(15.5, 18.5, 6, 3));
    p.drawRect(QRectF(15.5, 20.5, 15, 10));
    // A right arrow on the folder: the item goes in.
    p.setPen(QPen(QColor(30, 80, 160), 2));
    p.drawLine(QPointF(18, 25.5), QPointF(27, 25.5));
    p.drawLine(QPointF(24, 22.5), QPointF(27, 25.5));
    p.drawLine(QPointF(24, 28.5), QPointF(27, 25.5));
    return pixmap;
}

// ---------------------------------------------------------------------------------
// CLibraryDropTarget

Qt::DropAction CLibraryDropTarget::DragOver(const QMimeData* mime, QPoint pos, int64_t nowMs) {
    LibraryDragData data;
    if (!GetLibraryDragData(mime, data) || data.tree != &tree_) return Qt::IgnoreAction;
    QTreeWidgetItem* target = tree_.itemAt(pos);
    if (!target) return Qt::IgnoreAction;
    int stringId = kMoveTextNone;
    Qt::DropAction effect = Qt::IgnoreAction;
    if (CheckLibraryMove(tree_, target, data.item, stringId)) {
        if (hover_.Over(target, !target->isExpanded(), static_cast<uint64_t>(nowMs)))
            target->setExpanded(true);
        effect = Qt::MoveAction;
    } else {
        hover_.Clear();
    }
    if (onStatus) onStatus(QString::fromUtf8(LibraryMoveText(stringId)));
    tree_.SetDropHighlight(target);
    const EdgeScroll scroll = EdgeScrollFor(ToUiRect(tree_.viewport()->rect()), ToUiPoint(pos));
    if (scroll.dy)
        tree_.verticalScrollBar()->triggerAction(scroll.dy > 0
                                                     ? QAbstractSlider::SliderSingleStepAdd
                                                     : QAbstractSlider::SliderSingleStepSub);
    if (scroll.dx)
        tree_.horizontalScrollBar()->triggerAction(scroll.dx > 0
                                                       ? QAbstractSlider::SliderSingleStepAdd
                                                       : QAbstractSlider::SliderSingleStepSub);
    return effect;
}

bool CLibraryDropTarget::Drop(const QMimeData* mime, QPoint pos) {
    LibraryDragData data;
    if (!GetLibraryDragData(mime, data) || data.tree != &tree_) return false;
    hover_.Clear();
    tree_.SetDropHighlight(nullptr);
    QTreeWidgetItem* target = tree_.itemAt(pos);
    int stringId = kMoveTextNone;
    // The last drag-over allowed this place; checked again because a wrong move of
    // a directory into itself must never reach the disk.
    if (!target || !CheckLibraryMove(tree_, target, data.item, stringId)) return false;
    LibraryFileResult result =
        moveItem ? moveItem(target, data.item) : MoveLibraryFiles(tree_, target, data.item);
    if (result.ok) {
        CopyItemSubtree(tree_, target, data.item);
        delete data.item;
        tree_.SortChildItems(target);
    } else if (onMoveFailed) {
        onMoveFailed(result);
    }
    return true;
}

void CLibraryDropTarget::Leave() {
    hover_.Clear();
    tree_.SetDropHighlight(nullptr);
}

// ---------------------------------------------------------------------------------
// CPaneLibraryTree

CPaneLibraryTree::CPaneLibraryTree(QWidget* parent) : CLibraryTree(parent), dropTarget_(*this) {
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false);
    // Edge scrolling follows the library's own rule.
    setAutoScroll(false);
    // The root item carries no expand button of its own.
    setRootIsDecorated(false);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setItemDelegate(new CLabelDelegate(this));
    dragTimer_.setInterval(100);
    connect(&dragTimer_, &QTimer::timeout, this, [this] {
        if (dragMime_) dropTarget_.DragOver(dragMime_, dragPos_, NowMs());
    });
}

int64_t CPaneLibraryTree::NowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void CPaneLibraryTree::SetDropHighlight(QTreeWidgetItem* item) {
    QPersistentModelIndex index(item ? indexFromItem(item) : QModelIndex());
    if (index == dropHighlight_) return;
    dropHighlight_ = index;
    viewport()->update();
}

QTreeWidgetItem* CPaneLibraryTree::DropHighlight() const {
    return dropHighlight_.isValid() ? itemFromIndex(dropHighlight_) : nullptr;
}

bool CPaneLibraryTree::EditLabel(QTreeWidgetItem* item) {
    if (!item || item == RootItem()) return false;
    return edit(indexFromItem(item), QAbstractItemView::AllEditTriggers, nullptr);
}

bool CPaneLibraryTree::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    QTreeWidgetItem* item = itemFromIndex(index);
    if (!item || item == RootItem()) return false;
    if (!(item->flags() & Qt::ItemIsEditable)) item->setFlags(item->flags() | Qt::ItemIsEditable);
    return QTreeWidget::edit(index, trigger, event);
}

void CPaneLibraryTree::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    if (dropHighlight_.isValid() && index == dropHighlight_) {
        QStyleOptionViewItem highlighted(option);
        highlighted.state |= QStyle::State_Selected;
        QTreeWidget::drawRow(painter, highlighted, index);
        return;
    }
    QTreeWidget::drawRow(painter, option, index);
}

void CPaneLibraryTree::mousePressEvent(QMouseEvent* event) {
    // A right click names the context menu's target without changing the
    // selection (and so without changing the disc the pane shows).
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    CLibraryTree::mousePressEvent(event);
}

void CPaneLibraryTree::startDrag(Qt::DropActions) {
    QTreeWidgetItem* item = currentItem();
    if (!item || item == RootItem()) return;
    if (onBeginDrag) onBeginDrag(item);
}

void CPaneLibraryTree::dragEnterEvent(QDragEnterEvent* event) {
    LibraryDragData data;
    // The first drag-over decides the effect; anything else is refused outright.
    if (GetLibraryDragData(event->mimeData(), data) && data.tree == this)
        event->accept();
    else
        event->ignore();
}

void CPaneLibraryTree::dragMoveEvent(QDragMoveEvent* event) {
    const QPoint pos = event->position().toPoint();
    Qt::DropAction effect = dropTarget_.DragOver(event->mimeData(), pos, NowMs());
    LibraryDragData data;
    if (GetLibraryDragData(event->mimeData(), data)) {
        dragMime_ = event->mimeData();
        dragPos_ = pos;
        if (!dragTimer_.isActive()) dragTimer_.start();
    }
    if (effect == Qt::MoveAction) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CPaneLibraryTree::dragLeaveEvent(QDragLeaveEvent* event) {
    DragEnded();
    dropTarget_.Leave();
    event->accept();
}

void CPaneLibraryTree::dropEvent(QDropEvent* event) {
    DragEnded();
    if (dropTarget_.Drop(event->mimeData(), event->position().toPoint())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else {
        dropTarget_.Leave();
        event->ignore();
    }
}

void CPaneLibraryTree::DragEnded() {
    dragTimer_.stop();
    dragMime_ = nullptr;
}

}  // namespace orb
