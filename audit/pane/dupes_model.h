// SPDX-License-Identifier: GPL-3.0-or-later
// The duplicates list as a model over the search's result: groups at the top,
// their copies below. Rows are made as the view asks for them, so a result of
// any size shows at once, and sorting reorders group numbers only.
#pragma once

#include <QAbstractItemModel>
#include <vector>

#include "audit/duplicates.h"

namespace orb {

class CDupesModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { kName, kDirectory, kSize, kCopies, kWasted, kTime, kColumnCount };

    explicit CDupesModel(QObject* parent = nullptr);
    // Takes a new result, shown most wasted space first.
    void SetResult(DupeResult result);
    const DupeResult& Result() const { return result_; }

    // The group and copy a row shows: copy -1 on a group row; both -1 for none.
    int GroupOf(const QModelIndex& index) const;
    int CopyOf(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    DupeResult result_;
    std::vector<int> order_;  // group shown at each top row
    std::vector<int> rowOf_;  // top row of each group
};

}  // namespace orb
