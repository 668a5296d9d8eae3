// SPDX-License-Identifier: GPL-3.0-or-later
// Finds where a keyword may stand in raw bytes, sixteen bytes at a time: the test
// a name index uses to send only the names that may hold it to the matcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace orb::keyword_bytes {

// Bytes are compared with their 0x20 bit set. Wherever the engine's match holds,
// in any letter case and whichever bytes it folds, this holds too: it may find
// more places, never fewer.
inline unsigned char Loose(unsigned char c) {
    return static_cast<unsigned char>(c | 0x20);
}

inline bool LooseEqualAt(const unsigned char* text, std::string_view keyword) {
    for (size_t i = 0; i < keyword.size(); ++i)
        if (Loose(text[i]) != Loose(static_cast<unsigned char>(keyword[i]))) return false;
    return true;
}

// Calls found(at) for every place at which keyword may start in text[0, n),
// ascending.
template <typename F>
void ForEachPlace(const unsigned char* text, size_t n, std::string_view keyword, F found) {
    const size_t k = keyword.size();
    if (k == 0 || k > n) return;
    const size_t last = n - k;  // the last place keyword fits
    size_t at = 0;
    if (k >= 2) {
        using V = unsigned char __attribute__((vector_size(16)));
        const unsigned char a = Loose(static_cast<unsigned char>(keyword[0]));
        const unsigned char b = Loose(static_cast<unsigned char>(keyword[1]));
        V va, vb, loose;
        std::memset(&va, a, sizeof(V));
        std::memset(&vb, b, sizeof(V));
        std::memset(&loose, 0x20, sizeof(V));
        // Each step tests the 16 places at..at+15; byte at+16 is read as the
        // second byte of the last.
        for (; at + 16 <= last; at += 16) {
            V x, y;
            std::memcpy(&x, text + at, sizeof(V));
            std::memcpy(&y, text + at + 1, sizeof(V));
            const auto hit = ((x | loose) == va) & ((y | loose) == vb);
            uint64_t lanes[2];
            std::memcpy(lanes, &hit, sizeof(lanes));
            if ((lanes[0] | lanes[1]) == 0) continue;
            for (size_t i = 0; i < 16; ++i) {
                const uint64_t lane = lanes[i / 8] >> (i % 8 * 8) & 0xff;
                if (lane && LooseEqualAt(text + at + i, keyword)) found(at + i);
            }
        }
    }
    for (; at <= last; ++at)
        if (LooseEqualAt(text + at, keyword)) found(at);
}

// Whether text may hold keyword.
inline bool MayHold(std::string_view text, std::string_view keyword) {
    bool any = false;
    ForEachPlace(reinterpret_cast<const unsigned char*>(text.data()), text.size(), keyword,
                 [&](size_t) { any = true; });
    return any;
}

}  // namespace orb::keyword_bytes
