// SPDX-License-Identifier: GPL-3.0-or-later
// The layout of a name index segment and the identity of the index it describes,
// shared by the builder and the reader of segments (not for other callers).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "index/index_format.h"
#include "index/index_reader.h"
#include "platform/files.h"
#include "search/index/segment_bits.h"

namespace orb::segment_layout {

// Layout (little-endian): a fixed part (magic, what the segment describes, the
// counts and a checksum of the rest), then
//   - the record offset of the first entry of every block of kBlock entries in walk
//     order; when the index file does not hold its records in walk order, the
//     record offset of every entry follows;
//   - the directories (ordinal, ordinal after its subtree, parent directory,
//     record offset: 16 bytes each), which give a hit its path;
//   - per 64 buckets the bit offset of their first list and a check of their
//     bytes;
//   - the lists, one per bucket of hashed keys (each family of keys in buckets
//     of its own, see BucketOf): the blocks holding a key of the bucket,
//     Rice-coded gaps.
// Names are not copied: they are read from the index file, whose
// identity the segment checks. Postings name blocks, not entries: a key of
// random text is rare in a block, so a block costs about as many postings as
// its entries would, and gaps between blocks are much shorter. Blocks of 128
// entries keep the index within 16 bytes an entry; smaller blocks check fewer
// names per candidate (32: a quarter, for about 40% more bytes).
inline constexpr char kMagic[8] = {'K', 'O', 'R', 'B', 'N', 'I', 'X', '6'};
inline constexpr size_t kIdentitySize = 48 + kHeaderSize;
inline constexpr size_t kCounts = sizeof(kMagic) + kIdentitySize;
inline constexpr size_t kFixed = kCounts + 32 + 8;
inline constexpr size_t kGroupEntry = 6;  // bit offset of the group, check of its bytes
inline constexpr unsigned kBlockShift = 7;
inline constexpr uint32_t kBlock = 1u << kBlockShift;
inline constexpr unsigned kGroupShift = 6;  // buckets per entry of the group table
inline constexpr size_t kDirSize = 16;
inline constexpr uint32_t kFlagSequential = 1;
inline constexpr uint32_t kMaxBucketBits = 22;

// What a segment must agree with to describe its index: the index file's size,
// time, inode and header, and the companion's size and time (-1 when absent).
struct Identity {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t ino = 0;
    uint64_t dev = 0;
    int64_t companionSize = -1;
    int64_t companionMtimeNs = -1;
    unsigned char header[kHeaderSize] = {};
};

// The identity of an open index file, with its companion's; false when it is no
// regular file or its header cannot be read.
inline bool ReadIdentity(int fd, const std::string& indexPath, Identity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !ReadFully(fd, id.header, kHeaderSize, kMagicSize))
        return false;
    id.size = static_cast<uint64_t>(st.st_size);
    id.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    id.ino = st.st_ino;
    id.dev = st.st_dev;
    struct stat cs {};
    if (::stat(CompanionPath(indexPath).c_str(), &cs) == 0) {
        id.companionSize = cs.st_size;
        id.companionMtimeNs = int64_t{cs.st_mtim.tv_sec} * 1000000000 + cs.st_mtim.tv_nsec;
    }
    return true;
}

inline void PutIdentity(std::string& out, const Identity& id) {
    segment_bits::Put64(out, id.size);
    segment_bits::Put64(out, static_cast<uint64_t>(id.mtimeNs));
    segment_bits::Put64(out, id.ino);
    segment_bits::Put64(out, id.dev);
    segment_bits::Put64(out, static_cast<uint64_t>(id.companionSize));
    segment_bits::Put64(out, static_cast<uint64_t>(id.companionMtimeNs));
    out.append(reinterpret_cast<const char*>(id.header), kHeaderSize);
}

}  // namespace orb::segment_layout
