// SPDX-License-Identifier: GPL-3.0-or-later
// The disc index file (.orb) and its annotation companion (.orc), byte by byte.
// All numbers are little-endian; text is stored code page 936 / GB18030 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/le_bytes.h"

namespace orb {

constexpr char kIndexMagic[4] = {'O', 'R', 'B', 'F'};
constexpr uint32_t kMagicSize = 4;
constexpr uint32_t kHeaderSize = 88;
constexpr uint32_t kFirstEntryOffset = 92;  // magic + header
constexpr int32_t kFirstEntryId = 88;       // id of the record at 92
constexpr uint32_t kRecordFixedSize = 29;   // 28 fixed bytes + the name length byte
constexpr uint32_t kEntryFixedSize = 28;
constexpr int32_t kNoLink = -1;
constexpr uint32_t kEntryDirectory = 0x01;
constexpr size_t kLabelSize = 50;
constexpr size_t kMaxNameBytes = 255;
constexpr size_t kMaxPath = 260;

#pragma pack(push, 1)
struct IndexHeader {
    uint8_t space = 0x20;
    char label[kLabelSize] = {};
    uint8_t reserved[5] = {};
    uint64_t capacity = 0;
    uint32_t fileCount = 0;
    uint32_t dirCount = 0;
    uint32_t remarkOffset = 0;
    uint32_t remarkLength = 0;
    uint32_t coverOffset = 0;
    uint32_t coverSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(IndexHeader) == 88);
static_assert(offsetof(IndexHeader, label) == 1);
static_assert(offsetof(IndexHeader, reserved) == 51);
static_assert(offsetof(IndexHeader, capacity) == 56);
static_assert(offsetof(IndexHeader, fileCount) == 64);
static_assert(offsetof(IndexHeader, dirCount) == 68);
static_assert(offsetof(IndexHeader, remarkOffset) == 72);
static_assert(offsetof(IndexHeader, remarkLength) == 76);
static_assert(offsetof(IndexHeader, coverOffset) == 80);
static_assert(offsetof(IndexHeader, coverSize) == 84);

// The in-memory entry passed between readers, views and the search. The first
// 28 bytes equal the record's fixed part.
struct IndexEntry {
    int32_t firstChild = kNoLink;
    int32_t nextSibling = kNoLink;
    uint32_t flags = 0;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    FILETIME writeTime;
    char name[kMaxPath] = {};
    // Offset of the record this entry was read from (-1 when unknown). Not part of
    // the file: the reader uses it to refuse links that do not lead forward, which
    // is what keeps a damaged index from looping.
    int32_t recordOffset = kNoLink;

    bool IsDirectory() const { return (flags & kEntryDirectory) != 0; }
    uint64_t Size() const { return (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow; }
    void SetSize(uint64_t size) {
        sizeHigh = static_cast<uint32_t>(size >> 32);
        sizeLow = static_cast<uint32_t>(size);
    }
    std::string_view Name() const;
    void SetName(std::string_view storedName);  // cut to 255 bytes at a character boundary
};
static_assert(offsetof(IndexEntry, firstChild) == 0);
static_assert(offsetof(IndexEntry, nextSibling) == 4);
static_assert(offsetof(IndexEntry, flags) == 8);
static_assert(offsetof(IndexEntry, sizeHigh) == 12);
static_assert(offsetof(IndexEntry, sizeLow) == 16);
static_assert(offsetof(IndexEntry, writeTime) == 20);
static_assert(offsetof(IndexEntry, name) == 28);

// Little-endian codecs, independent of the host's byte order.
void EncodeHeader(const IndexHeader& h, unsigned char out[kHeaderSize]);
void DecodeHeader(const unsigned char in[kHeaderSize], IndexHeader& h);
// Appends one record (29 + n bytes) to out.
void AppendRecord(std::string& out, int32_t firstChild, int32_t nextSibling, uint32_t flags,
                  uint64_t size, const FILETIME& time, std::string_view name);
// Decodes the 28-byte fixed part into entry (links, flags, size, time).
void DecodeEntryFixed(const unsigned char in[kEntryFixedSize], IndexEntry& entry);

// The companion of an index: the path with its last character replaced by 'c'.
std::string CompanionPath(const std::string& indexPath);

// The volume label of a header as stored text.
std::string_view HeaderLabel(const IndexHeader& h);
void SetHeaderLabel(IndexHeader& h, std::string_view storedLabel);
// A volume label (stored text) as an index header keeps it: up to a NUL, cut to
// the header's 49 bytes at a character boundary. A drive's label is cut so before
// it is compared with a header's.
std::string_view LabelAsInHeader(std::string_view storedLabel);

}  // namespace orb
