// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/pane/dupes_model.h"

#include <algorithm>
#include <numeric>

#include "audit/export.h"
#include "platform/text.h"

namespace orb {

// A top row has internal id 0; a copy row carries its group number + 1.
CDupesModel::CDupesModel(QObject* parent) : QAbstractItemModel(parent) {}

void CDupesModel::SetResult(DupeResult result) {
    beginResetModel();
    result_ = std::move(result);
    order_.resize(result_.groups.size());
    std::iota(order_.begin(), order_.end(), 0);
    rowOf_ = order_;
    endResetModel();
}

int CDupesModel::GroupOf(const QModelIndex& index) const {
    if (!index.isValid()) return -1;
    if (index.internalId() != 0) return static_cast<int>(index.internalId() - 1);
    return order_[static_cast<size_t>(index.row())];
}

int CDupesModel::CopyOf(const QModelIndex& index) const {
    return index.isValid() && index.internalId() != 0 ? index.row() : -1;
}

QModelIndex CDupesModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumnCount) return {};
    if (!parent.isValid()) {
        if (static_cast<size_t>(row) >= order_.size()) return {};
        return createIndex(row, column, quintptr{0});
    }
    if (parent.internalId() != 0) return {};
    const int g = order_[static_cast<size_t>(parent.row())];
    if (static_cast<size_t>(row) >= result_.groups[static_cast<size_t>(g)].copies.size()) return {};
    return createIndex(row, column, static_cast<quintptr>(g) + 1);
}

QModelIndex CDupesModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0) return {};
    const size_t g = child.internalId() - 1;
    return createIndex(rowOf_[g], 0, quintptr{0});
}

int CDupesModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(order_.size());
    if (parent.internalId() != 0 || parent.column() != 0) return 0;
    const int g = order_[static_cast<size_t>(parent.row())];
    return static_cast<int>(result_.groups[static_cast<size_t>(g)].copies.size());
}

int CDupesModel::columnCount(const QModelIndex&) const {
    return kColumnCount;
}

QVariant CDupesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    const int g = GroupOf(index);
    const DupeGroup& group = result_.groups[static_cast<size_t>(g)];
    if (index.internalId() == 0) {
        switch (index.column()) {
            case kName:
                return QString::fromStdString(ExportName(group.copies.front().name));
            case kSize:
                return QString::number(group.size);
            case kCopies:
                return QString::number(group.copies.size());
            case kWasted:
                return QString::number(group.Wasted());
            default:
                return {};
        }
    }
    const DupeCopy& copy = group.copies[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case kName:
            return QString::fromStdString(ExportText(result_.discs[copy.disc].label));
        case kDirectory:
            return QString::fromStdString(ExportPath(copy.dirPath));
        case kTime:
            return QString::fromStdString(LocalTimeText(copy.writeTime));
        default:
            return {};
    }
}

QVariant CDupesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kTitles[kColumnCount] = {"名称 / 光盘", "目录",     "大小",
                                                      "份数",        "浪费空间", "修改时间"};
    return section >= 0 && section < kColumnCount ? QString::fromUtf8(kTitles[section])
                                                  : QVariant();
}

void CDupesModel::sort(int column, Qt::SortOrder order) {
    const auto& groups = result_.groups;
    auto less = [&](int a, int b) {
        const DupeGroup& x = groups[static_cast<size_t>(a)];
        const DupeGroup& y = groups[static_cast<size_t>(b)];
        switch (column) {
            case kName:
                return CompareNatural(x.copies.front().name, y.copies.front().name) < 0;
            case kSize:
                return x.size < y.size;
            case kCopies:
                return x.copies.size() < y.copies.size();
            default:
                return x.Wasted() < y.Wasted();
        }
    };
    beginResetModel();
    // Ties keep the result's own order, most wasted space first, either way.
    std::sort(order_.begin(), order_.end());
    if (order == Qt::AscendingOrder)
        std::stable_sort(order_.begin(), order_.end(), less);
    else
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return less(b, a); });
    for (size_t r = 0; r < order_.size(); ++r)
        rowOf_[static_cast<size_t>(order_[r])] = static_cast<int>(r);
    endResetModel();
}

}  // namespace orb
