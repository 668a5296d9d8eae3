// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites tree's drop target and item drag.
#include "favorites/pane/favorite_drop_target.h"

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPalette>
#include <QScrollBar>
#include <QTreeWidgetItem>
#include <atomic>
#include <vector>

#include "favorites/tree/favorite_tree.h"
#include "platform/le_bytes.h"
#include "platform/text.h"
#include "views/drag_origin.h"

namespace orb {

namespace {

constexpr int kScrollRepeatMs = 50;

QString Host(const std::string& stored) {
    return QString::fromStdString(StoredToHost(stored));
}
std::string Stored(const QString& host) {
    return HostToStored(host.toStdString());
}

bool InSubtree(const QTreeWidgetItem* item, const QTreeWidgetItem* root) {
    for (; item; item = item->parent())
        if (item == root) return true;
    return false;
}

uint32_t NextDragSerial() {
    static std::atomic<uint32_t> serial{0};
    uint32_t s = ++serial;
    return s ? s : ++serial;  // 0 means "no drag"
}

}  // namespace

bool CanDropFavoriteItem(const CFavoriteTree& tree, const QTreeWidgetItem* dragged,
                         const QTreeWidgetItem* target) {
    if (!dragged) return false;
    if (!target) return dragged->parent() != nullptr;
    return tree.IsCategory(const_cast<QTreeWidgetItem*>(target)) && target != dragged->parent() &&
           !InSubtree(target, dragged);
}

FavoriteStatus AddLocatedSoftware(CFavoriteTree& tree, QTreeWidgetItem* parent,
                                  const QString& categoryText, const QString& name,
                                  const QString& remark, const FavoriteLocation& location,
                                  QTreeWidgetItem** added) {
    if (added) *added = nullptr;
    if (FavoriteStatus st = CheckFavoriteName(Stored(name)); st != FavoriteStatus::Ok) return st;
    std::vector<std::string> names;
    const FavoriteStatus split = SplitCategoryPath(Stored(categoryText), names);
    if (split == FavoriteStatus::NameTooLong) return split;
    std::string discPath;
    if (FavoriteStatus st = DiscPathInLibrary(tree.GetLibraryPath(), location.indexPath, discPath);
        st != FavoriteStatus::Ok)
        return st;
    if (location.pathInDisc.size() > kFavoriteMaxPath) return FavoriteStatus::PathTooLong;
    if (split == FavoriteStatus::Ok) {
        parent = tree.AddCategoryPath(categoryText, parent);
        if (!parent) return tree.LastStatus();
    }
    if (!tree.AddSoftware(parent, name, remark, &location, added)) return tree.LastStatus();
    return FavoriteStatus::Ok;
}

CFavoriteDropTarget::CFavoriteDropTarget(CFavoriteTree* tree, QObject* parent)
    : QObject(parent), m_tree(tree) {
    m_clock.start();
    m_hoverTimer.setSingleShot(true);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CFavoriteDropTarget::ExpandHovered);
    m_scrollTimer.setInterval(kScrollRepeatMs);
    connect(&m_scrollTimer, &QTimer::timeout, this, [this] { Scroll(m_scrollBand); });

    // The tree's own drop handling never runs: every drag event of its viewport
    // stops here. Dragging stays enabled so that the tree starts item drags.
    tree->setDragEnabled(true);
    tree->setAcceptDrops(true);
    tree->viewport()->setAcceptDrops(true);
    tree->setDragDropMode(QAbstractItemView::DragDrop);
    tree->setAutoScroll(false);
    m_viewport = tree->viewport();
    tree->viewport()->installEventFilter(this);
    connect(tree, &CFavoriteTree::beginDrag, this, &CFavoriteDropTarget::RunItemDrag);
}

CFavoriteDropTarget::Kind CFavoriteDropTarget::KindOf(const QMimeData* data) const {
    if (!IsDragFromThisProcess(data)) return Kind::None;
    if (data->hasFormat(QString::fromLatin1(kFavSoftDragFormat))) return Kind::Entry;
    if (data->hasFormat(QString::fromLatin1(kFavSoftDragFormat2))) return Kind::Item;
    return Kind::None;
}

