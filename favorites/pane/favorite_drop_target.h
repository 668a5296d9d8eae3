// SPDX-License-Identifier: GPL-3.0-or-later
// CFavoriteDropTarget: what the favourites tree accepts while something is dragged
// over it (a row of the file list, FAVSOFTDRAGDATA; one of its own items,
// FAVSOFTDRAGDATA2), edge scrolling, hover expansion, and the drag of an item.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QTimer>
#include <cstdint>
#include <string>

#include "favorites/pane/favorite_rules.h"
#include "favorites/store/fav_drag.h"
#include "favorites/store/favorite_store.h"

class QMimeData;
class QDropEvent;
class QTreeWidgetItem;

namespace orb {

class CFavoriteTree;

// True when the item dragged may be dropped on target (nullptr: empty space): on a
// category that is not its parent and lies outside its own subtree; on empty space
// only when it is not at the top level already.
bool CanDropFavoriteItem(const CFavoriteTree& tree, const QTreeWidgetItem* dragged,
                         const QTreeWidgetItem* target);

// Adds a software entry with a location below the category chain categoryText
// (may be empty) of parent. Everything is checked before the tree changes, so a
// refused entry leaves no categories behind. Ok, or why it was refused.
FavoriteStatus AddLocatedSoftware(CFavoriteTree& tree, QTreeWidgetItem* parent,
                                  const QString& categoryText, const QString& name,
                                  const QString& remark, const FavoriteLocation& location,
                                  QTreeWidgetItem** added = nullptr);

class CFavoriteDropTarget : public QObject {
    Q_OBJECT
public:
    enum class Kind { None, Entry, Item };

    // Registers on the tree: it accepts drops and its item drags run here.
    explicit CFavoriteDropTarget(CFavoriteTree* tree, QObject* parent = nullptr);

    // The block the data carries, FAVSOFTDRAGDATA first. None for a drag that this
    // process did not start: the blocks name files the tree would act on.
    Kind KindOf(const QMimeData* data) const;
    // The tree item a FAVSOFTDRAGDATA2 block stands for: only the item of the drag
    // this target runs right now, so a stale or foreign block names nothing.
    QTreeWidgetItem* DraggedItem(const QMimeData* data) const;

    // A row of the file list dropped on target: re-points a software item, or adds
    // an entry (below target, or below the row's directories on empty space).
    FavoriteStatus DropEntry(const FavSoftDragData& entry, QTreeWidgetItem* target);
    // Moves dragged below target (nullptr: the top level), if the rule allows it.
    bool DropItem(QTreeWidgetItem* dragged, QTreeWidgetItem* target);

    // The data of an item drag (marked as this process's own); the target then
    // knows the item until EndItemDrag.
    QMimeData* BeginItemDrag(QTreeWidgetItem* item);
    void EndItemDrag();

    void SetDropHighlight(QTreeWidgetItem* item);
    QTreeWidgetItem* DropHighlight() const;

signals:
    // A drop changed the tree (the pane saves it).
    void changed();
    // A drop was refused; the pane tells the user why.
    void refused(FavoriteStatus status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Returns the drop action to offer at pos (Qt::IgnoreAction: none).
    int DragOver(const QMimeData* data, QPoint pos);
    DragScroll BandAt(QPoint pos) const;
    bool Drop(QDropEvent* event);
    void Leave();
    void Scroll(DragScroll band);
    void HoverAt(QTreeWidgetItem* item);
    void ExpandHovered();
    void RunItemDrag(QTreeWidgetItem* item);

    CFavoriteTree* m_tree;
    // Compared, never called: events still reach the filter while the tree dies.
    const QObject* m_viewport = nullptr;
    QPersistentModelIndex m_highlight;
    QTreeWidgetItem* m_dragItem = nullptr;
    uint32_t m_dragSerial = 0;
    bool m_dropped = false;
    CHoverExpand m_hover;
    QTreeWidgetItem* m_hoverItem = nullptr;
    QElapsedTimer m_clock;
    QTimer m_hoverTimer;
    QTimer m_scrollTimer;
    DragScroll m_scrollBand = DragScroll::None;
};

}  // namespace orb
