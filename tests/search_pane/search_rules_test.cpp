// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's plain rules (check states, the sorted merge of hit batches,
// type-ahead, narrowing, layout) and the engine's progress pacing the pane relies on.
#include "search/pane/search_rules.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/text.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

TEST(ScopeCheck, ToggleAndCombine) {
    EXPECT_EQ(ToggledScopeCheck(kScopeUnchecked), kScopeChecked);
    EXPECT_EQ(ToggledScopeCheck(kScopePartial), kScopeChecked);
    EXPECT_EQ(ToggledScopeCheck(kScopeChecked), kScopeUnchecked);

    EXPECT_EQ(CombinedScopeCheck({1, 1, 1}, 3), kScopeUnchecked);
    EXPECT_EQ(CombinedScopeCheck({3, 3}, 1), kScopeChecked);
    EXPECT_EQ(CombinedScopeCheck({1, 3}, 1), kScopePartial);
    EXPECT_EQ(CombinedScopeCheck({3, 3, 2}, 3), kScopePartial);
    EXPECT_EQ(CombinedScopeCheck({2}, 1), kScopePartial);
    // An empty category keeps what it was given.
    EXPECT_EQ(CombinedScopeCheck({}, 3), kScopeChecked);
    EXPECT_EQ(CombinedScopeCheck({}, 1), kScopeUnchecked);
}

HitRow Hit(CHitStore& store, const std::string& name, int tag) {
    SearchHit* h = store.NewHit();
    h->name = store.CopyName(name);
    h->recordOffset = tag;
    h->seq = static_cast<uint64_t>(tag);
    return MakeHitRow(h);
}

// Merging batch after batch gives exactly the stable sort of everything in arrival
// order, and RowAfterMerge follows every old row to its new place.
TEST(HitMerge, BatchesKeepRowsSortedAndStable) {
    std::mt19937 rng(11);
    // Names that agree on their first eight bytes and differ later, prefixes of
    // each other, letter case and double-byte characters.
    const char* names[] = {
        "a",        "B",        "b",        "setup.exe", "SETUP.EXE",  "z",         "\xB0\xA1",
        "Readme",   "",         "setup.ex", "setup.e",   "Setup.exe2", "setupABCD", "setupabcd.txt",
        "\xB0\x5A", "\xB0\x61", "\xB0\x41x"};
    CHitStore store;
    std::vector<HitRow> rows;
    std::vector<std::pair<std::string, int>> all;
    std::vector<HitRow> room;
    int tag = 0;
    for (int round = 0; round < 40; ++round) {
        std::vector<HitRow> batch;
        size_t n = rng() % 7;
        for (size_t i = 0; i < n; ++i) {
            std::string name = names[rng() % std::size(names)];
            if (rng() % 3 == 0) name += std::to_string(rng() % 5);
            all.emplace_back(name, tag);
            batch.push_back(Hit(store, name, tag++));
        }
        std::vector<int> oldTags;
        for (auto& r : rows) oldTags.push_back(r.hit->recordOffset);
        // The copy the model merges off the window's thread agrees with the merge
        // in place, row for row.
        const std::vector<HitRow> before = rows;
        const bool appends =
            !batch.empty() &&
            (rows.empty() ||
             !HitRowLess(*std::min_element(batch.begin(), batch.end(), HitRowLess), rows.back()));
        // Built in the room of an earlier round's rows, which are dropped.
        MergedRows copy = MergeRowsIntoCopy(before, batch, std::move(room));
        std::vector<int> inserted;
        MergeHitBatch(rows, batch, inserted);
        ASSERT_EQ(copy.rows.size(), rows.size());
        for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(copy.rows[k].hit, rows[k].hit);
        EXPECT_EQ(copy.inserted, inserted);
        EXPECT_EQ(copy.appended, appends);
        if (copy.appended) {
            for (int at : copy.inserted) EXPECT_GE(at, static_cast<int>(before.size()));
        }
        EXPECT_TRUE(batch.empty());
        ASSERT_EQ(inserted.size(), n);
        for (size_t k = 0; k + 1 < inserted.size(); ++k) EXPECT_LT(inserted[k], inserted[k + 1]);
        for (size_t r = 0; r < oldTags.size(); ++r)
            EXPECT_EQ(rows[static_cast<size_t>(RowAfterMerge(static_cast<int>(r), inserted))]
                          .hit->recordOffset,
                      oldTags[r]);
        room = round % 3 != 0 ? std::move(copy.rows) : std::vector<HitRow>();
    }
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
        return CompareNatural(a.first, b.first) < 0;
    });
    ASSERT_EQ(rows.size(), all.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].hit->name, all[i].first) << i;
        EXPECT_EQ(rows[i].hit->recordOffset, all[i].second) << i;
    }
}

