// SPDX-License-Identifier: GPL-3.0-or-later
// Moving library items by drag and drop inside the library tree: the ORBDRAGDATA
// block (accepted only from a drag this process is running), the move rules on
// tree items, the file move and the item copy, the drop target and the pane's tree
// that carries it.
#pragma once

#include <QElapsedTimer>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPoint>
#include <QTimer>
#include <functional>

#include "library/pane/library_files.h"
#include "library/pane/library_rules.h"
#include "library/tree/library_tree.h"

class QMimeData;

namespace orb {

// The clipboard format of a library drag.
inline constexpr const char* kLibraryDragFormat = "application/x-kelvane-orbdragdata";

// The block: the tree the drag started in and the dragged item. The addresses mean
// something only inside this process.
struct LibraryDragData {
    CLibraryTree* tree = nullptr;
    QTreeWidgetItem* item = nullptr;
};

// The data of a new library drag, registered as this process's running drag until
// EndLibraryDrag. The caller (the QDrag) owns it.
QMimeData* NewLibraryDragMime(const LibraryDragData& data);
void EndLibraryDrag(const QMimeData* mime);
// The block of the library drag this process is running right now; false for any
// other data (a drag from another program or another instance of this one, a
// block that does not decode, or an item no longer in its tree).
bool GetLibraryDragData(const QMimeData* mime, LibraryDragData& data);

// True when item is one of tree's items now.
bool TreeHoldsItem(const CLibraryTree& tree, const QTreeWidgetItem* item);

// The move rules on two items of one tree (see LibraryMoveFacts).
int CheckLibraryMove(const CLibraryTree& tree, QTreeWidgetItem* target, QTreeWidgetItem* dragged,
                     int& stringId);
// Moves the dragged category directory, or the disc's index and companion, into
// the target's directory.
LibraryFileResult MoveLibraryFiles(const CLibraryTree& tree, QTreeWidgetItem* target,
                                   QTreeWidgetItem* dragged);
// Re-creates item and its descendants, collapsed and in their order, as the last
// child of newParent; returns the copy.
QTreeWidgetItem* CopyItemSubtree(CLibraryTree& tree, QTreeWidgetItem* newParent,
                                 QTreeWidgetItem* item);

// The move cursor of a library drag (32 x 32, hot spot top left).
QPixmap LibraryMoveCursor();

class CPaneLibraryTree;

// Checks every pointer move of a library drag over the tree and carries out the drop.
class CLibraryDropTarget {
public:
    explicit CLibraryDropTarget(CPaneLibraryTree& tree) : tree_(tree) {}

    // The status line; an empty text clears it.
    std::function<void(const QString&)> onStatus;
    // A drop whose file move failed: the pane reports it and rebuilds the tree.
    std::function<void(const LibraryFileResult&)> onMoveFailed;
    // Carries out the move of a drop on disk; MoveLibraryFiles when unset.
    std::function<LibraryFileResult(QTreeWidgetItem* target, QTreeWidgetItem* dragged)> moveItem;

    // One pointer position (viewport coordinates) at time nowMs: feedback, hover
    // expansion and edge scrolling. Qt::MoveAction or Qt::IgnoreAction.
    Qt::DropAction DragOver(const QMimeData* mime, QPoint pos, int64_t nowMs);
    // The drop at pos: true when the data was a library drag of this process
    // (whether or not the move worked).
    bool Drop(const QMimeData* mime, QPoint pos);
    // The drag left the tree or ended.
    void Leave();

private:
    CPaneLibraryTree& tree_;
    CHoverExpand hover_;
};

// The library tree of the pane: starts library drags, takes their drops, shows
// the drop highlight, and reports finished label edits.
class CPaneLibraryTree : public CLibraryTree {
    Q_OBJECT

public:
    explicit CPaneLibraryTree(QWidget* parent = nullptr);

    CLibraryDropTarget& DropTarget() { return dropTarget_; }
    // A drag begins on item (never the root); runs the whole drag.
    std::function<void(QTreeWidgetItem*)> onBeginDrag;
    // A label edit ended with text; true keeps the new label (the handler sets it).
    std::function<bool(QTreeWidgetItem*, const QString&)> onLabelEdited;

    // The drop-highlighted item (null for none).
    void SetDropHighlight(QTreeWidgetItem* item);
    QTreeWidgetItem* DropHighlight() const;
    // Starts editing an item's label; the root's label is fixed.
    bool EditLabel(QTreeWidgetItem* item);
    QTreeWidgetItem* ItemFromIndex(const QModelIndex& index) const { return itemFromIndex(index); }
    static int64_t NowMs();
    // The drag loop has returned: no more repeated drag-overs.
    void DragEnded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    CLibraryDropTarget dropTarget_;
    QPersistentModelIndex dropHighlight_;
    // The system repeats no drag-over while the pointer rests: this does, for
    // hover expansion and edge scrolling.
    QTimer dragTimer_;
    const QMimeData* dragMime_ = nullptr;
    QPoint dragPos_;
};

}  // namespace orb
