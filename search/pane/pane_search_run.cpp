// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's parallel search over the checked discs.
#include "search/pane/pane_search_run.h"

#include <algorithm>

#include "platform/threads.h"
#include "search/index/name_index.h"

namespace orb {

SearchHit* CopySearchResult(CHitStore& store, const SearchResult& r,
                            const std::string*& lastIndexPath, const std::string*& lastParentPath) {
    SearchHit* hit = store.NewHit();
    hit->name = store.CopyName(r.entry.Name());
    if (!lastIndexPath || *lastIndexPath != r.fullIndexPath)
        lastIndexPath = store.AddText(r.fullIndexPath);
    if (!lastParentPath || *lastParentPath != r.fullParentPath)
        lastParentPath = store.AddText(r.fullParentPath);
    hit->indexPath = lastIndexPath;
    hit->parentPath = lastParentPath;
    hit->firstChild = r.entry.firstChild;
    hit->nextSibling = r.entry.nextSibling;
    hit->recordOffset = r.entry.recordOffset;
    hit->flags = r.entry.flags;
    hit->sizeHigh = r.entry.sizeHigh;
    hit->sizeLow = r.entry.sizeLow;
    hit->writeTime = r.entry.writeTime;
    if (!r.annotation.empty()) hit->annotation = store.AddText(r.annotation);
    return hit;
}

// A pool thread's notify target: the engine's worker (or the name index, on the
// pool thread itself) reports the hits of the thread's current disc to it.
class CPaneSearchRun::CTarget : public IMessageTarget {
public:
    explicit CTarget(CPaneSearchRun& run) : run_(run), store_(std::make_shared<CHitStore>()) {}

    void BeginDisc(size_t disc) {
        disc_ = disc;
        hitNo_ = 0;
        finished_ = false;
        lastIndexPath_ = lastParentPath_ = nullptr;
    }
    void Hit(const SearchResult& r) {
        if (run_.cancelled_.load(std::memory_order_relaxed)) return;
        SearchHit* hit = CopySearchResult(*store_, r, lastIndexPath_, lastParentPath_);
        // Equal names keep scope order, then walk order, whichever thread ran first.
        hit->seq = (static_cast<uint64_t>(disc_) << 32) | hitNo_++;
        rows_.push_back(MakeHitRow(hit));
        if (run_.afterHit) run_.afterHit();
        const size_t limit =
            run_.firstHandedOver_.load(std::memory_order_relaxed) ? kBatchHits : kFirstBatchHits;
        if (rows_.size() >= limit) Flush();
    }
    void Flush() {
        if (!rows_.empty()) run_.HandOver(rows_, store_);
    }
    bool Finished() const { return finished_; }

    LRESULT Send(uint32_t msg, WPARAM code, LPARAM lParam) override {
        if (msg == WM_SEARCH_EVENT && code == SEARCH_FOUND)
            Hit(*reinterpret_cast<const SearchResult*>(lParam));
        return 0;
    }
    void Post(uint32_t msg, WPARAM code, LPARAM) override {
        if (msg != WM_SEARCH_EVENT || code != SEARCH_FINISHED) return;
        std::lock_guard<std::mutex> lock(run_.mutex_);
        finished_ = true;
        run_.cv_.notify_all();
    }

private:
    CPaneSearchRun& run_;
    std::shared_ptr<CHitStore> store_;  // one writer: this thread's discs, one at a time
    std::vector<HitRow> rows_;
    size_t disc_ = 0;
    uint32_t hitNo_ = 0;
    bool finished_ = false;  // under run_.mutex_
    const std::string* lastIndexPath_ = nullptr;
    const std::string* lastParentPath_ = nullptr;
};

CPaneSearchRun::CPaneSearchRun(Options options, std::function<void()> wake)
    : options_(std::move(options)), wake_(std::move(wake)), finished_(options_.indexPaths.size()) {}

CPaneSearchRun::~CPaneSearchRun() {
    Cancel();
    for (std::thread& t : pool_)
        if (t.joinable()) t.join();
}

void CPaneSearchRun::Start() {
    size_t threads = options_.threads;
    if (threads == 0) {
        // A few per core: a disc whose worker is starting or waiting for its file
        // does not leave a core idle.
        const unsigned cores = std::thread::hardware_concurrency();
        threads = std::clamp<size_t>(size_t{cores == 0 ? 2 : cores} * 2, 2, 8);
    }
    threads = std::max<size_t>(1, std::min(threads, options_.indexPaths.size()));
    threads_ = threads;
    running_.store(threads);
    for (size_t i = 0; i < threads; ++i) pool_.emplace_back([this] { Work(); });
}

void CPaneSearchRun::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_.store(true);
    wake_ = nullptr;
    cv_.notify_all();
}

