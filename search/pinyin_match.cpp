// SPDX-License-Identifier: GPL-3.0-or-later
// Pinyin matching over the generated readings table: a forward pass over the
// name keeps the set of keyword prefixes that the run ending at each character
// spells, so every name costs one pass whatever the keyword.
#include "search/pinyin_match.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text.h"
#include "search/pinyin/pinyin_data.h"

namespace orb {

namespace pd = pinyin_data;

namespace {

// Per syllable its text and length, per reading set the letters its readings
// begin with (bit 0 = 'a'), so most characters are turned down by one test.
struct Tables {
    std::vector<uint8_t> syllableLength;
    std::vector<uint32_t> setInitials;
    // Per letter, a bit per GBK code whose character has a reading beginning with
    // it: the test that finds where a run may start.
    std::vector<uint64_t> gbkStarts[26];
    // Per GBK code the letters its readings begin with (the quick test of a name).
    std::vector<uint32_t> gbkInitials;
    // Per letter the syllables beginning with it.
    std::vector<uint16_t> syllablesFrom[26];
    // Per ASCII byte the piece start it gives as a letter (either case) or digit.
    uint64_t asciiStart[128] = {};
    Tables() {
        syllableLength.resize(pd::kSyllableCount);
        for (unsigned i = 0; i < pd::kSyllableCount; ++i)
            syllableLength[i] =
                static_cast<uint8_t>(std::strlen(pd::kSyllableText + pd::kSyllableOffset[i]));
        setInitials.resize(pd::kSetCount);
        for (unsigned s = 0; s < pd::kSetCount; ++s)
            for (unsigned m = pd::kSetStart[s]; m < pd::kSetStart[s + 1]; ++m)
                setInitials[s] |=
                    1u << (pd::kSyllableText[pd::kSyllableOffset[pd::kSetMember[m]]] - 'a');
        constexpr size_t cells = size_t{pd::kGbkLeads} * pd::kGbkTrails;
        for (unsigned letter = 0; letter < 26; ++letter) {
            gbkStarts[letter].assign((cells + 63) / 64, 0);
            for (size_t i = 0; i < cells; ++i)
                if (setInitials[pd::kGbkSet[i]] & (1u << letter))
                    gbkStarts[letter][i / 64] |= uint64_t{1} << (i % 64);
        }
        gbkInitials.resize(cells);
        for (size_t i = 0; i < cells; ++i)
            if (i % pd::kGbkTrails != 0x7F - 0x40) gbkInitials[i] = setInitials[pd::kGbkSet[i]];
        for (unsigned i = 0; i < pd::kSyllableCount; ++i)
            syllablesFrom[pd::kSyllableText[pd::kSyllableOffset[i]] - 'a'].push_back(
                static_cast<uint16_t>(i));
        for (unsigned c = 0; c < 128; ++c) asciiStart[c] = StartBit(static_cast<unsigned char>(c));
    }

