// SPDX-License-Identifier: GPL-3.0-or-later
// The keys the library name index files names under: literal byte keys and the
// pinyin keys a keyword spelled in pinyin is narrowed by. Shared by the building
// of segments and the queries that read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "index/index_format.h"
#include "platform/text.h"
#include "search/pinyin/pinyin_data.h"
#include "search/pinyin_match.h"

namespace orb::name_keys {

namespace pd = pinyin_data;

// Key families, in the top byte.
constexpr uint32_t kPairTag = 1u << 24;      // a double-byte character (its byte pair)
constexpr uint32_t kPinyin2Tag = 2u << 24;   // first letters of two neighbouring characters
constexpr uint32_t kPinyin3Tag = 3u << 24;   // ... of three
constexpr uint32_t kReading3Tag = 4u << 24;  // a reading's first three letters

inline unsigned char FoldByte(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// Literal keys of a text: every trigram of bytes below 0x80 and every byte pair
// that starts with a high byte, over the text with every A-Z byte folded. That
// fold also touches trailing bytes of double-byte characters, which the engine
// leaves alone; it is a function of single bytes, so any match the engine makes,
// in any letter case, is still a match of the folded bytes, and the keys never
// rule out a hit. Trigrams with a high byte are left out: nearly every one is
// unique to its name, so they made a fifth of the lists and crowded the buckets,
// while the pairs of a keyword's double-byte characters narrow it about as well.
template <typename F>
void ForEachKey(std::string_view text, F add) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    if (n < 2) return;
    // Each byte folded once, carried along the window.
    uint32_t a = FoldByte(p[0]), b = FoldByte(p[1]);
    for (size_t i = 2;; ++i) {
        if (a >= 0x80) add(kPairTag | (a << 8) | b);
        if (i >= n) break;
        const uint32_t c = FoldByte(p[i]);
        if (((a | b | c) & 0x80) == 0) add((a << 16) | (b << 8) | c);
        a = b;
        b = c;
    }
}

inline bool IsAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The symbols a character may start a pinyin piece with: bit 0-25 'a'-'z', bit
// 26-35 '0'-'9'.
inline uint64_t SymbolBit(unsigned char c) {
    return c >= '0' && c <= '9' ? uint64_t{1} << (26 + (c - '0')) : uint64_t{1} << (c - 'a');
}
inline unsigned char SymbolChar(unsigned bit) {
    return static_cast<unsigned char>(bit < 26 ? 'a' + bit : '0' + (bit - 26));
}

// Pinyin keys of a name. A pinyin match is a run of neighbouring characters,
// each a letter or digit or a Chinese character with a reading, at least one of
// them Chinese (a run of letters only is a literal match). Each character is
// spelled by a piece of the keyword that starts with the character's symbol:
// itself, or the first letter of one of its readings. So the run holds, for a
// window of two or three of its characters with a Chinese one among them, the
// symbols at the starts of the keyword's pieces; and a run of one character
// holds a reading that starts with the keyword. These are the keys.
// Per reading set, the symbols its readings start with and its readings' distinct
// first three letters as keys; made once.
struct PinyinSetKeys {
    uint64_t symbols;
    uint32_t first, count;  // in PinyinKeyTables::reading3
};
struct PinyinKeyTables {
    std::vector<PinyinSetKeys> sets;  // by set
    std::vector<uint32_t> reading3;
    uint64_t byteSymbols[256];  // a single byte's symbol (letters folded), 0 for none
};
const PinyinKeyTables& KeyTables();

// Whether text holds a byte that may start a multi-byte character.
inline bool HasHighByte(const unsigned char* p, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ULL) return true;
    }
    for (; i < n; ++i)
        if (p[i] & 0x80) return true;
    return false;
}

