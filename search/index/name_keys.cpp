// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/index/name_keys.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orb::name_keys {

const PinyinKeyTables& KeyTables() {
    static const PinyinKeyTables tables = [] {
        PinyinKeyTables t;
        for (unsigned c = 0; c < 256; ++c)
            t.byteSymbols[c] = IsAlnum(static_cast<unsigned char>(c))
                                   ? SymbolBit(FoldByte(static_cast<unsigned char>(c)))
                                   : 0;
        t.sets.resize(pd::kSetCount);
        for (unsigned set = 0; set < pd::kSetCount; ++set) {
            PinyinSetKeys& s = t.sets[set];
            s.symbols = set ? PinyinReadingSetInitials(static_cast<uint16_t>(set)) : 0;
            s.first = static_cast<uint32_t>(t.reading3.size());
            for (unsigned m = pd::kSetStart[set]; m < pd::kSetStart[set + 1]; ++m) {
                const auto* r = reinterpret_cast<const unsigned char*>(
                    pd::kSyllableText + pd::kSyllableOffset[pd::kSetMember[m]]);
                if (!r[0] || !r[1] || !r[2]) continue;
                const uint32_t key =
                    kReading3Tag | uint32_t{r[0]} << 16 | uint32_t{r[1]} << 8 | r[2];
                if (std::find(t.reading3.begin() + s.first, t.reading3.end(), key) ==
                    t.reading3.end())
                    t.reading3.push_back(key);
            }
            s.count = static_cast<uint32_t>(t.reading3.size()) - s.first;
        }
        return t;
    }();
    return tables;
}

bool PinyinQueryKeys(std::string_view keyword, std::vector<uint32_t>& keys) {
    const std::string kw = LowerAZCopy(keyword);
    const size_t n = kw.size();
    // Shorter keywords have no literal keys either.
    if (n < 3) return false;
    // edges[a]: where a piece starting at a may end.
    std::vector<std::vector<size_t>> edges(n);
    for (size_t a = 0; a < n; ++a) {
        std::vector<size_t>& to = edges[a];
        to.push_back(a + 1);
        if (a + 2 <= n && kw[a + 1] == 'h' && (kw[a] == 'z' || kw[a] == 'c' || kw[a] == 's'))
            to.push_back(a + 2);
        for (unsigned i = 0; i < pd::kSyllableCount; ++i) {
            const char* s = pd::kSyllableText + pd::kSyllableOffset[i];
            const size_t len = std::strlen(s);
            if (a + len <= n && kw.compare(a, len, s) == 0) to.push_back(a + len);
            if (a + len > n && std::strncmp(s, kw.data() + a, n - a) == 0) to.push_back(n);
        }
        std::sort(to.begin(), to.end());
        to.erase(std::unique(to.begin(), to.end()), to.end());
    }
    std::vector<char> from(n + 1, 0), toEnd(n + 1, 0);
    from[0] = 1;
    for (size_t a = 0; a < n; ++a)
        if (from[a])
            for (size_t b : edges[a]) from[b] = 1;
    toEnd[n] = 1;
    for (size_t a = n; a-- > 0;)
        for (size_t b : edges[a]) toEnd[a] = toEnd[a] || toEnd[b];
    auto sym = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(kw[at])); };
    for (size_t b : edges[0]) {
        if (b == n) {
            // One character: its reading starts with the keyword.
            keys.push_back(kReading3Tag | sym(0) << 16 | sym(1) << 8 | sym(2));
        } else if (std::find(edges[b].begin(), edges[b].end(), n) != edges[b].end()) {
            keys.push_back(kPinyin2Tag | sym(0) << 16 | sym(b) << 8);
        }
    }
    for (size_t a = 0; a < n; ++a) {
        if (!from[a]) continue;
        for (size_t b : edges[a]) {
            if (b >= n) continue;
            for (size_t c : edges[b])
                if (c < n && toEnd[c])
                    keys.push_back(kPinyin3Tag | sym(a) << 16 | sym(b) << 8 | sym(c));
        }
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return true;
}

}  // namespace orb::name_keys
