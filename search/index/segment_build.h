// SPDX-License-Identifier: GPL-3.0-or-later
// Coding the posting lists of a name index segment from the keys of its blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/index/segment_bits.h"

namespace orb::segment_build {

// How the blocks of each bucket are gathered; all give the same bytes. Bitmaps
// set a bit per key in each bucket's bitmap of blocks (a disc too large for
// them goes by block sets). Block sets make each block's buckets distinct before
// sorting them by bucket, which sorts fewer, in a cache-sized set; sorting every
// key is the plain way, kept to check the others against.
enum class ListMethod { Bitmaps, BlockSets, Sort };

// Keys laid out block after block: block b holds keys [blockEnds[b - 1],
// blockEnds[b]) (from 0 for the first); blockEnds has one end per block.
struct BlockKeys {
    const std::vector<uint32_t>& keys;
    const std::vector<uint32_t>& blockEnds;
};

// Codes the lists of (1 << bucketBits) buckets: per group of (1 << groupShift)
// buckets a 4-bit Rice parameter, then per bucket the number of its blocks plus
// one (gamma) and the gaps between them (Rice). Appends to bits; groupBits gets
// each group's first bit and, last, the end of the lists.
void CodeBucketLists(BlockKeys blocks, unsigned bucketBits, unsigned groupShift,
                     std::vector<uint32_t>& groupBits, segment_bits::CBitWriter& bits,
                     ListMethod method = ListMethod::Bitmaps);

// Each bucket's blocks as a bitmap, set while a disc's keys are made: one OR
// per key, no key kept. The bitmaps lie in planes of 64 blocks, one word per
// bucket; a disc whose bitmaps would not fit in kMostBitmapWords goes by its
// keys (CodeBucketLists).
class CBucketBitmaps {
public:
    static constexpr size_t kMostBitmapWords = size_t{1} << 19;  // 4 MB

    // For up to blocks blocks; false (nothing set up) when they would not fit.
    bool Start(unsigned bucketBits, size_t blocks);
    size_t Blocks() const { return blocks_; }
    // The words of the plane of block (below Blocks()), one per bucket: a key of
    // the block sets bit (block % 64) of its bucket's word.
    uint64_t* Plane(size_t block) { return map_.data() + ((block >> 6) << bucketBits_); }
    // The keys that follow belong to block (below Blocks()).
    void SetBlock(size_t block) {
        plane_ = Plane(block);
        bit_ = uint64_t{1} << (block & 63);
    }
    void Add(uint32_t key) { plane_[segment_bits::BucketOf(key, bucketBits_)] |= bit_; }
    // Codes the lists as CodeBucketLists does, for the first blocks blocks.
    void Code(size_t blocks, unsigned groupShift, std::vector<uint32_t>& groupBits,
              segment_bits::CBitWriter& bits);

private:
    std::vector<uint64_t> map_;
    std::vector<uint32_t> counts_;  // per bucket, while coding
    std::vector<uint8_t> rice_;     // per group, while coding
    unsigned bucketBits_ = 0;
    size_t blocks_ = 0;
    uint64_t* plane_ = nullptr;
    uint64_t bit_ = 0;
};

// Appends the table of groups: per entry of groupBits its bit offset (32 bits)
// and the check of the group's bytes (segment_bits::GroupCheck, 16 bits; 0 for
// the last entry, which only ends the lists).
void PutGroupTable(const std::string& stream, const std::vector<uint32_t>& groupBits,
                   std::string& out);

struct SegmentBuilds {
    size_t built = 0;
    size_t failed = 0;
};

// Builds the segments of these index files, several at once on the machine's
// cores (at most four), each thread at its caller's priority. Stops starting new
// ones when abort becomes non-zero.
SegmentBuilds BuildSegments(const std::string& cacheDir, const std::vector<std::string>& indexPaths,
                            const std::atomic<int>* abort);

// Of these index files, whose segments (at segmentPaths, one each) are fresh,
// those whose segment is not whole: read in full to check its checksum, several
// at once. One left unchecked when abort becomes non-zero is not listed.
std::vector<std::string> DamagedSegments(const std::string& cacheDir,
                                         const std::vector<std::string>& indexPaths,
                                         const std::vector<std::string>& segmentPaths,
                                         const std::atomic<int>* abort);

}  // namespace orb::segment_build
