// SPDX-License-Identifier: GPL-3.0-or-later
// The drawer-like bar that stacks pages under a column of title buttons: the
// buttons of the open page and the pages before it sit at the top, the others at
// the bottom, and the open page fills the space between. A drag that rests on a
// button for half a second opens that page, so the drag can go on into it.
#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "ui/control_rules.h"

namespace orb {

class CImageList;

// Longest title kept, in stored bytes (the rest of a 52-byte field is its terminator).
inline constexpr int kPanelTitleBytes = 51;

struct PanelItem {
    QString title;
    int image = -1;
    QWidget* page = nullptr;
};

class CPanelBarCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CPanelBarCtrl(QWidget* parent = nullptr);

    // Places the bar in `parent` at `rect`, gives it the control id and shows it.
    bool Create(const QRect& rect, QWidget* parent, int id);
    int ControlId() const { return controlId_; }

    // The button images; the list is not owned.
    void SetImageList(const CImageList* images);
    // Appends a page. The first page added becomes the open one; every other page is
    // hidden. The page becomes a child of the bar. Returns its index.
    int AddItem(const PanelItem& item);
    // Opens page `index`; nothing for -1, an index out of range or the open page.
    void SelectItem(int index);
    int GetSelectedItem() const { return selected_; }
    int GetItemCount() const { return static_cast<int>(items_.size()); }
    const PanelItem& GetItem(int index) const { return items_.at(static_cast<size_t>(index)); }

    QRect ButtonRect(int index) const;
    QRect PageRect(int index) const;
    // The button under a point of the bar, -1 for none.
    int HitTest(const QPoint& point) const;
    // The button lit under the mouse, and the one lit for a drag (-1 for none).
    int HotItem() const { return hotItem_; }
    int DragHoverItem() const { return dropTarget_.DragHoverItem(); }

    // The millisecond clock the drag wait is measured with; tests put their own.
    void SetTickSource(std::function<uint32_t()> ticks);

signals:
    // A page was opened by a click, a resting drag or SelectItem.
    void itemSelected(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void DrawButton(QPainter& painter, int index, bool highlight) const;
    void LayoutPages();
    // One drag-over at `pos`; returns whether a drop there would move.
    bool DragOverAt(const QPoint& pos);
    void EndDrag();
    uint32_t Now() const;

    int controlId_ = 0;
    const CImageList* images_ = nullptr;
    std::vector<PanelItem> items_;
    int selected_ = -1;
    int hotItem_ = -1;
    CPanelDropTarget dropTarget_;
    // Re-checks a resting drag: no drag-over event comes while the pointer is still.
    QTimer dragTimer_;
    QPoint dragPos_;
    QElapsedTimer clock_;
    std::function<uint32_t()> ticks_;
};

}  // namespace orb
