// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/pane/pane_search_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "search/index/name_index.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

struct RunResult {
    std::vector<std::string> hits;  // "name@disc", sorted
    size_t done = 0, throughIndex = 0;
};

// Runs a search to its end (or, with cancelAfterHits, cancels it after that many
// hits), taking every batch.
RunResult RunToTheEnd(CPaneSearchRun::Options options, size_t cancelAfterHits = SIZE_MAX) {
    CPaneSearchRun run(std::move(options), nullptr);
    std::atomic<size_t> copied{0};
    run.afterHit = [&] {
        if (++copied == cancelAfterHits) run.Cancel();
    };
    run.Start();
    RunResult r;
    std::vector<PaneHitBatch> batches;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (bool last = false; !last && std::chrono::steady_clock::now() < deadline;) {
        last = run.Done() || (run.Cancelled() && run.Exited());
        if (!run.TryTake(batches)) last = false;
        if (!last) std::this_thread::yield();
    }
    EXPECT_TRUE(run.Done() || run.Cancelled());
    for (const PaneHitBatch& b : batches)
        for (const HitRow& row : b.rows)
            r.hits.push_back(std::string(row.hit->name) + "@" + HitDiscName(*row.hit->indexPath));
    std::sort(r.hits.begin(), r.hits.end());
    r.done = run.DiscsDone();
    r.throughIndex = run.ThroughIndex();
    return r;
}

// Through the held index, a worker takes discs in runs whose lists it reads ahead:
// every disc is searched once, and the hits are the walk's. A search cancelled in
// the middle of a run ends.
TEST(PaneSearchRun, RunsOfDiscsGiveTheWalksHits) {
    test::TempDir dir;
    const std::string lib = dir.path() + "/lib";
    ::setenv("XDG_CACHE_HOME", (dir.path() + "/cache").c_str(), 1);
    ASSERT_EQ(::mkdir(lib.c_str(), 0755), 0);
    CPaneSearchRun::Options options;
    for (int d = 0; d < 23; ++d) {
        const std::string disc = lib + "/d" + std::to_string(100 + d) + ".orb";
        std::vector<std::string> paths{"dir/"};
        for (int i = 0; i < 40; ++i)
            paths.push_back("dir/" + std::string(i % (d + 2) ? "straw" : "needle") +
                            std::to_string(i) + ".txt");
        ASSERT_FALSE(test::BuildIndex(disc, "D", paths).empty());
        options.indexPaths.push_back(disc);
    }
    ASSERT_EQ(RefreshNameIndex(lib, false).built, 23u);
    options.search.keyword = "needle";
    options.search.flags = SF_FILES | SF_DIRECTORIES;
    options.threads = 1;  // runs of five discs

    const RunResult walked = RunToTheEnd(options);
    EXPECT_EQ(walked.done, 23u);
    EXPECT_EQ(walked.throughIndex, 0u);
    ASSERT_GT(walked.hits.size(), 23u);

    options.nameIndex = std::make_shared<CNameIndex>(NameIndexDirectory(lib));
    for (int round = 0; round < 2; ++round) {
        const RunResult indexed = RunToTheEnd(options);
        EXPECT_EQ(indexed.done, 23u);
        EXPECT_EQ(indexed.throughIndex, 23u);
        EXPECT_EQ(indexed.hits, walked.hits);
    }
    EXPECT_GT(options.nameIndex->GetCounts().ahead, 0u);

    EXPECT_EQ(options.nameIndex->BytesHeldAhead(), 0u);
    // Cancelled mid-run: the discs of the run not searched let go of what was
    // read ahead for them too.
    const RunResult cancelled = RunToTheEnd(options, 3);
    EXPECT_LT(cancelled.done, 23u);
    EXPECT_EQ(options.nameIndex->BytesHeldAhead(), 0u);
    EXPECT_EQ(RunToTheEnd(options).hits, walked.hits);
}

}  // namespace
}  // namespace orb
