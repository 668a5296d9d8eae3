// SPDX-License-Identifier: GPL-3.0-or-later
// The generated pinyin readings table (pinyin_table.cpp): syllables, reading sets
// and the sets of GBK double-byte codes and of four-byte GB18030 characters.
#pragma once

#include <cstdint>

namespace orb::pinyin_data {

// GBK double-byte codes: lead 0x81-0xFE, trail 0x40-0xFE (0x7F never is one).
inline constexpr unsigned kGbkLeads = 126;
inline constexpr unsigned kGbkTrails = 191;

// A four-byte character with readings, by code point (sorted).
struct FourByteReading {
    uint32_t codePoint;
    uint16_t set;
};
// A run of four-byte BMP codes whose code points are consecutive too: the codes
// linear .. linear + count - 1 are the code points codePoint .. (sorted by linear).
struct BmpRange {
    uint32_t linear;
    uint32_t count;
    uint32_t codePoint;
};

// Syllables, lower case without tones, NUL-separated; syllable i starts at
// kSyllableOffset[i].
extern const uint16_t kSyllableCount;
extern const char kSyllableText[];
extern const uint16_t kSyllableOffset[];
// Reading sets: set s holds the syllables kSetMember[kSetStart[s] .. kSetStart[s+1]).
// Set 0 is empty (no reading).
extern const uint16_t kSetCount;
extern const uint16_t kSetStart[];
extern const uint16_t kSetMember[];
// The set of each GBK code, at (lead - 0x81) * kGbkTrails + (trail - 0x40).
extern const uint16_t kGbkSet[kGbkLeads * kGbkTrails];
extern const uint32_t kFourByteCount;
extern const FourByteReading kFourByte[];
extern const uint32_t kBmpRangeCount;
extern const BmpRange kBmpRange[];

}  // namespace orb::pinyin_data
