// SPDX-License-Identifier: GPL-3.0-or-later
// Builds index files in the layout of release 2.2 by hand, the way its writer laid
// them out: 84-byte header, records depth first (each directory's record followed
// by its contents), then the remark and the cover.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orb::test {

struct OldEntry {
    std::string name;  // stored bytes
    bool directory = false;
    uint64_t size = 0;
    uint64_t time = 0;  // FILETIME as one number
    std::vector<OldEntry> children;
};

struct OldIndex {
    std::string label;  // written into the 52-byte field, cut to 52 bytes
    uint32_t capacity = 0;
    std::optional<uint32_t> dirCount;   // counted from the tree when unset
    std::optional<uint32_t> fileCount;  // counted from the tree when unset
    std::string remark;
    std::string cover;
    std::vector<OldEntry> top;
    // Bits the old writer left in the name length above its low byte.
    uint32_t nameLengthHighBits = 0;
};

// The file's bytes.
std::string BuildOldIndex(const OldIndex& index);
// Offset where the records end and the remark begins.
uint32_t OldRecordsEnd(const OldIndex& index);

uint32_t CountDirectories(const std::vector<OldEntry>& list);
uint32_t CountFiles(const std::vector<OldEntry>& list);

}  // namespace orb::test