    // A letter's bit (either case, bit 0 = 'a'), a digit's (bit 26 = '0'), else 0.
    static uint64_t StartBit(unsigned char c) {
        if (c >= '0' && c <= '9') return uint64_t{1} << (26 + c - '0');
        c |= 0x20;
        return c >= 'a' && c <= 'z' ? uint64_t{1} << (c - 'a') : 0;
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

constexpr uint64_t kLanes01 = 0x0101010101010101ULL;
constexpr uint64_t kLanes80 = 0x8080808080808080ULL;

// Non-zero in the lowest zero byte of v (and maybe above it), zero when none is.
inline uint64_t ZeroLanes(uint64_t v) {
    return (v - kLanes01) & ~v & kLanes80;
}

inline bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline unsigned char Fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// The reading set of the multi-byte character at p (n bytes); 0: none.
uint16_t SetOf(const unsigned char* p, size_t n) {
    if (n == 2) {
        if (p[1] < 0x40 || p[1] == 0x7F || p[1] == 0xFF) return 0;
        return pd::kGbkSet[(p[0] - 0x81u) * pd::kGbkTrails + (p[1] - 0x40u)];
    }
    if (n != 4) return 0;
    const uint32_t cp = Gb18030FourByteCodePoint(p, n);
    if (cp == 0) return 0;
    const pd::FourByteReading* end = pd::kFourByte + pd::kFourByteCount;
    const pd::FourByteReading* it =
        std::lower_bound(pd::kFourByte, end, cp,
                         [](const pd::FourByteReading& r, uint32_t v) { return r.codePoint < v; });
    return it != end && it->codePoint == cp ? it->set : 0;
}

// The piece starts the characters of [s, e) give: letters and digits, and the
// initials of readings. Decoded as Scan decodes, so every character it may use
// is counted.
uint64_t StartsOf(const Tables& t, const unsigned char* s, const unsigned char* e) {
    uint64_t have = 0;
    for (const unsigned char* p = s; p < e;) {
        const unsigned char c = *p;
        if (c < 0x80) {
            have |= t.asciiStart[c];
            ++p;
            continue;
        }
        const size_t n = StoredCharLength(p, e);
        if (n == 2) {
            if (p[1] >= 0x40 && p[1] != 0xFF)
                have |= t.gbkInitials[(c - 0x81u) * pd::kGbkTrails + (p[1] - 0x40u)];
        } else if (n == 4) {
            have |= t.setInitials[SetOf(p, n)];
        }
        p += n;
    }
    return have;
}

// Whether the lower-case keyword can be cut into pieces (a whole reading, an
// initial, zh/ch/sh, a prefix of a reading at the end, or a single letter or
// digit) each beginning with a start in allowed.
bool Spellable(std::string_view low, uint64_t allowed, const Tables& t) {
    const size_t k = low.size();
    std::vector<char> reach(k + 1, 0);
    reach[0] = 1;
    for (size_t at = 0; at < k && !reach[k]; ++at) {
        const auto c = static_cast<unsigned char>(low[at]);
        if (!reach[at] || !(allowed & Tables::StartBit(c))) continue;
        reach[at + 1] = 1;
        if (c < 'a' || c > 'z') continue;
        const size_t rest = k - at;
        if (rest >= 2 && low[at + 1] == 'h' && (c == 'z' || c == 'c' || c == 's'))
            reach[at + 2] = 1;
        for (uint16_t id : t.syllablesFrom[c - 'a']) {
            const char* r = pd::kSyllableText + pd::kSyllableOffset[id];
            const size_t len = t.syllableLength[id];
            if (rest <= len) {
                if (std::memcmp(r, low.data() + at, rest) == 0) reach[k] = 1;
            } else if (std::memcmp(r, low.data() + at, len) == 0) {
                reach[at + len] = 1;
            }
        }
    }
    return reach[k] != 0;
}

}  // namespace

uint32_t Gb18030FourByteCodePoint(const unsigned char* p, size_t n) {
    if (n < 4 || p[0] < 0x81 || p[0] > 0xFE || p[1] < 0x30 || p[1] > 0x39 || p[2] < 0x81 ||
        p[2] > 0xFE || p[3] < 0x30 || p[3] > 0x39)
        return 0;
    const uint32_t linear =
        (((p[0] - 0x81u) * 10 + (p[1] - 0x30u)) * 126 + (p[2] - 0x81u)) * 10 + (p[3] - 0x30u);
    if (p[0] >= 0x90) {
        // Supplementary planes: consecutive from 0x90308130 = U+10000.
        const uint32_t first = ((0x90 - 0x81u) * 10) * 1260;
        const uint32_t cp = 0x10000 + (linear - first);
        return cp <= 0x10FFFF ? cp : 0;
    }
    const pd::BmpRange* end = pd::kBmpRange + pd::kBmpRangeCount;
    const pd::BmpRange* it = std::upper_bound(
        pd::kBmpRange, end, linear, [](uint32_t v, const pd::BmpRange& r) { return v < r.linear; });
    if (it == pd::kBmpRange) return 0;
    --it;
    return linear - it->linear < it->count ? it->codePoint + (linear - it->linear) : 0;
}

uint16_t PinyinReadingSet(const unsigned char* p, size_t n) {
    return n >= 2 ? SetOf(p, n) : 0;
}

uint32_t PinyinReadingSetInitials(uint16_t set) {
    return set < pd::kSetCount ? GetTables().setInitials[set] : 0;
}

std::vector<std::string_view> PinyinReadings(std::string_view ch) {
    std::vector<std::string_view> out;
    const auto* p = reinterpret_cast<const unsigned char*>(ch.data());
    const size_t n = StoredCharLength(p, p + ch.size());
    if (n < 2) return out;
    const uint16_t set = SetOf(p, n);
    for (unsigned m = pd::kSetStart[set]; m < pd::kSetStart[set + 1]; ++m)
        out.emplace_back(pd::kSyllableText + pd::kSyllableOffset[pd::kSetMember[m]]);
    return out;
}

bool IsPinyinKeyword(std::string_view keyword) {
    bool letter = false;
    for (char c : keyword) {
        const auto u = static_cast<unsigned char>(c);
        if (!IsAsciiAlnum(u)) return false;
        letter = letter || u > '9';
    }
    return letter;
}

CPinyinMatcher::CPinyinMatcher(std::string_view keyword, bool matchCase) : matchCase_(matchCase) {
    if (!IsPinyinKeyword(keyword) || keyword.size() >= kWords * 64) return;
    latin_.assign(keyword);
    if (!matchCase) LowerAZInPlace(latin_);
    lower_ = LowerAZCopy(keyword);
    length_ = keyword.size();
    words_ = (length_ + 63) / 64;
    // A letter is compared with its case bit set on both sides; the exact test
    // follows byte by byte.
    const auto first = static_cast<unsigned char>(latin_[0]);
    const unsigned folded = first | 0x20u;
    const bool letter = folded >= 'a' && folded <= 'z';
    startMask_ = letter ? kLanes01 * 0x20 : 0;
    startLanes_ = kLanes01 * (letter ? folded : first);
    // The tables and the first letter's start set, looked up once, not per name.
    const Tables& t = GetTables();
    tables_ = &t;
    const auto low0 = static_cast<unsigned char>(lower_[0]);
    firstBit_ = low0 >= 'a' && low0 <= 'z' ? 1u << (low0 - 'a') : 0;
    gbkStarts_ = firstBit_ ? t.gbkStarts[low0 - 'a'].data() : nullptr;
    // A start is required when the keyword cannot be spelled without it; fewer
    // starts only ever spell less, so a name without it cannot match.
    uint64_t used = 0;
    for (char c : lower_) used |= Tables::StartBit(static_cast<unsigned char>(c));
    for (uint64_t bits = used; bits; bits &= bits - 1) {
        const uint64_t bit = bits & (~bits + 1);
        if (!Spellable(lower_, ~bit, t)) required_ |= bit;
    }
    // The name's quick test looks for a few of them among its ASCII bytes all at
    // once, the keyword's first letter first.
    uint64_t left = required_;
    for (size_t i = 0; i < length_ && probes_ < kProbes; ++i) {
        const auto c = static_cast<unsigned char>(lower_[i]);
        const uint64_t bit = Tables::StartBit(c);
        if (!(left & bit)) continue;
        left &= ~bit;
        std::memset(probeLanes_[probes_], c, sizeof(probeLanes_[probes_]));  // a digit has 0x20
        probeBit_[probes_] = bit;
        probed_ |= bit;
        ++probes_;
    }
    for (int c = 0; c < 128; ++c)
        startAscii_[c] = IsAsciiAlnum(static_cast<unsigned char>(c)) &&
                         (matchCase ? static_cast<char>(c) == keyword[0]
                                    : LowerAZ(static_cast<char>(c)) == LowerAZ(keyword[0]));
}

bool CPinyinMatcher::Scan(const unsigned char* s, const unsigned char* e, bool reseed, bool mustEnd,
                          const unsigned char** hitEnd) const {
    const Tables& t = *static_cast<const Tables*>(tables_);
    const size_t k = length_;
    const size_t words = words_;
    const auto* low = reinterpret_cast<const unsigned char*>(lower_.data());
    const auto* lat = reinterpret_cast<const unsigned char*>(latin_.data());
    const uint32_t firstBit = firstBit_;
    const uint64_t* gbkStarts = gbkStarts_;
    Positions open;
    bool live = false;  // some keyword position is open after the previous character
    for (const unsigned char* p = s; p < e;) {
        if (!live) {
            // Only a character that can begin the keyword starts a run; skip the
            // others quickly (most characters of most names).
            for (;;) {
                // Eight ASCII bytes at a time up to a multi-byte character or a
                // byte that may be the keyword's first letter.
                while (reseed && e - p >= 8) {
                    uint64_t v;
                    std::memcpy(&v, p, 8);
                    const uint64_t candidates =
                        (v & kLanes80) | ZeroLanes((v | startMask_) ^ startLanes_);
                    if (candidates) {
                        p += static_cast<size_t>(__builtin_ctzll(candidates)) / 8;
                        break;
                    }
                    p += 8;
                }
                if (p >= e) return false;
                const unsigned char c = *p;
                if (c < 0x80) {
                    if (startAscii_[c]) break;
                    ++p;
                } else {
                    const size_t n = StoredCharLength(p, e);
                    if (n == 2 && gbkStarts && p[1] >= 0x40 && p[1] != 0xFF) {
                        const size_t cell = (c - 0x81u) * pd::kGbkTrails + (p[1] - 0x40u);
                        if ((gbkStarts[cell / 64] >> (cell % 64)) & 1) break;
                    } else if (n == 4 && (t.setInitials[SetOf(p, n)] & firstBit)) {
                        break;
                    }
                    p += n;
                }
                if (!reseed || p >= e) return false;
            }
            for (size_t w = 0; w < words; ++w) open[w] = 0;
            open[0] = 1;
        }
        const unsigned char c = *p;
        const size_t n = c < 0x80 ? 1 : StoredCharLength(p, e);
        const unsigned char* next = p + n;
        const bool latin = n == 1 && IsAsciiAlnum(c);
        const uint16_t set = n == 1 ? 0 : SetOf(p, n);
        Positions reached;
        for (size_t w = 0; w < words; ++w) reached[w] = 0;
        bool hit = false;
        auto reach = [&](size_t q) {
            if (q == k)
                hit = true;
            else
                reached[q / 64] |= uint64_t{1} << (q % 64);
        };
        for (size_t w = 0; w < words; ++w) {
            for (uint64_t bits = open[w]; bits; bits &= bits - 1) {
                const size_t at = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                const size_t rest = k - at;
                if (latin) {
                    if ((matchCase_ ? c : Fold(c)) == lat[at]) reach(at + 1);
                    continue;
                }
                for (unsigned m = pd::kSetStart[set]; m < pd::kSetStart[set + 1]; ++m) {
                    const unsigned id = pd::kSetMember[m];
                    const auto* r = reinterpret_cast<const unsigned char*>(pd::kSyllableText +
                                                                           pd::kSyllableOffset[id]);
                    if (r[0] != low[at]) continue;
                    const size_t len = t.syllableLength[id];
                    reach(at + 1);  // the initial
                    if (rest >= 2 && r[1] == 'h' && (r[0] == 'z' || r[0] == 'c' || r[0] == 's') &&
                        low[at + 1] == 'h')
                        reach(at + 2);  // zh, ch, sh as a whole
                    if (rest <= len) {
                        // The keyword ends inside or at the end of this reading.
                        if (std::memcmp(r + 1, low + at + 1, rest - 1) == 0) hit = true;
                    } else if (std::memcmp(r + 1, low + at + 1, len - 1) == 0) {
                        reach(at + len);
                    }
                }
            }
        }
        if (hit && (!mustEnd || next == e)) {
            if (hitEnd) *hitEnd = next;
            return true;
        }
        // Positions reached are at least 1, so the start bit is free for the reseed.
        live = false;
        for (size_t w = 0; w < words; ++w) live = live || reached[w] != 0;
        if (!live && !reseed) return false;
        for (size_t w = 0; w < words; ++w) open[w] = reached[w];
        if (reseed) open[0] |= 1;
        p = next;
    }
    return false;
}

bool CPinyinMatcher::HasRequiredStarts(const unsigned char* s, const unsigned char* e) const {
    const Tables& t = *static_cast<const Tables*>(tables_);
    return (StartsOf(t, s, e) & required_) == required_;
}

bool CPinyinMatcher::MayMatchName(const char* name, size_t capacity, bool base) const {
    if (!Active()) return false;
    const Tables& t = *static_cast<const Tables*>(tables_);
    const auto* s = reinterpret_cast<const unsigned char*>(name);
    uint64_t have = 0;
    size_t off = 0;
#if defined(__SSE2__)
    // Thirty-two bytes at a time, which hold most names whole. The multi-byte
    // characters are found from their high bytes (all bytes before the first one
    // are ASCII characters), decoded as Scan decodes the name ending at its NUL,
    // and add their readings' initials; the other bytes before the NUL are
    // compared with the probed starts all at once.
    const __m128i fold = _mm_set1_epi8(0x20);
    __m128i probe[kProbes];
    for (unsigned k = 0; k < kProbes; ++k)
        probe[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(probeLanes_[k]));
    auto lanes = [](__m128i lo, __m128i hi) {
        return static_cast<uint32_t>(_mm_movemask_epi8(lo)) |
               static_cast<uint32_t>(_mm_movemask_epi8(hi)) << 16;
    };
    uint32_t carry = 0;  // the bytes of this block a character before it took
    for (; off + 32 <= capacity; off += 32) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + off));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + off + 16));
        const uint32_t nul = lanes(_mm_cmpeq_epi8(v0, __m128i{}), _mm_cmpeq_epi8(v1, __m128i{}));
        uint32_t live = (nul ? (nul & (0 - nul)) - 1 : ~uint32_t{0}) & ~carry;
        if (base && off == 0 && nul) {
            // A name in one block ends at its last dot (byte-wise, as a file's
            // base does); a longer one is taken whole, which only tests less.
            const __m128i dot = _mm_set1_epi8('.');
            const uint32_t dots = lanes(_mm_cmpeq_epi8(v0, dot), _mm_cmpeq_epi8(v1, dot)) & live;
            if (dots) live &= (uint32_t{1} << (31 - __builtin_clz(dots))) - 1;
        }
        uint32_t high = lanes(v0, v1) & live;
        uint32_t ascii = ~high & live;
        carry = 0;
        while (high) {
            const auto i = static_cast<unsigned>(__builtin_ctz(high));
            const unsigned char* q = s + off + i;
            const size_t room = capacity - off - i;  // q's bytes inside the buffer
            const unsigned char c = q[0];
            unsigned n = 1;
            if (c >= 0x81 && c <= 0xFE && room >= 2 && q[1] != 0) {
                const unsigned char c2 = q[1];
                if (c2 >= 0x30 && c2 <= 0x39) {
                    // Cut short by the NUL or the buffer's end: no reading.
                    n = room < 3 || q[2] == 0 ? 2 : room < 4 || q[3] == 0 ? 3 : 4;
                    if (n == 4) have |= t.setInitials[SetOf(q, 4)];
                } else {
                    n = 2;
                    if (c2 >= 0x40 && c2 != 0xFF)
                        have |= t.gbkInitials[(c - 0x81u) * pd::kGbkTrails + (c2 - 0x40u)];
                }
            }
            const uint64_t used = ((uint64_t{1} << n) - 1) << i;
            high &= ~static_cast<uint32_t>(used);
            ascii &= ~static_cast<uint32_t>(used);
            carry = static_cast<uint32_t>(used >> 32);
        }
        const __m128i f0 = _mm_or_si128(v0, fold);
        const __m128i f1 = _mm_or_si128(v1, fold);
        for (unsigned k = 0; k < kProbes; ++k) {
            const uint32_t found =
                lanes(_mm_cmpeq_epi8(f0, probe[k]), _mm_cmpeq_epi8(f1, probe[k])) & ascii;
            have |= probeBit_[k] & (0 - static_cast<uint64_t>(found != 0));
        }
        if (nul) return (have & probed_) == probed_;
    }
    off += static_cast<size_t>(__builtin_popcount(carry));
