// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane's rules without widgets.
#include "search/pane/search_rules.h"

#include <cstring>
#include <unordered_map>

#include "platform/text.h"

namespace orb {

int ToggledScopeCheck(int state) {
    return state == kScopeChecked ? kScopeUnchecked : kScopeChecked;
}

int CombinedScopeCheck(const std::vector<int>& childStates, int ownState) {
    if (childStates.empty()) return ownState;
    bool any1 = false;
    bool any3 = false;
    for (int s : childStates) {
        if (s == kScopePartial) return kScopePartial;
        if (s == kScopeChecked)
            any3 = true;
        else
            any1 = true;
    }
    if (any1 && any3) return kScopePartial;
    return any3 ? kScopeChecked : kScopeUnchecked;
}

std::vector<int> ScopeChecksAfterRefill(const std::vector<std::pair<std::string, int>>& before,
                                        const std::vector<std::string>& discPaths) {
    std::unordered_map<std::string_view, int> known;
    known.reserve(before.size());
    for (const auto& [path, state] : before) known.emplace(path, state);
    std::vector<int> states;
    states.reserve(discPaths.size());
    for (const std::string& path : discPaths) {
        const auto it = known.find(path);
        states.push_back(it == known.end() ? kScopeChecked : it->second);
    }
    return states;
}

std::string HitDiscName(const std::string& indexPath) {
    const size_t slash = indexPath.rfind('/');
    std::string name = slash == std::string::npos ? indexPath : indexPath.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

bool HitNameLess(const SearchHit& a, const SearchHit& b) {
    return CompareNatural(a.name, b.name) < 0;
}

uint64_t HitSortKey(std::string_view storedName) {
    return NaturalSortKey(storedName);
}

HitRow MakeHitRow(const SearchHit* hit) {
    return HitRow{HitSortKey(hit->name), hit};
}

SearchHit* CHitStore::NewHit() {
    return new (arena_.allocate(sizeof(SearchHit), alignof(SearchHit))) SearchHit();
}

std::string_view CHitStore::CopyName(std::string_view name) {
    if (name.empty()) return {};
    char* p = static_cast<char*>(arena_.allocate(name.size(), 1));
    std::memcpy(p, name.data(), name.size());
    return std::string_view(p, name.size());
}

const std::string* CHitStore::AddText(std::string_view text) {
    return &texts_.emplace_back(text);
}

void MergeHitBatch(std::vector<HitRow>& rows, std::vector<HitRow>& batch,
                   std::vector<int>& inserted, bool batchSorted) {
    // In place: an unstable sort is stable here, the arrival order being part of
    // the comparison, and needs no scratch room.
    if (!batchSorted) std::sort(batch.begin(), batch.end(), HitRowLess);
    const size_t n = rows.size();
    const size_t m = batch.size();
    inserted.resize(m);
    if (m == 0) return;
    // Where each new hit goes among the old rows (after every row that sorts
    // before it), never before the previous new hit. The search gallops forward
    // from the previous place: the probes stay near each other in memory instead
    // of reaching across a million rows for every hit.
    size_t from = 0;
    for (size_t j = 0; j < m; ++j) {
        size_t lo = from;
        size_t probe = from;
        size_t step = 1;
        while (probe < n && !HitRowLess(batch[j], rows[probe])) {
            lo = probe + 1;
            probe = from + step;
            step <<= 1;
        }
        const size_t hi = std::min(probe, n);
        from = static_cast<size_t>(std::upper_bound(rows.begin() + static_cast<std::ptrdiff_t>(lo),
                                                    rows.begin() + static_cast<std::ptrdiff_t>(hi),
                                                    batch[j], HitRowLess) -
                                   rows.begin());
        inserted[j] = static_cast<int>(from);
    }
    // Fill from the back: old rows move up by the number of new hits before them.
    // Room grows by doubling, so a long search moves each row only a few times.
    if (rows.capacity() < n + m) rows.reserve(std::max(n + m, 2 * rows.capacity()));
    rows.resize(n + m);
    size_t oldEnd = n;
    for (size_t j = m; j-- > 0;) {
        const size_t at = static_cast<size_t>(inserted[j]);
        std::move_backward(rows.begin() + static_cast<std::ptrdiff_t>(at),
                           rows.begin() + static_cast<std::ptrdiff_t>(oldEnd),
                           rows.begin() + static_cast<std::ptrdiff_t>(oldEnd + j + 1));
        rows[at + j] = std::move(batch[j]);
        inserted[j] = static_cast<int>(at + j);
        oldEnd = at;
    }
    batch.clear();
}

MergedRows MergeRowsIntoCopy(const std::vector<HitRow>& rows, std::vector<HitRow> batch,
                             std::vector<HitRow> room) {
    std::sort(batch.begin(), batch.end(), HitRowLess);
    MergedRows out;
    const size_t n = rows.size();
    const size_t m = batch.size();
    out.rows = std::move(room);
    out.rows.clear();
    out.rows.reserve(n + m);
    out.inserted.resize(m);
    out.appended = m > 0 && (n == 0 || !HitRowLess(batch.front(), rows.back()));
    size_t i = 0;
    size_t j = 0;
    // Later hits go after old rows that compare equal; the arrival order inside
    // the comparison keeps that from ever happening by chance.
    while (i < n && j < m) {
        if (HitRowLess(batch[j], rows[i])) {
            out.inserted[j] = static_cast<int>(out.rows.size());
            out.rows.push_back(batch[j++]);
        } else {
            out.rows.push_back(rows[i++]);
        }
    }
    out.rows.insert(out.rows.end(), rows.begin() + static_cast<std::ptrdiff_t>(i), rows.end());
    while (j < m) {
        out.inserted[j] = static_cast<int>(out.rows.size());
        out.rows.push_back(batch[j++]);
    }
    return out;
}

int RowAfterMerge(int oldRow, const std::vector<int>& inserted) {
    // The k-th inserted row (final index inserted[k]) lies before old row r exactly
    // when inserted[k] <= r + k; that predicate holds for a prefix of k.
    size_t lo = 0;
    size_t hi = inserted.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (inserted[mid] <= oldRow + static_cast<int>(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return oldRow + static_cast<int>(lo);
}

bool NameContainsKeyword(std::string_view storedName, std::string_view storedKeyword,
                         bool matchCase) {
    if (matchCase) return FindBytes(storedName, storedKeyword) != std::string_view::npos;
    std::string name = LowerAZCopy(storedName);
    std::string keyword = LowerAZCopy(storedKeyword);
    return FindBytes(name, keyword) != std::string_view::npos;
}

void CTypeAhead::Edited(std::string keyword, int64_t nowMs) {
    keyword_ = std::move(keyword);
    editedAt_ = nowMs;
    pending_ = true;
}

bool CTypeAhead::TakeDue(int64_t nowMs, std::string& keyword) {
    if (!pending_ || nowMs < editedAt_ + kDelayMs) return false;
    pending_ = false;
    // Typing back to what is shown asks for nothing new.
    if (keyword_ == searched_) return false;
    searched_ = keyword_;
    keyword = keyword_;
    return true;
}

void CTypeAhead::Superseded(std::string keyword) {
    pending_ = false;
    searched_ = std::move(keyword);
    keyword_ = searched_;
}

std::string ResultCountText(size_t count) {
    return std::to_string(count) + "个结果被找到";
}

SearchPaneLayout ComputeSearchPaneLayout(int w, int h, int tabTop, int tabHeight, int listHeight) {
    SearchPaneLayout l;
    if (h < 200) return l;
    w = std::max(w, 200);
    l.apply = true;
    l.button = {w - 80, 5, w - 2, 30};
    l.keyword = {65, 5, w - 85, 30};
    l.progress = {5, 35, w - 5, 45};
    const int available = std::max(0, h - tabTop - 8);
    int tH = std::max(0, tabHeight);
    int lH = std::max(0, listHeight);
    if (tH + lH == 0) tH = lH = 1;
    const int tabs = static_cast<int>(int64_t{tH} * available / (tH + lH));
    const int list = static_cast<int>(int64_t{lH} * available / (tH + lH));
    l.tabs = {0, tabTop, w, tabTop + tabs};
    l.splitter = {0, l.tabs.bottom, w, l.tabs.bottom + 8};
    l.list = {0, l.splitter.bottom, w, l.splitter.bottom + list};
    return l;
}

}  // namespace orb
