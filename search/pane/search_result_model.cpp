// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's result list as a model.
#include "search/pane/search_result_model.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "index/index_reader.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "search/name_match.h"

namespace orb {

namespace {
QString HostText(std::string_view stored) {
    std::string host = StoredToHost(stored);
    return QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size()));
}
}  // namespace

CSearchResultModel::CSearchResultModel(QObject* parent)
    : QAbstractTableModel(parent), rows_(std::make_shared<std::vector<HitRow>>()) {}

CSearchResultModel::~CSearchResultModel() {
    // A running merge posts its result to this object: it must end first (one
    // merge, bounded by the row count).
    {
        std::lock_guard<std::mutex> lock(mergeMutex_);
        mergerStop_ = true;
    }
    mergeWake_.notify_all();
    if (merger_.joinable()) merger_.join();
}

int CSearchResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_->size());
}

int CSearchResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant CSearchResultModel::data(const QModelIndex& index, int role) const {
    const SearchHit* hit = Hit(index.row());
    if (!hit || index.column() < 0 || index.column() > 2) return {};
    // Texts are decoded only for the rows a view asks for.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (index.column() == 0) return HostText(hit->name);
        if (index.column() == 1)
            return hit->indexPath ? QString::fromStdString(HitDiscName(*hit->indexPath))
                                  : QString();
        return hit->parentPath ? HostText(*hit->parentPath) : QString();
    }
    if (role == kMatchSpanRole && index.column() == 0 && !matchKeyword_.empty()) {
        NameMatchSpan span;
        if (!FindNameMatch(hit->name, hit->IsDirectory(), matchKeyword_, matchOptions_, span))
            return {};
        // Byte offsets of the stored name to positions in the decoded text.
        const qsizetype start = HostText(hit->name.substr(0, span.begin)).size();
        const qsizetype length =
            HostText(hit->name.substr(span.begin, span.end - span.begin)).size();
        return QPoint(static_cast<int>(start), static_cast<int>(length));
    }
    return {};
}

QVariant CSearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return QStringLiteral("名称");
    if (section == 1) return QStringLiteral("光盘");
    if (section == 2) return QStringLiteral("上级目录");
    return {};
}

const SearchHit* CSearchResultModel::Hit(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_->size()) return nullptr;
    const size_t r = static_cast<size_t>(row);
    if (staged_.old) {
        if (r < staged_.old->size()) return (*staged_.old)[r].hit;
        return (*rows_)[static_cast<size_t>((*staged_.inserted)[r - staged_.old->size()])].hit;
    }
    return (*rows_)[r].hit;
}

void CSearchResultModel::AddHits(std::vector<PaneHitBatch>& batches) {
    for (PaneHitBatch& b : batches) {
        if (b.store && std::find(stores_.begin(), stores_.end(), b.store) == stores_.end())
            stores_.push_back(b.store);
        queuedRows_ += b.rows.size();
        if (!b.rows.empty()) queued_.push_back(std::move(b.rows));
    }
    batches.clear();
    StartMerge();
}

void CSearchResultModel::StartMerge() {
    if (merging_ || queued_.empty()) return;
    // One change adds a bounded number of rows, so one merge's work on the
    // window's thread (announcing it, a view's own bookkeeping) stays bounded
    // whatever view shows the rows.
    size_t take = 0;
    size_t added = 0;
    while (take < queued_.size() && (added == 0 || added + queued_[take].size() <= kRowsPerChange))
        added += queued_[take++].size();
    const bool here = rows_->size() + added <= kMergeHereRows;
    // The worker runs below the window's priority and holds the lock only to take
    // a job; when it holds it now, the job is handed over a moment later rather
    // than waited for.
    std::unique_lock<std::mutex> lock(mergeMutex_, std::defer_lock);
    if (!here && !lock.try_lock()) {
        QTimer::singleShot(1, this, [this] { StartMerge(); });
        return;
    }
    auto batches = std::make_shared<std::vector<std::vector<HitRow>>>();
    for (size_t i = 0; i < take; ++i) {
        batches->push_back(std::move(queued_.front()));
        queued_.pop_front();
    }
    queuedRows_ -= added;
    // The batches are joined where the merge runs: on the window only when small.
    auto joined = [batches, added] {
        std::vector<HitRow> batch;
        batch.reserve(added);
        for (const auto& b : *batches) batch.insert(batch.end(), b.begin(), b.end());
        return batch;
    };
    const uint64_t generation = generation_;
    if (here) {
        ApplyMerge(generation, std::make_shared<MergedRows>(MergeRowsIntoCopy(*rows_, joined())));
        return;
    }
    // The merge reads the rows and the hits' names: the job holds both, so a
    // Clear meanwhile frees nothing it reads.
    merging_ = true;
    mergeJob_ = [this, generation, joined, rows = rows_, stores = stores_] {
        // On the merger: the room of rows replaced earlier is its own.
        auto merged =
            std::make_shared<MergedRows>(MergeRowsIntoCopy(*rows, joined(), std::move(room_)));
        QMetaObject::invokeMethod(
            this, [this, generation, merged] { ApplyMerge(generation, merged); },
            Qt::QueuedConnection);
    };
    mergeWake_.notify_all();
    lock.unlock();
    StartMerger();
}