QTreeWidgetItem* CFavoriteDropTarget::DraggedItem(const QMimeData* data) const {
    if (!m_dragItem || KindOf(data) != Kind::Item) return nullptr;
    const QByteArray block = data->data(QString::fromLatin1(kFavSoftDragFormat2));
    if (block.size() != 4) return nullptr;
    const uint32_t serial = GetLE32(reinterpret_cast<const unsigned char*>(block.constData()));
    return serial == m_dragSerial ? m_dragItem : nullptr;
}

QMimeData* CFavoriteDropTarget::BeginItemDrag(QTreeWidgetItem* item) {
    m_dragItem = item;
    m_dragSerial = NextDragSerial();
    m_dropped = false;
    unsigned char block[4];
    PutLE32(block, m_dragSerial);
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kFavSoftDragFormat2),
                  QByteArray(reinterpret_cast<const char*>(block), sizeof block));
    MarkDragFromThisProcess(data);
    return data;
}

void CFavoriteDropTarget::EndItemDrag() {
    m_dragItem = nullptr;
    m_dragSerial = 0;
}

void CFavoriteDropTarget::RunItemDrag(QTreeWidgetItem* item) {
    if (!item) return;
    auto* drag = new QDrag(m_tree);
    drag->setMimeData(BeginItemDrag(item));
    const QIcon icon = item->icon(0);
    if (!icon.isNull()) {
        drag->setPixmap(icon.pixmap(16, 16));
        drag->setHotSpot(QPoint(-8, -8));  // beside the pointer, off the target's label
    }
    drag->exec(Qt::MoveAction);
    drag->deleteLater();
    Leave();
    EndItemDrag();
    // The item stays selected, dropped or not (a move keeps the same item).
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
}

void CFavoriteDropTarget::SetDropHighlight(QTreeWidgetItem* item) {
    QTreeWidgetItem* old = DropHighlight();
    if (old == item) return;
    if (old) {
        old->setData(0, Qt::BackgroundRole, QVariant());
        old->setData(0, Qt::ForegroundRole, QVariant());
    }
    m_highlight =
        item ? QPersistentModelIndex(m_tree->indexFromItem(item)) : QPersistentModelIndex();
    if (item) {
        const QPalette& palette = m_tree->palette();
        item->setData(0, Qt::BackgroundRole, palette.brush(QPalette::Highlight));
        item->setData(0, Qt::ForegroundRole, palette.brush(QPalette::HighlightedText));
    }
}

QTreeWidgetItem* CFavoriteDropTarget::DropHighlight() const {
    return m_highlight.isValid() ? m_tree->itemFromIndex(m_highlight) : nullptr;
}

FavoriteStatus CFavoriteDropTarget::DropEntry(const FavSoftDragData& entry,
                                              QTreeWidgetItem* target) {
    const FavoriteLocation location{entry.indexPath, entry.dirInDisc + entry.name};
    FavoriteStatus status = FavoriteStatus::Ok;
    if (target && !m_tree->IsCategory(target)) {
        if (!m_tree->SetSoftwareLocation(target, &location)) status = m_tree->LastStatus();
    } else {
        // On empty space the entry goes below the disc's own directories.
        const QString categories = target ? QString() : Host(entry.dirInDisc);
        status =
            AddLocatedSoftware(*m_tree, target, categories, Host(entry.name), QString(), location);
    }
    if (status == FavoriteStatus::Ok)
        emit changed();
    else
        emit refused(status);
    return status;
}

bool CFavoriteDropTarget::DropItem(QTreeWidgetItem* dragged, QTreeWidgetItem* target) {
    if (!CanDropFavoriteItem(*m_tree, dragged, target)) return false;
    SetDropHighlight(nullptr);
    if (!m_tree->MoveFavorite(dragged, target)) {
        emit refused(m_tree->LastStatus());
        return false;
    }
    if (target) target->setExpanded(true);
    emit changed();
    return true;
}

void CFavoriteDropTarget::Scroll(DragScroll band) {
    switch (band) {
        case DragScroll::LineDown:
            m_tree->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case DragScroll::LineUp:
            m_tree->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case DragScroll::LineLeft:
            m_tree->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case DragScroll::LineRight:
            m_tree->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case DragScroll::None:
            break;
    }
}

