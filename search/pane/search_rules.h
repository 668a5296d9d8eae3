// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's rules without widgets: the scope tree's check states, the
// result rows kept sorted by name while hit batches arrive, narrowing the rows by a
// second keyword, and the pane's layout.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "index/index_format.h"
#include "ui/control_rules.h"

namespace orb {

// ---------------------------------------------------------------------------------
// Scope check states (the tree's state images 1 to 3).

inline constexpr int kScopeUnchecked = 1;
inline constexpr int kScopePartial = 2;
inline constexpr int kScopeChecked = 3;

// A click on the check box or the space key: 1 and 2 become 3, 3 becomes 1.
int ToggledScopeCheck(int state);
// A parent's state from its children's: 2 when any child is 2 or the children mix
// 1 and 3, else their common state. A parent without children keeps its own.
int CombinedScopeCheck(const std::vector<int>& childStates, int ownState);
// Whether a disc in this state is searched (2 or 3).
// The ticks of the discs after the scope was filled again from the library: a
// disc already shown (same index path) keeps its state, a disc new since then is
// ticked, so a first search finds something and a moved or new disc is not left
// out. A scope the user emptied stays empty as long as no disc is added.
std::vector<int> ScopeChecksAfterRefill(const std::vector<std::pair<std::string, int>>& before,
                                        const std::vector<std::string>& discPaths);

inline bool IsScopeSearched(int state) {
    return state == kScopePartial || state == kScopeChecked;
}

// ---------------------------------------------------------------------------------
// Result rows

// One hit as the result list keeps it: a copy of everything the engine's
// SearchResult carries. Its texts live in the search's CHitStore: the index path
// and the parent path are shared by every hit of one disc and one directory, and
// the records are carved from one growing arena, so a million hits cost neither
// a million path copies nor a million allocations.
struct SearchHit {
    std::string_view name;                    // stored bytes
    const std::string* indexPath = nullptr;   // host path of the index file
    const std::string* parentPath = nullptr;  // stored display path, LABEL:\dir\ .
    const std::string* annotation = nullptr;  // stored bytes; none when it has none
    int32_t firstChild = -1;
    int32_t nextSibling = -1;
    int32_t recordOffset = 0;
    uint32_t flags = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    FILETIME writeTime;
    uint64_t seq = 0;  // arrival order within the search: equal names keep it

    bool IsDirectory() const { return (flags & kEntryDirectory) != 0; }
    std::string_view Annotation() const {
        return annotation ? std::string_view(*annotation) : std::string_view();
    }
};

// Owns what the hits of one search point to. One writer (the worker's collector)
// adds to it while the window reads what was added before; nothing handed out
// ever moves.
class CHitStore {
public:
    CHitStore() = default;
    CHitStore(const CHitStore&) = delete;
    CHitStore& operator=(const CHitStore&) = delete;

    SearchHit* NewHit();
    std::string_view CopyName(std::string_view name);
    const std::string* AddText(std::string_view text);

private:
    std::pmr::monotonic_buffer_resource arena_{size_t{1} << 16};
    std::deque<std::string> texts_;
};

// A row of the result list: the hit and its first eight name bytes, A-Z folded,
// as a big-endian number. Most comparisons end on the key, without reaching the
// hit's name elsewhere in memory.
struct HitRow {
    uint64_t key = 0;
    const SearchHit* hit = nullptr;
};

// The "光盘" column: the disc's name in the library, its index file name without
// the extension (host text).
std::string HitDiscName(const std::string& indexPath);

// Hits handed over together, all in one store.
struct PaneHitBatch {
    std::shared_ptr<CHitStore> store;
    std::vector<HitRow> rows;
};

// The key of a stored name: ordering keys never contradicts ordering names.
uint64_t HitSortKey(std::string_view storedName);
HitRow MakeHitRow(const SearchHit* hit);

// The rows' order: names in natural order (CompareNatural); equal names keep the
// order in which they were found.
bool HitNameLess(const SearchHit& a, const SearchHit& b);
// Rows with equal names by arrival, so an unstable sort gives the stable order.
inline bool HitRowLess(const HitRow& a, const HitRow& b) {
    if (a.key != b.key) return a.key < b.key;
    if (HitNameLess(*a.hit, *b.hit)) return true;
    if (HitNameLess(*b.hit, *a.hit)) return false;
    return a.hit->seq < b.hit->seq;
}

// Merges a batch of hits, which arrived after every row, into rows that are
// sorted by HitRowLess. The batch is sorted first unless batchSorted says it
// already is. `inserted` receives, for each new hit in order, its final row; it is
// the caller's so that its room is reused. Costs one binary search per hit and one
// pass of moves, so large row counts take small batches cheaply.
void MergeHitBatch(std::vector<HitRow>& rows, std::vector<HitRow>& batch,
                   std::vector<int>& inserted, bool batchSorted = false);

// The rows after merging a batch of later hits, built as a new vector so that the
// merge can run off the window's thread while the window still shows the old rows.
// inserted: the final row of each new hit, ascending; appended: every new hit went
// after every old row. The rows are built in `room`, whose contents are dropped and
// whose memory is reused: a fresh vector of millions of rows costs a page fault per
// page on every merge.
struct MergedRows {
    std::vector<HitRow> rows;
    std::vector<int> inserted;
    bool appended = false;
};
MergedRows MergeRowsIntoCopy(const std::vector<HitRow>& rows, std::vector<HitRow> batch,
                             std::vector<HitRow> room = {});

// The new row of an old row after a merge that inserted at `inserted` (final rows,
// ascending).
int RowAfterMerge(int oldRow, const std::vector<int>& inserted);

// Narrowing ("在结果中查询"): the name contains the keyword as a byte substring;
// without matchCase both are compared with A-Z folded.
bool NameContainsKeyword(std::string_view storedName, std::string_view storedKeyword,
                         bool matchCase);

// "%d个结果被找到"
std::string ResultCountText(size_t count);

// ---------------------------------------------------------------------------------
// Type-ahead: results follow the keyword as it is typed.

// When an edited keyword is searched: once the typing pauses for kDelayMs, and
// only when it differs from the keyword whose results are shown or coming. A
// full search (搜索, Enter) or a narrowing drops the pending query.
class CTypeAhead {
public:
    static constexpr int64_t kDelayMs = 150;

    // The user changed the keyword at nowMs (milliseconds of any steady clock).
    void Edited(std::string keyword, int64_t nowMs);
    // When the pending query falls due; -1 when none is pending.
    int64_t DueAt() const { return pending_ ? editedAt_ + kDelayMs : -1; }
    // The keyword to search at nowMs, taken (empty: the box was emptied, clear
    // the list); false while the typing goes on or when nothing new is asked.
    bool TakeDue(int64_t nowMs, std::string& keyword);
    // A full search or a narrowing by this keyword.
    void Superseded(std::string keyword);

private:
    std::string keyword_;   // latest edit
    std::string searched_;  // keyword of the latest query or full search
    int64_t editedAt_ = 0;
    bool pending_ = false;
};

// ---------------------------------------------------------------------------------
// Layout

struct SearchPaneLayout {
    bool apply = false;  // false: the size is ignored (height below 200)
    UiRect button;
    UiRect keyword;
    UiRect progress;
    UiRect tabs;
    UiRect splitter;
    UiRect list;
};

// The pane's layout for a client size w × h: the tab control keeps its top
// (tabTop); tabs and list share the rest in proportion to their current heights.
SearchPaneLayout ComputeSearchPaneLayout(int w, int h, int tabTop, int tabHeight, int listHeight);

}  // namespace orb
