// SPDX-License-Identifier: GPL-3.0-or-later
// A list of rows of one height under a column header that keeps nothing per row:
// row positions are arithmetic, so millions of rows arriving cost the view nothing.
#pragma once

#include <QAbstractItemView>

class QHeaderView;

namespace orb {

// Rows all have RowHeight(); columns are the horizontal header's sections. A
// table view keeps a section per row in its row header, and every batch of rows
// added walks all of them.
class CHitListView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit CHitListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QHeaderView* horizontalHeader() const { return header_; }
    void setColumnWidth(int column, int width);
    int RowHeight() const { return rowHeight_; }
    void SetRowHeight(int height);
    // The rows the viewport shows now, the last possibly in part ([first, end)).
    int FirstVisibleRow() const;
    int EndVisibleRow() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    // Not by typing: finding a row by its start would read every row's name on
    // the window's thread.
    void keyboardSearch(const QString&) override {}

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void reset() override;

private:
    QMetaObject::Connection rowsRemoved_;
    int Rows() const;
    QRect RowRect(int row) const;

    QHeaderView* header_;
    int rowHeight_ = 20;
    bool inGeometries_ = false;  // setting the margins resizes the viewport
};

}  // namespace orb