void CSearchResultModel::StartMerger() {
    if (merger_.joinable()) return;
    merger_ = std::thread([this] {
        // Below the window's priority: the rows it shows meanwhile stay usable.
        LowerCurrentThreadPriority();
        std::unique_lock<std::mutex> lock(mergeMutex_);
        const auto ready = [this] {
            return mergerStop_ || mergeJob_ || !garbage_.empty() || !oldRows_.empty();
        };
        for (;;) {
            // Room kept for the next merge is given back once merges stop coming.
            if (!mergeWake_.wait_for(lock, std::chrono::seconds(1), ready)) {
                lock.unlock();
                room_ = std::vector<HitRow>();
                lock.lock();
                mergeWake_.wait(lock, ready);
            }
            if (mergerStop_) return;
            std::function<void()> job = std::move(mergeJob_);
            mergeJob_ = nullptr;
            std::vector<std::shared_ptr<const void>> garbage;
            garbage.swap(garbage_);
            std::vector<std::shared_ptr<const std::vector<HitRow>>> oldRows;
            oldRows.swap(oldRows_);
            lock.unlock();
            if (job) job();
            job = nullptr;  // the old rows it held go here, not on the window
            garbage.clear();
            for (auto& rows : oldRows) {
                // Rows no one else reads any more: the largest become the next
                // merge's room. Every row vector the model makes is non-const.
                if (rows.use_count() == 1 && rows->capacity() > room_.capacity())
                    room_.swap(*const_cast<std::vector<HitRow>*>(rows.get()));
                rows.reset();
            }
            lock.lock();
        }
    });
}

void CSearchResultModel::FreeRowsOnMerger(std::shared_ptr<const std::vector<HitRow>> rows) {
    if (rows) toFreeRows_.push_back(std::move(rows));
    FreeOnMerger(nullptr);
}

void CSearchResultModel::FreeOnMerger(std::shared_ptr<const void> block) {
    if (block) toFree_.push_back(std::move(block));
    if (toFree_.empty() && toFreeRows_.empty()) return;
    StartMerger();
    // Never waits for the merger, which runs below the window's priority: a busy
    // lock leaves the blocks for a moment later.
    std::unique_lock<std::mutex> lock(mergeMutex_, std::try_to_lock);
    if (!lock) {
        if (!freeRetryQueued_) {
            freeRetryQueued_ = true;
            QTimer::singleShot(1, this, [this] {
                freeRetryQueued_ = false;
                FreeOnMerger(nullptr);
            });
        }
        return;
    }
    for (auto& b : toFree_) garbage_.push_back(std::move(b));
    toFree_.clear();
    for (auto& r : toFreeRows_) oldRows_.push_back(std::move(r));
    toFreeRows_.clear();
    mergeWake_.notify_all();
}

