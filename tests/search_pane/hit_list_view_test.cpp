// SPDX-License-Identifier: GPL-3.0-or-later
// The result list over far more rows than any view could keep anything for.
#include "search/pane/hit_list_view.h"

#include <gtest/gtest.h>

#include <QAbstractTableModel>
#include <QAccessible>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <climits>

#include "tests/app/app_test_util.h"

namespace orb {
namespace {

// Rows by number; records which rows were read and how many indexes were made.
class CNumberedRows : public QAbstractTableModel {
public:
    int rows = 20000000;
    mutable int lowestRead = INT_MAX, highestRead = -1;
    mutable long indexesMade = 0;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : rows;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 3;
    }
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        ++indexesMade;
        return QAbstractTableModel::index(row, column, parent);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        lowestRead = std::min(lowestRead, index.row());
        highestRead = std::max(highestRead, index.row());
        return index.row();
    }
    void ForgetReads() const {
        lowestRead = INT_MAX;
        highestRead = -1;
    }
    void Grow(int more) {
        beginInsertRows({}, rows, rows + more - 1);
        rows += more;
        endInsertRows();
    }
};

TEST(HitListView, ReadsOnlyTheRowsInSightOfMillions) {
    test::EnsureApp();
    CNumberedRows model;
    CHitListView view;
    view.setModel(&model);
    view.SetRowHeight(20);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.resize(300, 230);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const int shown = view.viewport()->height() / 20 + 1;

    model.ForgetReads();
    view.grab();
    EXPECT_EQ(model.lowestRead, 0);
    EXPECT_LE(model.highestRead, shown);

    // End reaches the last row, which shows at the bottom.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_End);
    const QModelIndex last = view.currentIndex();
    EXPECT_EQ(last.row(), model.rows - 1);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    const QRect cell = view.visualRect(last);
    EXPECT_TRUE(view.viewport()->rect().contains(cell.center()));
    EXPECT_EQ(view.indexAt(cell.center()), last);
    model.ForgetReads();
    view.grab();
    EXPECT_GE(model.lowestRead, model.rows - shown - 1);
    EXPECT_EQ(model.highestRead, model.rows - 1);

    // A page up moves by the rows in sight; a click selects the whole row under it.
    QTest::keyClick(&view, Qt::Key_PageUp);
    EXPECT_EQ(view.currentIndex().row(), model.rows - 1 - view.viewport()->height() / 20);
    const QModelIndex top = view.indexAt(QPoint(5, 5));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(view.selectionModel()->isRowSelected(top.row(), {}));
    EXPECT_EQ(view.currentIndex().row(), top.row());

    // A screen reader sees the rows as a table and reads the cells.
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&view);
    ASSERT_TRUE(table);
    ASSERT_TRUE(table->tableInterface());
    EXPECT_EQ(table->tableInterface()->rowCount(), model.rows);
    QAccessibleInterface* item = table->tableInterface()->cellAt(top.row(), 1);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->text(QAccessible::Name), QString::number(top.row()));

    // Rows added and every row changed cost the view a few indexes, not one per row.
    model.indexesMade = 0;
    const int maximum = view.verticalScrollBar()->maximum();
    model.Grow(5000000);
    emit model.dataChanged(model.index(0, 0), model.index(model.rows - 1, 2));
    EXPECT_EQ(view.verticalScrollBar()->maximum(), maximum + 5000000 * 20);
    EXPECT_LT(model.indexesMade, 1000);

    // Told of rows added after it, a cell a screen reader holds stays; told of
    // rows changed from its own, or of a reset, it goes. (Told directly: the
    // offscreen platform has no accessibility to carry the view's events.)
    const QAccessible::Id held = QAccessible::uniqueId(item);
    QAccessibleTableModelChangeEvent added(&view, QAccessibleTableModelChangeEvent::RowsInserted);
    added.setFirstRow(model.rows - 5000000);
    added.setLastRow(model.rows - 1);
    table->tableInterface()->modelChange(&added);
    EXPECT_EQ(QAccessible::accessibleInterface(held), item);
    QAccessibleTableModelChangeEvent changed(&view, QAccessibleTableModelChangeEvent::DataChanged);
    changed.setFirstRow(top.row());
    changed.setLastRow(top.row());
    table->tableInterface()->modelChange(&changed);
    EXPECT_EQ(QAccessible::accessibleInterface(held), nullptr);
    item = table->tableInterface()->cellAt(top.row(), 1);
    ASSERT_TRUE(item);
    const QAccessible::Id again = QAccessible::uniqueId(item);
    QAccessibleTableModelChangeEvent reset(&view, QAccessibleTableModelChangeEvent::ModelReset);
    table->tableInterface()->modelChange(&reset);
    EXPECT_EQ(QAccessible::accessibleInterface(again), nullptr);
}

}  // namespace
}  // namespace orb