bool CPaneSearchRun::TryTake(std::vector<PaneHitBatch>& out) {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock) return false;
    for (PaneHitBatch& b : queue_) out.push_back(std::move(b));
    queue_.clear();
    return true;
}

void CPaneSearchRun::HandOver(std::vector<HitRow>& rows, const std::shared_ptr<CHitStore>& store) {
    std::vector<HitRow> handed;
    handed.swap(rows);
    rows.reserve(kBatchHits);  // outside the lock the window takes batches under
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasEmpty = queue_.empty();
    queue_.push_back({store, std::move(handed)});
    firstHandedOver_.store(true, std::memory_order_relaxed);
    if (wasEmpty && wake_) wake_();
}

void CPaneSearchRun::Work() {
    // Below the window: the engine's walkers, started from here, inherit it.
    // Not at the bottom: these threads take locks the window takes too (posting
    // to it, the allocator), and one preempted at the lowest nice value kept the
    // window waiting for it for 100 ms on a busy machine.
    LowerCurrentThreadPriority();
    // What the library's folders reported since the last search, taken in once
    // before any disc is searched (a disc whose folder reported nothing is
    // searched without looking at its files); on a worker, as it waits for a lock
    // that workers of earlier searches take.
    if (options_.nameIndex)
        std::call_once(changesTaken_, [this] { options_.nameIndex->TakeChanges(); });
    CIndexReader reader;
    // A disc that cannot hold the keyword is not walked at all.
    reader.SetSearchShortcut(true);
    CTarget target(*this);
    const DiscSearchOptions& search = options_.search;
    const std::vector<std::string>& paths = options_.indexPaths;
    // Through the held index, discs are taken in runs whose lists are read in one
    // batch; short enough runs that every thread gets some.
    const size_t run = options_.nameIndex ? std::clamp<size_t>(paths.size() / (threads_ * 4), 1,
                                                               CNameIndex::kReadAheadDiscs)
                                          : 1;
    for (size_t d = 0, end = 0;; ++d) {
        if (d == end) {
            d = next_.fetch_add(run);
            end = std::min(paths.size(), d + run);
            if (d < end && run > 1 && !cancelled_.load())
                options_.nameIndex->ReadAhead(&paths[d], end - d, search);
        }
        if (d >= paths.size()) break;
        if (cancelled_.load()) {
            // The rest of the run is not searched: what was read ahead for it goes.
            if (run > 1) options_.nameIndex->ForgetAhead(&paths[d], end - d);
            break;
        }
        const std::string& path = paths[d];
        target.BeginDisc(d);
        const auto hit = [&](const SearchResult& r) { target.Hit(r); };
        if (options_.nameIndex
                ? options_.nameIndex->SearchDisc(path, search, hit)
                : !options_.cacheDir.empty() &&
                      SearchDiscThroughIndex(options_.cacheDir, path, search, reader, hit)) {
            throughIndex_.fetch_add(1);
        } else if (reader.Open(path, OpenMode::ReadShareAll)) {
            walked_.fetch_add(1);
            // A disc that does not open is skipped, as the disc-after-disc search did.
            reader.SetSearchOptions(&target, search.typeFilter, search.flags);
            // A start that fails has posted its end already, or posts none.
            const bool started = reader.BeginSearch(search.keyword) != nullptr;
            std::unique_lock<std::mutex> lock(mutex_);
            if (started) cv_.wait(lock, [&] { return target.Finished() || cancelled_.load(); });
            if (started && !target.Finished()) {
                // Stopped from outside: the worker stops at its next entry and still
                // posts its end, after which it never reaches the target again.
                lock.unlock();
                reader.StopSearch();
                lock.lock();
                cv_.wait(lock, [&] { return target.Finished(); });
            }
            lock.unlock();
            reader.Close();
        }
        target.Flush();
        discsDone_.fetch_add(1);
        std::lock_guard<std::mutex> lock(mutex_);
        finished_[d] = 1;
        size_t first = firstUnfinished_.load();
        while (first < finished_.size() && finished_[first]) ++first;
        firstUnfinished_.store(first);
    }
    target.Flush();
    if (running_.fetch_sub(1) == 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        done_.store(true);
        if (wake_) wake_();
    }
    exited_.fetch_add(1);
}

}  // namespace orb
