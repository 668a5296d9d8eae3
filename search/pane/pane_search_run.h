// SPDX-License-Identifier: GPL-3.0-or-later
// One search of the search pane over many discs at once, without Qt: pool threads
// with a reader each, the name index where its segment is fresh, the walk with the
// byte test otherwise, and the hits handed over in batches.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/disc_search.h"
#include "search/index/library_name_index.h"
#include "search/pane/search_rules.h"

namespace orb {

// Copies a hit the engine reports into a store. The index path and the parent path
// are shared with the previous hit when they are equal (the caller keeps the last
// pair, one per writer).
SearchHit* CopySearchResult(CHitStore& store, const SearchResult& r,
                            const std::string*& lastIndexPath, const std::string*& lastParentPath);

class CPaneSearchRun {
public:
    // Hits handed over in batches of this many, the very first batch of the run
    // sooner so that the first rows show at once.
    static constexpr size_t kBatchHits = 8192;
    static constexpr size_t kFirstBatchHits = 64;

    struct Options {
        std::vector<std::string> indexPaths;  // in scope order
        std::string cacheDir;                 // the library's name index; empty: walk
        // The index held open across searches (type-ahead asks many); when set it
        // is used in place of opening cacheDir's segments for each disc.
        std::shared_ptr<CNameIndex> nameIndex;
        DiscSearchOptions search;
        size_t threads = 0;  // 0: a few per core
    };

    // wake runs on a pool thread when a batch lands in an empty queue and when the
    // run has ended; never after Cancel has returned.
    CPaneSearchRun(Options options, std::function<void()> wake);
    // Cancels and joins the pool (quick after a Cancel: a walk checks its stop flag
    // entry by entry).
    ~CPaneSearchRun();
    CPaneSearchRun(const CPaneSearchRun&) = delete;
    CPaneSearchRun& operator=(const CPaneSearchRun&) = delete;

    void Start();
    // Stops every disc in flight and starts no more; returns at once.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // The batches handed over since the last call, appended to out; false, at
    // once, when a pool thread holds the lock: the window never waits for a
    // thread that runs below its priority. Once Done, a successful call has
    // taken the last hits.
    bool TryTake(std::vector<PaneHitBatch>& out);
    // Every pool thread has finished its work: nothing more will be handed over.
    bool Done() const { return done_.load(); }
    // Every pool thread has returned: destroying the run waits for nothing.
    bool Exited() const { return exited_.load() == pool_.size(); }
    size_t DiscCount() const { return options_.indexPaths.size(); }
    size_t DiscsDone() const { return discsDone_.load(); }
    // Discs answered by the name index, and discs walked (those that did not open
    // are neither).
    size_t ThroughIndex() const { return throughIndex_.load(); }
    size_t Walked() const { return walked_.load(); }
    // The first disc in scope order that is not finished yet (DiscCount when all are).
    size_t FirstUnfinishedDisc() const { return firstUnfinished_.load(); }

    // Tests: runs on the thread that copied a hit, after each copy.
    std::function<void()> afterHit;

private:
    class CTarget;
    void Work();
    void HandOver(std::vector<HitRow>& rows, const std::shared_ptr<CHitStore>& store);

    const Options options_;
    std::vector<std::thread> pool_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::function<void()> wake_;  // under mutex_; cleared by Cancel
    std::vector<PaneHitBatch> queue_;
    std::vector<char> finished_;              // per disc, under mutex_
    std::atomic<size_t> firstUnfinished_{0};  // written under mutex_
    std::atomic<bool> firstHandedOver_{false};
    std::atomic<size_t> next_{0};
    size_t threads_ = 1;  // set before the pool starts
    std::once_flag changesTaken_;
    std::atomic<size_t> running_{0};
    std::atomic<size_t> discsDone_{0};
    std::atomic<size_t> throughIndex_{0};
    std::atomic<size_t> walked_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> done_{false};
    std::atomic<size_t> exited_{0};
};

}  // namespace orb
