// SPDX-License-Identifier: GPL-3.0-or-later
// Building small indexes for the reader tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"

namespace orb::test {

inline FILETIME Time(uint32_t lo, uint32_t hi) {
    FILETIME t;
    t.dwLowDateTime = lo;
    t.dwHighDateTime = hi;
    return t;
}

inline IndexHeader MakeHeader(const std::string& label, uint64_t capacity, const CScanTree& tree) {
    IndexHeader h;
    SetHeaderLabel(h, label);
    h.capacity = capacity;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    return h;
}

// Lists one directory: (entry id, name) pairs, tracking ids as the views do.
inline std::vector<std::pair<int32_t, std::string>> ListIds(CIndexReader& r,
                                                            const IndexEntry* parent) {
    std::vector<std::pair<int32_t, std::string>> out;
    IndexEntry e;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    if (!r.ReadFirstEntry(parent, e)) return out;
    while (true) {
        out.push_back({id, std::string(e.Name())});
        id = e.nextSibling;
        if (!r.ReadNextEntry(e, e)) break;
    }
    return out;
}

// Walks every reachable entry depth first, at most budget entries; the number of
// entries visited. visit sees each entry as it is read.
inline uint64_t WalkAll(CIndexReader& r, const IndexEntry* parent, uint64_t& budget,
                        const std::function<void(const IndexEntry&)>& visit = {}) {
    uint64_t visits = 0;
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return 0;
    do {
        if (budget == 0) return visits;
        --budget;
        ++visits;
        if (visit) visit(e);
        if (e.IsDirectory()) visits += WalkAll(r, &e, budget, visit);
    } while (r.ReadNextEntry(e, e));
    return visits;
}

}  // namespace orb::test
