// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/scan_tree.h"

#include "platform/text.h"

namespace orb {

ScanNodeId CScanTree::Append(ScanNodeId parent, uint32_t flags, uint64_t size, const FILETIME& time,
                             std::string_view name) {
    if (name.size() > kMaxNameBytes) name = CutAtCharBoundary(name, kMaxNameBytes);
    ScanNodeId id = static_cast<ScanNodeId>(nodes_.size());
    ScanNode n;
    n.item.flags = flags;
    n.item.sizeHigh = static_cast<uint32_t>(size >> 32);
    n.item.sizeLow = static_cast<uint32_t>(size);
    n.item.writeTime = time;
    n.item.nameOffset = static_cast<uint32_t>(names_.size());
    n.item.nameLength = static_cast<uint8_t>(name.size());
    names_.append(name);
    n.parent = parent;
    const ScanNodeId last = (parent == kNoNode) ? tail_ : nodes_[parent].lastChild;
    n.prevSibling = last;
    nodes_.push_back(n);
    if (last != kNoNode) {
        nodes_[last].nextSibling = id;
    } else if (parent == kNoNode) {
        head_ = id;
    } else {
        nodes_[parent].firstChild = id;
    }
    if (parent == kNoNode)
        tail_ = id;
    else
        nodes_[parent].lastChild = id;
    if (flags & kEntryDirectory)
        ++dirs_;
    else
        ++files_;
    return id;
}

void CScanTree::Clear() {
    nodes_.clear();
    names_.clear();
    head_ = tail_ = kNoNode;
    files_ = dirs_ = 0;
}

void CScanTree::Reserve(size_t nodes, size_t nameBytes) {
    nodes_.reserve(nodes);
    names_.reserve(nameBytes);
}

}  // namespace orb