// Type-ahead: a query falls due once the typing pauses, and only for a keyword
// not yet searched.
TEST(TypeAhead, DebouncesAndSkipsWhatIsShown) {
    CTypeAhead t;
    std::string q;
    EXPECT_EQ(t.DueAt(), -1);
    EXPECT_FALSE(t.TakeDue(1000, q));
    t.Edited("s", 0);
    t.Edited("se", 100);  // still typing: the pause starts again
    EXPECT_EQ(t.DueAt(), 100 + CTypeAhead::kDelayMs);
    EXPECT_FALSE(t.TakeDue(200, q));
    ASSERT_TRUE(t.TakeDue(250, q));
    EXPECT_EQ(q, "se");
    EXPECT_FALSE(t.TakeDue(1000, q));  // taken once

    // Typed and taken back within the pause: what is shown stays.
    t.Edited("set", 500);
    t.Edited("se", 550);
    EXPECT_FALSE(t.TakeDue(800, q));
    EXPECT_EQ(t.DueAt(), -1);

    // The box emptied: an empty query, to clear the list.
    t.Edited("", 900);
    ASSERT_TRUE(t.TakeDue(1100, q));
    EXPECT_TRUE(q.empty());

    // A full search drops the pending query; its keyword counts as shown.
    t.Edited("abc", 1200);
    t.Superseded("abc");
    EXPECT_EQ(t.DueAt(), -1);
    EXPECT_FALSE(t.TakeDue(5000, q));
    t.Edited("abc", 5000);
    EXPECT_FALSE(t.TakeDue(6000, q));
    t.Edited("abcd", 6000);
    ASSERT_TRUE(t.TakeDue(6200, q));
    EXPECT_EQ(q, "abcd");
}

TEST(Narrowing, CaseFoldsOnlyWithoutMatchCase) {
    EXPECT_TRUE(NameContainsKeyword("MySetup.exe", "setup", false));
    EXPECT_TRUE(NameContainsKeyword("MySetup.exe", "SETUP", false));
    EXPECT_FALSE(NameContainsKeyword("MySetup.exe", "setup", true));
    EXPECT_TRUE(NameContainsKeyword("MySetup.exe", "Setup", true));
    // The extension is part of the name here, unlike the engine's file test.
    EXPECT_TRUE(NameContainsKeyword("setup.exe", "exe", false));
    // Only A-Z fold: double-byte characters compare as they are.
    EXPECT_TRUE(NameContainsKeyword("\xB0\xC1x", "\xB0\xC1X", false));
    EXPECT_FALSE(NameContainsKeyword("\xB0\xE1", "\xB0\xC1", false));
    EXPECT_EQ(ResultCountText(0), "0个结果被找到");
    EXPECT_EQ(ResultCountText(1234), "1234个结果被找到");
}

TEST(PaneLayout, RuleOfTheSizes) {
    EXPECT_FALSE(ComputeSearchPaneLayout(300, 199, 52, 100, 100).apply);
    SearchPaneLayout l = ComputeSearchPaneLayout(150, 452, 52, 100, 300);
    ASSERT_TRUE(l.apply);  // a width below 200 counts as 200
    EXPECT_EQ(l.button, (UiRect{120, 5, 198, 30}));
    EXPECT_EQ(l.keyword, (UiRect{65, 5, 115, 30}));
    EXPECT_EQ(l.progress, (UiRect{5, 35, 195, 45}));
    // A = 452 - 52 - 8 = 392, shared 1:3.
    EXPECT_EQ(l.tabs, (UiRect{0, 52, 200, 150}));
    EXPECT_EQ(l.splitter, (UiRect{0, 150, 200, 158}));
    EXPECT_EQ(l.list, (UiRect{0, 158, 200, 452}));
}

// The pane shows the engine's percentages; the engine sends one only when the
// whole percentage changes, instead of once per entry.
TEST(EngineProgress, SentOnlyWhenThePercentageChanges) {
    test::TempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 1000; ++i) paths.push_back("f" + std::to_string(i) + ".txt");
    test::BuildIndex(dir / "p.orb", "P", paths);
    CIndexReader r;
    ASSERT_TRUE(r.Open(dir / "p.orb", OpenMode::ReadShareAll));
    test::RecordingTarget t;
    r.SetSearchOptions(&t, "*", SF_FILES);
    ASSERT_NE(r.BeginSearch("f1"), nullptr);
    ASSERT_TRUE(t.WaitFinished());
    std::vector<LPARAM> progress = t.Progress();
    ASSERT_EQ(progress.size(), 101u);
    for (size_t i = 0; i < progress.size(); ++i) EXPECT_EQ(progress[i], static_cast<LPARAM>(i));
    EXPECT_EQ(t.Hits().size(), 111u);  // f1, f10-f19, f100-f199
}

}  // namespace
}  // namespace orb
