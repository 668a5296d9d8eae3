// SPDX-License-Identifier: GPL-3.0-or-later
// A whole-index walk without recursion: a damaged index with deeply nested
// directories cannot exhaust the stack, and the walk is bounded by the records
// the file could hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "index/index_reader.h"

namespace orb {

// Visits every entry depth first, each directory right before its contents, in
// index order. dirPath is the stored path of the entry's directory relative to
// the disc root, each directory followed by '\' ("" at the top level). visit
// returns false to end the walk. False when the walk was ended early (by visit,
// stop, or the bound).
bool WalkIndex(
    CIndexReader& reader,
    const std::function<bool(const IndexEntry& e, int32_t id, const std::string& dirPath)>& visit,
    const std::atomic<bool>* stop = nullptr);

// One directory's entries with their ids, in index order (parent null: the top
// level); at most limit entries.
struct IdentifiedEntry {
    IndexEntry entry;
    int32_t id = 0;
};
std::vector<IdentifiedEntry> ListIndexLevel(CIndexReader& reader, const IndexEntry* parent,
                                            uint64_t limit);

}  // namespace orb
