// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's result list as a model: rows kept sorted by name, hits merged
// in batches off the window's thread with one notification each, columns "名称" and "上级目录".
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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
    ~CSearchResultModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Queues the batches for merging into the sorted rows (they are emptied); a
    // batch's store holds what its hits point to and is kept until Clear. Small
    // row counts are merged at once; larger merges run on a worker while the view
    // keeps showing the rows it has, and land as one change each.
    void AddHits(std::vector<PaneHitBatch>& batches);
    // Removes every row, queued hits included, and releases the records.
    void Clear();
    // The keyword (stored bytes) and options of the search whose hits the rows
    // are, for kMatchSpanRole.
    void SetMatch(std::string_view storedKeyword, uint8_t options);
    // Keeps only the rows whose name contains the keyword (stored bytes). The
    // records of removed rows stay in their store until the next Clear. While hits
    // are still being merged, it applies once they all are.
    void Narrow(std::string_view storedKeyword, bool matchCase);

    // Rows shown now; hits still queued or being merged are not counted yet.
    size_t Count() const { return rows_->size(); }
    // Nothing queued and no merge running: Count is final.
    bool IsSettled() const { return !merging_ && queued_.empty() && narrows_.empty(); }
    // The record of a row; nullptr out of range.
    const SearchHit* Hit(int row) const;

    // Rows up to this many are merged on the calling thread.
    static constexpr size_t kMergeHereRows = 10000;
    // At most this many rows are added by one change (unless a single batch is
    // larger).
    static constexpr size_t kRowsPerChange = 100000;

signals:
    // Every queued hit is merged and every narrowing applied.
    void settled();

private:
    void StartMerge();
    void ApplyMerge(uint64_t generation, const std::shared_ptr<MergedRows>& merged);
    void NarrowNow(std::string_view storedKeyword, bool matchCase);
    void StartMerger();
    // Hands a block to the merger to be freed there; a busy merger takes it a
    // moment later.
    void FreeOnMerger(std::shared_ptr<const void> block);
    // The same for replaced rows, whose room the merger may keep for its next merge.
    void FreeRowsOnMerger(std::shared_ptr<const std::vector<HitRow>> rows);

    // Shared with a running merge, which reads them: replaced, never changed.
    std::shared_ptr<const std::vector<HitRow>> rows_;
    std::vector<std::shared_ptr<CHitStore>> stores_;
    std::deque<std::vector<HitRow>> queued_;  // batches as they came, not yet copied
    size_t queuedRows_ = 0;
    std::vector<std::pair<std::string, bool>> narrows_;  // waiting for the merges
    bool merging_ = false;
    uint64_t generation_ = 0;  // raised by Clear: a merge of older rows is dropped
    // One worker for the merges, started at the first: the window never joins a
    // thread while it runs, and an old row vector is freed there.
    std::thread merger_;
    std::mutex mergeMutex_;
    std::condition_variable mergeWake_;
    std::function<void()> mergeJob_;                    // under mergeMutex_
    bool mergerStop_ = false;                           // under mergeMutex_
    std::vector<std::shared_ptr<const void>> garbage_;  // under mergeMutex_: to be freed
    std::vector<std::shared_ptr<const void>> toFree_;   // waiting for the merger's lock
    std::vector<std::shared_ptr<const std::vector<HitRow>>> oldRows_;     // under mergeMutex_
    std::vector<std::shared_ptr<const std::vector<HitRow>>> toFreeRows_;  // waiting for the lock
    std::vector<HitRow> room_;  // the merger's own: memory for its next merge
    bool freeRetryQueued_ = false;
    std::string matchKeyword_;
    uint8_t matchOptions_ = 0;
    // A merge being announced: the rows before it, and where its new rows went.
    struct Staged {
        const std::vector<HitRow>* old = nullptr;
        const std::vector<int>* inserted = nullptr;
    } staged_;
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
