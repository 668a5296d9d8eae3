// SPDX-License-Identifier: GPL-3.0-or-later
// Coding the posting lists of a name index segment from the keys of its blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "search/index/segment_bits.h"

namespace orb::segment_build {

// How the blocks of each bucket are gathered; both give the same bytes. A bit
// matrix of buckets by blocks needs no sorting and drops repeated keys for free,
// but grows with the square of the entries, so large discs sort instead.
enum class ListMethod { Auto, Matrix, Sort };

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
                     ListMethod method = ListMethod::Auto);

}  // namespace orb::segment_build
