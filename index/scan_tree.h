// SPDX-License-Identifier: GPL-3.0-or-later
// The in-memory tree that the scanner and the converter build before they write
// an index. Nodes live in one array and names in one byte arena, so a tree of a
// million entries stays well under a hundred megabytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"

namespace orb {

using ScanNodeId = uint32_t;
constexpr ScanNodeId kNoNode = UINT32_MAX;

// The record's file offset (-1 until written) and the entry's fields; the name is
// kept in the tree's arena.
struct ScanItem {
    int32_t recordOffset = kNoLink;
    int32_t firstChild = kNoLink;
    int32_t nextSibling = kNoLink;
    uint32_t flags = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    FILETIME writeTime;
    uint32_t nameOffset = 0;
    uint8_t nameLength = 0;

    bool IsDirectory() const { return (flags & kEntryDirectory) != 0; }
    uint64_t Size() const { return (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow; }
};

struct ScanNode {
    ScanItem item;
    ScanNodeId parent = kNoNode;
    ScanNodeId firstChild = kNoNode;
    ScanNodeId lastChild = kNoNode;  // makes appending constant time
    ScanNodeId prevSibling = kNoNode;
    ScanNodeId nextSibling = kNoNode;
};

class CScanTree {
public:
    CScanTree() = default;
    CScanTree(const CScanTree&) = delete;
    CScanTree& operator=(const CScanTree&) = delete;
    CScanTree(CScanTree&&) = default;
    CScanTree& operator=(CScanTree&&) = default;

    // Appends a new node as the last child of parent (kNoNode: last top-level node).
    // A name longer than 255 bytes is cut at a character boundary.
    ScanNodeId Append(ScanNodeId parent, uint32_t flags, uint64_t size, const FILETIME& time,
                      std::string_view storedName);

    ScanNodeId Head() const { return head_; }  // first top-level node
    const ScanNode& Node(ScanNodeId id) const { return nodes_[id]; }
    ScanNode& Node(ScanNodeId id) { return nodes_[id]; }
    std::string_view Name(ScanNodeId id) const {
        const ScanItem& it = nodes_[id].item;
        return std::string_view(names_.data() + it.nameOffset, it.nameLength);
    }
    size_t Size() const { return nodes_.size(); }
    bool Empty() const { return nodes_.empty(); }
    uint32_t FileCount() const { return files_; }
    uint32_t DirectoryCount() const { return dirs_; }
    void Clear();
    void Reserve(size_t nodes, size_t nameBytes);
    // Bytes held by the tree (for memory checks).
    size_t MemoryUsage() const { return nodes_.capacity() * sizeof(ScanNode) + names_.capacity(); }

private:
    std::vector<ScanNode> nodes_;
    std::string names_;
    ScanNodeId head_ = kNoNode;
    ScanNodeId tail_ = kNoNode;
    uint32_t files_ = 0;
    uint32_t dirs_ = 0;
};

}  // namespace orb
