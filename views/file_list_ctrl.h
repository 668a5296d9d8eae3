// SPDX-License-Identifier: GPL-3.0-or-later
// CFileListCtrl: the file list of one disc directory as a model/view pair. The
// model keeps one compact record per row and an order over them; the report view
// (CSortHeaderCtrl on top) and the icon/list view share the model and selection,
// so switching the style keeps the selection.
#pragma once

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QListView>
#include <QTreeView>
#include <QWidget>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"

class QStackedLayout;
class QItemSelectionModel;

namespace orb {

class CIndexReader;

// One row: the entry's fields and where its name sits in the model's name store.
// 32 bytes, so a listing costs little beyond the names themselves.
struct FileListItem {
    uint64_t size = 0;
    uint64_t time = 0;
    int32_t id = 0;
    uint32_t nameOffset = 0;
    uint32_t type = 0;  // CFileTypeCache index (files)
    uint8_t nameLength = 0;
    uint8_t extLength = 0;
    bool isDirectory = false;
};
static_assert(sizeof(FileListItem) == 32);

enum ListStyle { kStyleLargeIcons = 0, kStyleReport = 1, kStyleSmallIcons = 2, kStyleList = 3 };

class CFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kEntryIdRole = Qt::UserRole + 1;

    explicit CFileListModel(QObject* parent = nullptr);

    // Lists a directory of the reader (null parent: the disc root), tracking entry
    // ids, and sorts it. Bounded by the reader's own walk limits.
    void ListDirectory(CIndexReader& reader, const IndexEntry* directory, int sortColumn,
                       int sortDirection);
    // Appends rows without sorting (tests and the benchmark build listings directly).
    void Append(int32_t id, const IndexEntry& entry);
    void Clear();
    // Orders the rows by column (direction 1 or -1); rows that compare equal keep
    // their listing order.
    void Sort(int column, int direction);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const FileListItem& Item(int row) const { return m_items[m_order[row]]; }
    std::string_view Name(int row) const { return NameOf(Item(row)); }
    // The first row whose stored name equals name byte for byte; -1 when none.
    int FindRow(std::string_view storedName) const;
    // Bytes held per row beyond the names (records and order).
    static constexpr size_t kBytesPerRow = sizeof(FileListItem) + sizeof(uint32_t);
    size_t NameBytes() const { return m_names.size(); }
    // Bytes the model holds now: records, order and names (capacities).
    size_t MemoryUsage() const {
        return m_items.capacity() * sizeof(FileListItem) + m_order.capacity() * sizeof(uint32_t) +
               m_names.capacity();
    }

private:
    std::string_view NameOf(const FileListItem& item) const {
        return std::string_view(m_names).substr(item.nameOffset, item.nameLength);
    }
    void SortOrder(std::vector<uint32_t>& order, int column, int direction) const;

    std::vector<FileListItem> m_items;
    std::vector<uint32_t> m_order;  // row -> item
    std::string m_names;
    // The order the rows are in, told to screen readers on the column's header.
    int m_sortColumn = -1;
    int m_sortDirection = 1;
};

// The report header: owner-drawn sections with the arrow of the sort column. It
// holds the sort column and direction, read from "sortcol"/"sortdir" when created
// and written back when destroyed.
class CSortHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CSortHeaderCtrl(QWidget* parent = nullptr);
    ~CSortHeaderCtrl() override;

    int SortColumn() const { return m_sortColumn; }
    int SortDirection() const { return m_sortDirection; }
    void SetSort(int column, int direction);
    // A click on a section: the same column flips the direction, another one sorts
    // ascending by it.
    void ClickColumn(int column);

signals:
    void sortChanged(int column, int direction);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int m_sortColumn = 0;
    int m_sortDirection = 1;
};

class CFileListCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CFileListCtrl(QWidget* parent = nullptr);
    ~CFileListCtrl() override;

    CFileListModel& Model() { return *m_model; }
    const CFileListModel& Model() const { return *m_model; }
    CSortHeaderCtrl& Header() { return *m_header; }
    QItemSelectionModel& Selection() const { return *m_selection; }
    // The view of the current style.
    QAbstractItemView* View() const;
    QTreeView* ReportView() const { return m_report; }
    QListView* IconView() const { return m_icons; }

    int Style() const { return m_style; }
    void SetStyle(int style);

    // Selected rows in the list's order.
    std::vector<int> SelectedRows() const;
    // The row at the selection mark (the current row); -1 when none.
    int MarkRow() const;
    // Selects exactly this row, makes it the mark and scrolls to it.
    void SelectOnly(int row);

    void Resort();

signals:
    void dragRequested();
    void contextMenuRequested(const QPoint& globalPos);
    void rowClicked(int row);
    void rowDoubleClicked(int row);

private:
    CFileListModel* m_model;
    QItemSelectionModel* m_selection;
    CSortHeaderCtrl* m_header;
    QTreeView* m_report;
    QListView* m_icons;
    QStackedLayout* m_stack;
    int m_style = kStyleReport;
};

}  // namespace orb
