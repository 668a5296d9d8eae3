// SPDX-License-Identifier: GPL-3.0-or-later
// Pinyin matching of names: a keyword of ASCII letters finds a run of Chinese
// characters (with the letters and digits the name has among them) when it spells
// each character by one of its readings or by its initial, the last one possibly
// cut short. Works on stored (GBK / GB18030) bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// The readings of the stored character at the start of ch (lower case, no tones;
// u-umlaut as both "v" and "u"); empty for anything without a reading.
std::vector<std::string_view> PinyinReadings(std::string_view ch);

// The reading set (an index into the generated table, 0: no reading) of the
// stored multi-byte character of n bytes at p, and the letters its readings begin
// with (bit 0 = 'a').
uint16_t PinyinReadingSet(const unsigned char* p, size_t n);
uint32_t PinyinReadingSetInitials(uint16_t set);

// The code point of a four-byte GB18030 sequence, or 0 when p does not start one.
uint32_t Gb18030FourByteCodePoint(const unsigned char* p, size_t n);

// Whether a keyword takes part in pinyin matching: ASCII letters and digits only,
// at least one letter.
bool IsPinyinKeyword(std::string_view keyword);

class CPinyinMatcher {
public:
    CPinyinMatcher() = default;
    // keyword: stored bytes. With matchCase the letters of the name must have the
    // keyword's case; the letters spelling a reading never distinguish case.
    CPinyinMatcher(std::string_view keyword, bool matchCase);

    // False when the keyword cannot spell anything (see IsPinyinKeyword).
    bool Active() const { return length_ > 0; }
    // Whether some run of text, or with wholeText the whole text, is spelled by
    // the keyword.
    bool Matches(std::string_view text, bool wholeText) const;
    // The leftmost such run, as byte offsets [begin, end).
    bool Find(std::string_view text, bool wholeText, size_t& begin, size_t& end) const;
    // A quick test before Matches: false when no part of the name up to its NUL
    // (or capacity bytes) can match, as it lacks a letter or digit that every
    // spelling of the keyword needs to begin a syllable with. With base, only the
    // part before the last dot counts (a file's base), as far as the test sees
    // quickly. True says nothing.
    bool MayMatchName(const char* name, size_t capacity, bool base) const;

private:
    // Keyword positions still open after a run: bit p says the run so far spells
    // the keyword's first p letters. A 255-byte name spells at most 6 letters per
    // character, so 12 words hold any keyword that can match at all.
    static constexpr size_t kWords = 12;
    using Positions = std::array<uint64_t, kWords>;

    // Walks text from its start. reseed: a run may begin at every character (else
    // only at the first). mustEnd: only a run ending with the text counts. On a hit,
    // *hitEnd is where the run ends.
    bool Scan(const unsigned char* s, const unsigned char* e, bool reseed, bool mustEnd,
              const unsigned char** hitEnd) const;
    // Whether the characters of [s, e) hold every start the keyword needs.
    bool HasRequiredStarts(const unsigned char* s, const unsigned char* e) const;

    std::string latin_;  // compared with the name's letters (folded unless matchCase)
    std::string lower_;  // compared with readings
    size_t length_ = 0;
    size_t words_ = 0;
    bool matchCase_ = false;
    bool startAscii_[128] = {};            // the ASCII characters a run may begin with
    uint64_t startMask_ = 0;               // the same as a word test: (v | mask) ^ lanes is 0
    uint64_t startLanes_ = 0;              // in the lanes that may begin one
    const void* tables_ = nullptr;         // the derived tables (pinyin_match.cpp)
    uint32_t firstBit_ = 0;                // the keyword's first letter (bit 0 = 'a'), 0: a digit
    const uint64_t* gbkStarts_ = nullptr;  // GBK codes with a reading starting with it
    // The letters (bit 0 = 'a') and digits (bit 26 = '0') with which every way to
    // spell the keyword begins some piece: a character's reading or initial, or a
    // letter or digit of the name. A name lacking one of them cannot match.
    uint64_t required_ = 0;
    // The required starts the quick test of a name looks for among its ASCII
    // bytes: a byte b gives probe k when (b | 0x20) is probeLanes_[k]'s byte (an
    // unused probe's 0 never is).
    static constexpr unsigned kProbes = 4;
    unsigned probes_ = 0;
    alignas(16) unsigned char probeLanes_[kProbes][16] = {};
    uint64_t probeBit_[kProbes] = {};
    uint64_t probed_ = 0;
};

}  // namespace orb
