// SPDX-License-Identifier: GPL-3.0-or-later
// Index files written by release 2.2 and earlier: an 84-byte header without magic,
// then records of 32 + n bytes linked by file offsets, then the remark and the
// cover read on from where the last record ended.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "index/index_format.h"
#include "index/scan_tree.h"

namespace orb {

constexpr uint32_t kOldHeaderSize = 84;
constexpr uint32_t kOldFirstEntryOffset = 84;
constexpr uint32_t kOldRecordFixedSize = 32;
constexpr size_t kOldLabelSize = 52;

// Field offsets of the old header.
constexpr uint32_t kOldLabelAt = 4;
constexpr uint32_t kOldCapacityAt = 56;
constexpr uint32_t kOldDirCountAt = 60;  // directories before files, unlike the new header
constexpr uint32_t kOldFileCountAt = 64;
constexpr uint32_t kOldRemarkLengthAt = 72;
constexpr uint32_t kOldCoverSizeAt = 80;

// An old index decoded into what the new writer needs. remark and cover point
// into the buffer that was parsed.
struct OldIndexContent {
    IndexHeader header;  // label, capacity and counts set; offsets left to the writer
    CScanTree tree;
    std::string_view remark;
    std::string_view cover;
};

// True when data starts with the new format's magic "ORBF".
bool HasNewIndexMagic(std::string_view data);

// Decodes a whole old index file. Returns false, with a reason in error (host
// text), when the bytes are not a plausible old index: shorter than the header,
// a link that leaves the file or leads back onto a record already read (a loop
// or overlapping records), or a remark and cover that run past the end.
// An index whose header counts are both 0 has no records: offset 84 then holds
// the remark, the cover or nothing. Records that the child link of a file leads
// to are read past but not kept (no reader lists a file's contents).
bool ParseOldIndex(std::string_view data, OldIndexContent& out, std::string* error = nullptr);

}  // namespace orb