void CFavoriteDropTarget::HoverAt(QTreeWidgetItem* item) {
    const bool category = item && m_tree->IsCategory(item);
    const uint64_t now = static_cast<uint64_t>(m_clock.elapsed());
    if (m_hover.Over(item, category, now)) {
        item->setExpanded(true);
        return;
    }
    m_hoverItem = item;
    // Qt reports a drag only when it moves; a drag resting on a category still
    // opens it when its time is up.
    const int64_t wait = m_hover.MsUntilExpand(now);
    if (wait >= 0)
        m_hoverTimer.start(static_cast<int>(wait));
    else
        m_hoverTimer.stop();
}

void CFavoriteDropTarget::ExpandHovered() {
    QTreeWidgetItem* item = m_hoverItem;
    // The item must still be the highlighted one: a drop or leave clears both.
    if (!item || item != DropHighlight()) return;
    HoverAt(item);
}

DragScroll CFavoriteDropTarget::BandAt(QPoint pos) const {
    const QScrollBar* v = m_tree->verticalScrollBar();
    const QScrollBar* h = m_tree->horizontalScrollBar();
    ScrollRoom room;
    room.up = v->value() > v->minimum();
    room.down = v->value() < v->maximum();
    room.left = h->value() > h->minimum();
    room.right = h->value() < h->maximum();
    const QWidget* viewport = m_tree->viewport();
    return DragScrollBandAt(pos.x(), pos.y(), viewport->width(), viewport->height(), room);
}

int CFavoriteDropTarget::DragOver(const QMimeData* data, QPoint pos) {
    const DragScroll band = BandAt(pos);
    if (band != DragScroll::None) {
        Scroll(band);
        m_scrollBand = band;
        if (!m_scrollTimer.isActive()) m_scrollTimer.start();
        return Qt::IgnoreAction;
    }
    m_scrollTimer.stop();
    m_scrollBand = DragScroll::None;

    QTreeWidgetItem* target = m_tree->itemAt(pos);
    switch (KindOf(data)) {
        case Kind::Entry:
            SetDropHighlight(target);
            HoverAt(target);
            return Qt::CopyAction;
        case Kind::Item: {
            QTreeWidgetItem* dragged = DraggedItem(data);
            if (dragged && CanDropFavoriteItem(*m_tree, dragged, target)) {
                SetDropHighlight(target);
                HoverAt(target);
                return Qt::MoveAction;
            }
            break;
        }
        case Kind::None:
            break;
    }
    SetDropHighlight(nullptr);
    HoverAt(nullptr);
    return Qt::IgnoreAction;
}

void CFavoriteDropTarget::Leave() {
    m_scrollTimer.stop();
    m_scrollBand = DragScroll::None;
    m_hoverTimer.stop();
    m_hover.Clear();
    m_hoverItem = nullptr;
    SetDropHighlight(nullptr);
}

bool CFavoriteDropTarget::Drop(QDropEvent* event) {
    const QPoint pos = event->position().toPoint();
    const QMimeData* data = event->mimeData();
    bool done = false;
    if (BandAt(pos) == DragScroll::None) {
        QTreeWidgetItem* target = m_tree->itemAt(pos);
        switch (KindOf(data)) {
            case Kind::Entry: {
                FavSoftDragData entry;
                const QByteArray block = data->data(QString::fromLatin1(kFavSoftDragFormat));
                if (DecodeFavSoftDrag(std::string_view(block.constData(), block.size()), entry)) {
                    DropEntry(entry, target);
                    event->setDropAction(Qt::CopyAction);
                    done = true;
                }
                break;
            }
            case Kind::Item:
                if (DropItem(DraggedItem(data), target)) {
                    m_dropped = true;
                    event->setDropAction(Qt::MoveAction);
                    done = true;
                }
                break;
            case Kind::None:
                break;
        }
    }
    Leave();
    return done;
}

bool CFavoriteDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_viewport) return false;
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* move = static_cast<QDragMoveEvent*>(event);
            if (KindOf(move->mimeData()) == Kind::None) {
                move->ignore();
                return true;
            }
            const int action = DragOver(move->mimeData(), move->position().toPoint());
            // An enter must be accepted for the moves to follow even where nothing
            // may be dropped yet; the action then says "none here".
            if (action == Qt::IgnoreAction && event->type() == QEvent::DragMove) {
                move->ignore();
            } else {
                move->setDropAction(static_cast<Qt::DropAction>(action));
                move->accept();
            }
            return true;
        }
        case QEvent::DragLeave:
            Leave();
            return true;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (Drop(drop))
                drop->accept();
            else
                drop->ignore();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace orb
