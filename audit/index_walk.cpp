// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/index_walk.h"

namespace orb {

bool WalkIndex(CIndexReader& reader,
               const std::function<bool(const IndexEntry&, int32_t, const std::string&)>& visit,
               const std::atomic<bool>* stop) {
    struct Frame {
        IndexEntry entry;
        int32_t id;
        size_t pathLength;  // the level's path is path[0, pathLength)
    };
    std::vector<Frame> stack;
    std::string path;
    uint64_t budget = reader.MaxEntryCount();
    IndexEntry e;
    if (!reader.ReadFirstEntry(nullptr, e)) return true;
    stack.push_back({e, kFirstEntryId, 0});
    while (!stack.empty()) {
        if (budget-- == 0) return false;
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        Frame& top = stack.back();
        path.resize(top.pathLength);
        const IndexEntry current = top.entry;
        const int32_t id = top.id;
        if (!visit(current, id, path)) return false;
        // Move this level on before descending, so the stack holds only what is
        // still to come.
        IndexEntry next;
        if (reader.ReadNextEntry(current, next)) {
            top.entry = next;
            top.id = current.nextSibling;
        } else {
            stack.pop_back();
        }
        if (current.IsDirectory() && current.firstChild != kNoLink &&
            reader.ReadFirstEntry(&current, e)) {
            path.append(current.Name());
            path += '\\';
            stack.push_back({e, current.firstChild, path.size()});
        }
    }
    return true;
}

std::vector<IdentifiedEntry> ListIndexLevel(CIndexReader& reader, const IndexEntry* parent,
                                            uint64_t limit) {
    std::vector<IdentifiedEntry> out;
    IndexEntry e;
    if (!reader.ReadFirstEntry(parent, e)) return out;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    do {
        if (out.size() >= limit) break;
        out.push_back({e, id});
        id = e.nextSibling;
    } while (reader.ReadNextEntry(e, e));
    return out;
}

}  // namespace orb