void CSearchResultModel::ApplyMerge(uint64_t generation,
                                    const std::shared_ptr<MergedRows>& merged) {
    merging_ = false;
    if (generation == generation_) {
        std::shared_ptr<const std::vector<HitRow>> rows =
            std::make_shared<std::vector<HitRow>>(std::move(merged->rows));
        const int before = static_cast<int>(rows_->size());
        const int added = static_cast<int>(rows->size()) - before;
        // The rows replaced are freed on the merger: millions of them take a
        // while to give back.
        std::shared_ptr<const std::vector<HitRow>> old = rows_;
        // The new rows are announced at the end and the merge as new contents of
        // the rows before them, not as a layout change: a view that keeps
        // anything per row (a table's row header) would walk every row for that,
        // tens of milliseconds at millions of rows.
        // While the insertion is announced the rows read as they were, the new
        // ones after them (in their order among themselves).
        staged_ = {old.get(), &merged->inserted};
        if (added > 0) beginInsertRows(QModelIndex(), before, before + added - 1);
        rows_ = std::move(rows);
        if (added > 0) endInsertRows();
        staged_ = {};
        if (!merged->appended) {
            // The persistent rows (selection, current row) move to where their
            // hits went; only rows from before the merge have any.
            const QModelIndexList persistent = persistentIndexList();
            QModelIndexList moved;
            moved.reserve(persistent.size());
            for (const QModelIndex& from : persistent)
                moved.append(
                    createIndex(RowAfterMerge(from.row(), merged->inserted), from.column()));
            changePersistentIndexList(persistent, moved);
            // Rows before the first new one are as they were: a view showing
            // only those has nothing to repaint.
            const int last = static_cast<int>(rows_->size()) - 1;
            if (!merged->inserted.empty())
                emit dataChanged(index(merged->inserted.front(), 0),
                                 index(last, columnCount() - 1));
        }
        FreeRowsOnMerger(std::move(old));
    }
    FreeOnMerger(merged);
    StartMerge();
    if (merging_ || !queued_.empty()) return;
    auto narrows = std::move(narrows_);
    narrows_.clear();
    for (const auto& [keyword, matchCase] : narrows) NarrowNow(keyword, matchCase);
    emit settled();
}

void CSearchResultModel::Clear() {
    ++generation_;
    queued_.clear();
    queuedRows_ = 0;
    narrows_.clear();
    if (rows_->empty() && stores_.empty()) return;
    // The rows and the hits' stores are freed on the merger: after a large
    // search they are hundreds of megabytes.
    // Taken after the reset is announced: a view may still read the rows then.
    beginResetModel();
    auto old = std::make_shared<std::pair<std::shared_ptr<const std::vector<HitRow>>,
                                          std::vector<std::shared_ptr<CHitStore>>>>(
        std::move(rows_), std::move(stores_));
    rows_ = std::make_shared<std::vector<HitRow>>();
    stores_.clear();
    endResetModel();
    FreeOnMerger(std::move(old));
}

void CSearchResultModel::SetMatch(std::string_view storedKeyword, uint8_t options) {
    matchKeyword_.assign(storedKeyword);
    matchOptions_ = options;
}

void CMatchHighlightDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const QVariant span = index.data(kMatchSpanRole);
    if (!span.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);  // background, focus

    const QPoint s = span.toPoint();
    const int start = std::clamp(s.x(), 0, static_cast<int>(text.size()));
    const int length = std::clamp(s.y(), 0, static_cast<int>(text.size()) - start);
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const QColor normal = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor marked = selected ? normal : opt.palette.color(QPalette::Link);
    QFont bold = opt.font;
    bold.setBold(true);

    QRect r = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    r.adjust(2, 0, -2, 0);
    painter->save();
    painter->setClipRect(r);
    int x = r.left();
    auto draw = [&](const QString& piece, const QFont& font, const QColor& color) {
        painter->setFont(font);
        painter->setPen(color);
        painter->drawText(QRect(x, r.top(), r.right() - x + 1, r.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, piece);
        x += QFontMetrics(font).horizontalAdvance(piece);
    };
    draw(text.left(start), opt.font, normal);
    draw(text.mid(start, length), bold, marked);
    draw(text.mid(start + length), opt.font, normal);
    painter->restore();
}

void CSearchResultModel::Narrow(std::string_view storedKeyword, bool matchCase) {
    if (!IsSettled()) {
        narrows_.emplace_back(std::string(storedKeyword), matchCase);
        return;
    }
    NarrowNow(storedKeyword, matchCase);
}

void CSearchResultModel::NarrowNow(std::string_view storedKeyword, bool matchCase) {
    // One pass and one reset: removing scattered rows one range at a time would
    // cost a pass over every row per range.
    std::vector<HitRow> kept;
    for (const HitRow& row : *rows_)
        if (NameContainsKeyword(row.hit->name, storedKeyword, matchCase)) kept.push_back(row);
    if (kept.size() == rows_->size()) return;
    std::shared_ptr<const void> old = rows_;
    beginResetModel();
    rows_ = std::make_shared<std::vector<HitRow>>(std::move(kept));
    endResetModel();
    FreeOnMerger(std::move(old));
}

}  // namespace orb