// The reading set of a multi-byte character: a double-byte one straight from the
// GBK table, as PinyinReadingSet finds it.
inline uint16_t ReadingSet(const unsigned char* p, size_t n) {
    if (n != 2) return PinyinReadingSet(p, n);
    if (p[1] < 0x40 || p[1] == 0x7F || p[1] == 0xFF) return 0;
    return pd::kGbkSet[(p[0] - 0x81u) * pd::kGbkTrails + (p[1] - 0x40u)];
}

template <typename F>
void ForEachPinyinKey(std::string_view name, F add) {
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const auto* e = p + name.size();
    // A name of single bytes has no Chinese character, so no key.
    if (!HasHighByte(p, name.size())) return;
    const PinyinKeyTables& tables = KeyTables();
    struct Char {
        uint64_t symbols;
        bool chinese;
    };
    Char chars[kMaxPath];
    size_t count = 0;
    bool anyChinese = false;
    while (p < e && count < kMaxPath) {
        const size_t n = StoredCharLength(p, e);
        Char c{0, false};
        if (n == 1) {
            c.symbols = tables.byteSymbols[*p];
        } else if (const uint16_t set = ReadingSet(p, n); set && set < tables.sets.size()) {
            const PinyinSetKeys& s = tables.sets[set];
            c.symbols = s.symbols;
            c.chinese = c.symbols != 0;
            for (uint32_t i = s.first; i < s.first + s.count; ++i) add(tables.reading3[i]);
        }
        anyChinese = anyChinese || c.chinese;
        chars[count++] = c;
        p += n;
    }
    if (!anyChinese) return;
    auto each = [](uint64_t bits, auto f) {
        for (; bits; bits &= bits - 1) f(SymbolChar(static_cast<unsigned>(__builtin_ctzll(bits))));
    };
    auto pair = [&](const Char& a, const Char& b) {
        if (!a.symbols || !b.symbols) return;
        each(a.symbols, [&](unsigned char x) {
            each(b.symbols,
                 [&](unsigned char y) { add(kPinyin2Tag | uint32_t{x} << 16 | uint32_t{y} << 8); });
        });
    };
    auto triple = [&](const Char& a, const Char& b, const Char& c) {
        if (!a.symbols || !b.symbols || !c.symbols) return;
        each(a.symbols, [&](unsigned char x) {
            each(b.symbols, [&](unsigned char y) {
                each(c.symbols, [&](unsigned char z) {
                    add(kPinyin3Tag | uint32_t{x} << 16 | uint32_t{y} << 8 | z);
                });
            });
        });
    };
    // Only windows with a Chinese character give keys: each is taken from its
    // first Chinese character, so none twice.
    size_t last = SIZE_MAX;  // the Chinese character before, if any
    for (size_t j = 0; j < count; ++j) {
        if (!chars[j].chinese) continue;
        const bool none1 = last == SIZE_MAX || last + 1 < j;  // j - 1 holds none
        const bool none2 = last == SIZE_MAX || last + 2 < j;  // nor j - 2
        if (j >= 1 && none1) pair(chars[j - 1], chars[j]);
        if (j + 1 < count) pair(chars[j], chars[j + 1]);
        if (j >= 2 && none2) triple(chars[j - 2], chars[j - 1], chars[j]);
        if (j >= 1 && j + 1 < count && none1) triple(chars[j - 1], chars[j], chars[j + 1]);
        if (j + 2 < count) triple(chars[j], chars[j + 1], chars[j + 2]);
        last = j;
    }
}

// The keys a keyword spelled in pinyin is narrowed by: every name it spells
// holds a key of first (the keys of the run's first three characters, or of a
// run of one or two) and a key of last (its last three, or the same short run).
// Letters among the characters are filed under their literal trigram, which is
// among the keys too. The keyword is cut into pieces every way the matcher could
// (a letter or digit, an initial, zh/ch/sh whole, a full reading, at the end the
// start of one); cutting more ways than the matcher does only adds keys. False
// when it cannot be narrowed.
bool PinyinQueryEnds(std::string_view keyword, std::vector<uint32_t>& first,
                     std::vector<uint32_t>& last);

}  // namespace orb::name_keys
