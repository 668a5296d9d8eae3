// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's result list: rows of one height, positions by arithmetic.
#include "search/pane/hit_list_view.h"

#include <QAccessible>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace orb {

namespace {
// Far rows are placed well outside the viewport, without overflowing int.
int ClampedY(qint64 y) {
    return static_cast<int>(std::clamp<qint64>(y, -(qint64{1} << 29), qint64{1} << 29));
}
}  // namespace

CHitListView::CHitListView(QWidget* parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)) {
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
    auto relayout = [this] {
        updateGeometries();
        viewport()->update();
    };
    connect(header_, &QHeaderView::sectionResized, this, relayout);
    connect(header_, &QHeaderView::sectionMoved, this, relayout);
    connect(header_, &QHeaderView::geometriesChanged, this, relayout);
}

void CHitListView::setModel(QAbstractItemModel* model) {
    if (this->model()) disconnect(this->model(), nullptr, this, nullptr);
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    if (model) {
        // Removed rows may leave the scroll range too long; reset and layout
        // changes come through reset() and doItemsLayout().
        connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
            updateGeometries();
            viewport()->update();
        });
    }
    updateGeometries();
}

void CHitListView::setColumnWidth(int column, int width) {
    header_->resizeSection(column, width);
}

void CHitListView::SetRowHeight(int height) {
    rowHeight_ = std::max(1, height);
    updateGeometries();
    viewport()->update();
}

int CHitListView::Rows() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int CHitListView::FirstVisibleRow() const {
    return std::min(Rows(), verticalOffset() / rowHeight_);
}

int CHitListView::EndVisibleRow() const {
    const qint64 end =
        (qint64{verticalOffset()} + viewport()->height() + rowHeight_ - 1) / rowHeight_;
    return static_cast<int>(std::min<qint64>(Rows(), end));
}

QRect CHitListView::RowRect(int row) const {
    const int y = ClampedY(qint64{row} * rowHeight_ - verticalOffset());
    return QRect(0, y, viewport()->width(), rowHeight_);
}

QRect CHitListView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        header_->isSectionHidden(index.column()))
        return {};
    const int y = ClampedY(qint64{index.row()} * rowHeight_ - verticalOffset());
    return QRect(header_->sectionViewportPosition(index.column()), y,
                 header_->sectionSize(index.column()), rowHeight_);
}

void CHitListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model()) return;
    const qint64 y = qint64{index.row()} * rowHeight_;
    const qint64 top = verticalOffset();
    const qint64 page = viewport()->height();
    qint64 to = top;
    switch (hint) {
        case PositionAtTop:
            to = y;
            break;
        case PositionAtBottom:
            to = y + rowHeight_ - page;
            break;
        case PositionAtCenter:
            to = y - (page - rowHeight_) / 2;
            break;
        case EnsureVisible:
            if (y < top)
                to = y;
            else if (y + rowHeight_ > top + page)
                to = y + rowHeight_ - page;
            break;
    }
    verticalScrollBar()->setValue(static_cast<int>(std::clamp<qint64>(to, 0, INT_MAX)));
    // The column too, as far as it fits.
    const int x = header_->sectionPosition(index.column());
    const int w = header_->sectionSize(index.column());
    const int left = horizontalOffset();
    const int width = viewport()->width();
    if (x < left)
        horizontalScrollBar()->setValue(x);
    else if (x + w > left + width)
        horizontalScrollBar()->setValue(std::min(x, x + w - width));
}

QModelIndex CHitListView::indexAt(const QPoint& point) const {
    if (!model() || point.y() < 0) return {};
    const qint64 row = (qint64{point.y()} + verticalOffset()) / rowHeight_;
    if (row >= Rows()) return {};
    const int column = header_->logicalIndexAt(point.x());
    if (column < 0) return {};
    return model()->index(static_cast<int>(row), column, rootIndex());
}

QModelIndex CHitListView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = Rows();
    if (rows == 0 || header_->count() == 0) return {};
    const QModelIndex current = currentIndex();
    int row = current.isValid() ? current.row() : -1;
    int column = current.isValid() ? current.column() : header_->logicalIndex(0);
    const int page = std::max(1, viewport()->height() / rowHeight_);
    switch (action) {
        case MoveUp:
        case MovePrevious:
            row = std::max(0, row - 1);
            break;
        case MoveDown:
        case MoveNext:
            row = std::min(rows - 1, row + 1);
            break;
        case MovePageUp:
            row = std::max(0, row - page);
            break;
        case MovePageDown:
            row = std::min(rows - 1, std::max(0, row) + page);
            break;
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = rows - 1;
            break;
        case MoveLeft:
        case MoveRight: {
            row = std::max(0, row);
            const int visual = header_->visualIndex(column) + (action == MoveLeft ? -1 : 1);
            if (visual >= 0 && visual < header_->count()) column = header_->logicalIndex(visual);
            break;
        }
    }
    return model()->index(row, column, rootIndex());
}