#endif
    if (off < capacity) {
        const void* nul = std::memchr(s + off, 0, capacity - off);
        const unsigned char* e = nul ? static_cast<const unsigned char*>(nul) : s + capacity;
        if (base && off == 0) {
            const void* dot = ::memrchr(s, '.', static_cast<size_t>(e - s));
            if (dot) e = static_cast<const unsigned char*>(dot);
        }
        have |= StartsOf(t, s + off, e);
    }
    return (have & probed_) == probed_;
}

bool CPinyinMatcher::Matches(std::string_view text, bool wholeText) const {
    if (!Active() || text.empty()) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* e = s + text.size();
    return HasRequiredStarts(s, e) && Scan(s, e, !wholeText, wholeText, nullptr);
}

bool CPinyinMatcher::Find(std::string_view text, bool wholeText, size_t& begin, size_t& end) const {
    if (!Active() || text.empty()) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* e = s + text.size();
    if (!HasRequiredStarts(s, e)) return false;
    const unsigned char* hitEnd = nullptr;
    for (const unsigned char* p = s; p < e; p += StoredCharLength(p, e)) {
        if (Scan(p, e, false, wholeText, &hitEnd)) {
            begin = static_cast<size_t>(p - s);
            end = static_cast<size_t>(hitEnd - s);
            return true;
        }
        if (wholeText) break;
    }
    return false;
}

}  // namespace orb
