// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's result list as a model: rows kept sorted by name, hits merged
// in batches with one notification each, columns "名称" and "上级目录".
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <memory>
#include <string>
#include <vector>

#include "search/pane/search_rules.h"

namespace orb {

// Column 0: the characters of the name that the search's keyword matched (by its
// bytes or by pinyin), as QPoint(start, length) in the shown text; none when the
// hit was found by its annotation.
inline constexpr int kMatchSpanRole = Qt::UserRole + 1;

class CSearchResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CSearchResultModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Merges the batch into the sorted rows (the batch is emptied); the store holds
    // what its hits point to and is kept until Clear.
    void AddHits(std::vector<HitRow>& batch, const std::shared_ptr<CHitStore>& store);
    // Removes every row and releases the records.
    void Clear();
    // The keyword (stored bytes) and options of the search whose hits the rows
    // are, for kMatchSpanRole.
    void SetMatch(std::string_view storedKeyword, uint8_t options);
    // Keeps only the rows whose name contains the keyword (stored bytes). The
    // records of removed rows stay in their store until the next Clear.
    void Narrow(std::string_view storedKeyword, bool matchCase);

    size_t Count() const { return rows_.size(); }
    // The record of a row; nullptr out of range.
    const SearchHit* Hit(int row) const;

private:
    std::vector<HitRow> rows_;
    std::vector<std::shared_ptr<CHitStore>> stores_;
    std::vector<int> inserted_;  // scratch of AddHits, kept for its room
    std::string matchKeyword_;
    uint8_t matchOptions_ = 0;
};

// Draws a name with its matched characters (kMatchSpanRole) in bold and the link
// colour.
class CMatchHighlightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace orb