int CHitListView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int CHitListView::verticalOffset() const {
    return verticalScrollBar()->value();
}

void CHitListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int rows = Rows();
    const QRect r = rect.normalized();
    const qint64 top = (qint64{r.top()} + verticalOffset()) / rowHeight_;
    if (!selectionModel() || rows == 0 || header_->count() == 0 || top >= rows) {
        if (selectionModel()) selectionModel()->select(QItemSelection(), command);
        return;
    }
    const int first = static_cast<int>(std::max<qint64>(0, top));
    const int last = static_cast<int>(
        std::clamp<qint64>((qint64{r.bottom()} + verticalOffset()) / rowHeight_, first, rows - 1));
    const int lastColumn = model()->columnCount(rootIndex()) - 1;
    selectionModel()->select(QItemSelection(model()->index(first, 0, rootIndex()),
                                            model()->index(last, lastColumn, rootIndex())),
                             command);
}

QRegion CHitListView::visualRegionForSelection(const QItemSelection& selection) const {
    // Only the rows in sight: a selection can span millions.
    const int first = FirstVisibleRow();
    const int end = EndVisibleRow();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex()) continue;
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), end - 1);
        if (top > bottom) continue;
        region += RowRect(top).united(RowRect(bottom));
    }
    return region;
}

void CHitListView::paintEvent(QPaintEvent* event) {
    if (!model()) return;
    QPainter painter(viewport());
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QRect area = event->rect();
    const int rows = Rows();
    const qint64 offset = verticalOffset();
    const int first =
        static_cast<int>(std::clamp<qint64>((area.top() + offset) / rowHeight_, 0, rows));
    const int end = static_cast<int>(
        std::clamp<qint64>((area.bottom() + offset) / rowHeight_ + 1, first, rows));
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    for (int row = first; row < end; ++row) {
        const int y = ClampedY(qint64{row} * rowHeight_ - offset);
        for (int visual = 0; visual < header_->count(); ++visual) {
            const int column = header_->logicalIndex(visual);
            if (header_->isSectionHidden(column)) continue;
            const int x = header_->sectionViewportPosition(column);
            const int w = header_->sectionSize(column);
            if (x + w <= area.left() || x > area.right()) continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem option(base);
            option.rect = QRect(x, y, w, rowHeight_);
            if (selectionModel() && selectionModel()->isSelected(index))
                option.state |= QStyle::State_Selected;
            if (focused && index == current) option.state |= QStyle::State_HasFocus;
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
}

void CHitListView::updateGeometries() {
    if (inGeometries_) return;
    inGeometries_ = true;
    const int headerHeight = header_->isHidden() ? 0 : header_->sizeHint().height();
    if (viewportMargins().top() != headerHeight) setViewportMargins(0, headerHeight, 0, 0);
    const QRect vg = viewport()->geometry();
    header_->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);

    const qint64 content = qint64{Rows()} * rowHeight_;
    const int page = viewport()->height();
    QScrollBar* v = verticalScrollBar();
    v->setSingleStep(rowHeight_);
    v->setPageStep(std::max(rowHeight_, page));
    v->setRange(0, static_cast<int>(std::clamp<qint64>(content - page, 0, INT_MAX)));

    QScrollBar* h = horizontalScrollBar();
    h->setSingleStep(20);
    h->setPageStep(std::max(1, viewport()->width()));
    h->setRange(0, std::max(0, header_->length() - viewport()->width()));
    header_->setOffset(h->value());
    inGeometries_ = false;
    QAbstractItemView::updateGeometries();
}

void CHitListView::scrollContentsBy(int dx, int dy) {
    if (dx) header_->setOffset(horizontalScrollBar()->value());
    QAbstractItemView::scrollContentsBy(dx, dy);
}

void CHitListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                               const QList<int>& roles) {
    if (topLeft == bottomRight) {
        QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        return;
    }
    // The base class would unite the rectangle of every index in the range.
    if (!topLeft.isValid() || !bottomRight.isValid()) return;
    if (topLeft.row() < EndVisibleRow() && bottomRight.row() >= FirstVisibleRow())
        viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::DataChanged);
        event.setFirstRow(topLeft.row());
        event.setFirstColumn(topLeft.column());
        event.setLastRow(bottomRight.row());
        event.setLastColumn(bottomRight.column());
        QAccessible::updateAccessibility(&event);
    }
}

void CHitListView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    // Rows added below the viewport change only the scroll bar.
    if (start < EndVisibleRow()) viewport()->update();
}

void CHitListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    viewport()->update();
}

void CHitListView::reset() {
    QAbstractItemView::reset();
    updateGeometries();
    viewport()->update();
}

}  // namespace orb
