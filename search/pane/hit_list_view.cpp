// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's result list: rows of one height, positions by arithmetic.
#include "search/pane/hit_list_view.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <limits>

namespace orb {

namespace {
// Far rows are placed well outside the viewport, without overflowing int.
int ClampedY(qint64 y) {
    return static_cast<int>(std::clamp<qint64>(y, -(qint64{1} << 29), qint64{1} << 29));
}

// Screen readers: Qt gives its own item views a table interface, not a view of
// ours. Cells are made as a reader asks for them and dropped on every change of
// the model, so the rows they name are never stale.
class CHitCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    CHitCellAccessible(CHitListView* view, int row, int column)
        : view_(view), row_(row), column_(column) {}

    bool isValid() const override {
        return view_ && view_->model() && row_ < view_->model()->rowCount(view_->rootIndex()) &&
               column_ < view_->model()->columnCount(view_->rootIndex());
    }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(view_);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Description)) return {};
        const int role = t == QAccessible::Name ? Qt::DisplayRole : Qt::ToolTipRole;
        return Index().data(role).toString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = view_->visualRect(Index());
        return r.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State st;
        if (!isValid()) {
            st.invalid = true;
            return st;
        }
        st.selectable = true;
        st.focusable = true;
        st.selected = isSelected();
        st.focused = view_->hasFocus() && view_->currentIndex() == Index();
        st.invisible = !view_->viewport()->rect().intersects(view_->visualRect(Index()));
        return st;
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface*>(this)
                   : nullptr;
    }

    bool isSelected() const override {
        return isValid() && view_->selectionModel() && view_->selectionModel()->isSelected(Index());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QModelIndex Index() const { return view_->model()->index(row_, column_, view_->rootIndex()); }
    QPointer<CHitListView> view_;
    const int row_, column_;
};

class CHitListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit CHitListAccessible(CHitListView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~CHitListAccessible() override { DropCells(); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    int childCount() const override {
        return static_cast<int>(
            std::min<qint64>(qint64{rowCount()} * columnCount(), std::numeric_limits<int>::max()));
    }
    QAccessibleInterface* child(int index) const override {
        const int columns = columnCount();
        if (index < 0 || columns == 0) return nullptr;
        return cellAt(index / columns, index % columns);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const QAccessibleTableCellInterface* cell =
            child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
        if (!cell || child->parent() != this) return -1;
        return cell->rowIndex() * columnCount() + cell->columnIndex();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex index = View()->indexAt(View()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = View()->currentIndex();
        if (!View()->hasFocus() || !current.isValid()) return nullptr;
        return cellAt(current.row(), current.column());
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
        const qint64 key = (qint64{row} << 16) | column;
        if (auto it = cells_.find(key); it != cells_.end())
            return QAccessible::accessibleInterface(*it);
        auto* cell = new CHitCellAccessible(View(), row, column);
        cells_.insert(key, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    int selectedCellCount() const override { return static_cast<int>(Selected().size()); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (const QModelIndex& index : Selected())
            if (QAccessibleInterface* cell = cellAt(index.row(), index.column()))
                cells.append(cell);
        return cells;
    }
    QString columnDescription(int column) const override {
        return Model() ? Model()->headerData(column, Qt::Horizontal).toString() : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override {
        return Model() ? Model()->columnCount(View()->rootIndex()) : 0;
    }
    int rowCount() const override { return Model() ? Model()->rowCount(View()->rootIndex()) : 0; }
    // A column is never selected whole in a list of rows.
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (View()->selectionModel())
            for (const QModelIndex& index : View()->selectionModel()->selectedRows())
                rows.append(index.row());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        return View()->selectionModel() &&
               View()->selectionModel()->isRowSelected(row, View()->rootIndex());
    }
    bool selectRow(int row) override {
        if (!View()->selectionModel() || row < 0 || row >= rowCount()) return false;
        View()->selectionModel()->select(
            Model()->index(row, 0, View()->rootIndex()),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!View()->selectionModel() || row < 0 || row >= rowCount()) return false;
        View()->selectionModel()->select(Model()->index(row, 0, View()->rootIndex()),
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* e) override {
        // A cell reads its row when asked: only cells from the first row changed
        // on may now stand for another hit (a screen reader's focus before it stays).
        if (e->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset ||
            e->firstRow() < 0)
            return DropCells();
        for (auto it = cells_.begin(); it != cells_.end();) {
            if ((it.key() >> 16) >= e->firstRow()) {
                QAccessible::deleteAccessibleInterface(*it);
                it = cells_.erase(it);
            } else {
                ++it;
            }
        }
    }

private:
    CHitListView* View() const { return static_cast<CHitListView*>(widget()); }
    QAbstractItemModel* Model() const { return View()->model(); }
    QModelIndexList Selected() const {
        return View()->selectionModel() ? View()->selectionModel()->selectedIndexes()
                                        : QModelIndexList();
    }
    void DropCells() {
        for (QAccessible::Id id : std::as_const(cells_)) QAccessible::deleteAccessibleInterface(id);
        cells_.clear();
    }
    mutable QHash<qint64, QAccessible::Id> cells_;
};

QAccessibleInterface* HitListAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(CHitListView::staticMetaObject.className()))
        if (auto* view = qobject_cast<CHitListView*>(object)) return new CHitListAccessible(view);
    return nullptr;
}
}  // namespace

CHitListView::CHitListView(QWidget* parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)) {
    static const bool accessible = [] {
        QAccessible::installFactory(HitListAccessibleFactory);
        return true;
    }();
    (void)accessible;
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
    if (model == this->model()) return;
    disconnect(rowsRemoved_);
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    if (model) {
        // Removed rows may leave the scroll range too long; reset and layout
        // changes come through reset() and doItemsLayout().
        rowsRemoved_ = connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
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

void CHitListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QAbstractItemView::currentChanged(current, previous);
    // A screen reader follows the cell the keyboard moved to.
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(static_cast<int>(std::min<qint64>(
            qint64{current.row()} * model()->columnCount(rootIndex()) + current.column(),
            std::numeric_limits<int>::max())));
        QAccessible::updateAccessibility(&event);
    }
}

void CHitListView::reset() {
    QAbstractItemView::reset();
    updateGeometries();
    viewport()->update();
}

}  // namespace orb
