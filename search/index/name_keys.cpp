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

namespace {

// The ways the matcher may cut a keyword into pieces, one per character.
struct Cuts {
    std::string kw;
    size_t n = 0;
    std::vector<std::vector<size_t>> edges;  // edges[a]: where a piece starting at a may end
    std::vector<char> from;                  // a piece may start here
    std::vector<char> toEnd;                 // pieces from here may end the keyword
    uint32_t Sym(size_t at) const { return static_cast<unsigned char>(kw[at]); }
    bool Ends(size_t a) const {
        return std::find(edges[a].begin(), edges[a].end(), n) != edges[a].end();
    }
    uint32_t Literal(size_t at) const {
        return uint32_t{FoldByte(static_cast<unsigned char>(kw[at]))} << 16 |
               uint32_t{FoldByte(static_cast<unsigned char>(kw[at + 1]))} << 8 |
               FoldByte(static_cast<unsigned char>(kw[at + 2]));
    }
    // Keys of a run of one or two characters spelling the whole keyword.
    void ShortRuns(std::vector<uint32_t>& keys) const {
        for (size_t b : edges[0]) {
            if (b == n)
                keys.push_back(kReading3Tag | Sym(0) << 16 | Sym(1) << 8 | Sym(2));
            else if (Ends(b))
                keys.push_back(kPinyin2Tag | Sym(0) << 16 | Sym(b) << 8);
        }
    }
};

Cuts MakeCuts(std::string_view keyword) {
    Cuts cuts;
    cuts.kw = LowerAZCopy(keyword);
    const std::string& kw = cuts.kw;
    const size_t n = cuts.n = kw.size();
    std::vector<std::vector<size_t>>& edges = cuts.edges;
    edges.resize(n);
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
    std::vector<char>&from = cuts.from, &toEnd = cuts.toEnd;
    from.assign(n + 1, 0);
    toEnd.assign(n + 1, 0);
    from[0] = 1;
    for (size_t a = 0; a < n; ++a)
        if (from[a])
            for (size_t b : edges[a]) from[b] = 1;
    toEnd[n] = 1;
    for (size_t a = n; a-- > 0;)
        for (size_t b : edges[a]) toEnd[a] = toEnd[a] || toEnd[b];
    return cuts;
}

void SortUnique(std::vector<uint32_t>& keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

}  // namespace

bool PinyinQueryEnds(std::string_view keyword, std::vector<uint32_t>& first,
                     std::vector<uint32_t>& last) {
    if (keyword.size() < 3) return false;
    const Cuts cuts = MakeCuts(keyword);
    const size_t n = cuts.n;
    cuts.ShortRuns(first);
    last = first;
    // The first three characters of a longer run, and the last three: each a
    // window with a Chinese character, or, in a run of more than three, three
    // letters the name holds as they are.
    if (n > 3) {
        first.push_back(cuts.Literal(0));
        last.push_back(cuts.Literal(n - 3));
    }
    for (size_t b : cuts.edges[0]) {
        if (b >= n) continue;
        for (size_t c : cuts.edges[b])
            if (c < n && cuts.toEnd[c])
                first.push_back(kPinyin3Tag | cuts.Sym(0) << 16 | cuts.Sym(b) << 8 | cuts.Sym(c));
    }
    for (size_t a = 0; a < n; ++a) {
        if (!cuts.from[a]) continue;
        for (size_t b : cuts.edges[a]) {
            if (b >= n) continue;
            for (size_t c : cuts.edges[b])
                if (c < n && cuts.Ends(c))
                    last.push_back(kPinyin3Tag | cuts.Sym(a) << 16 | cuts.Sym(b) << 8 |
                                   cuts.Sym(c));
        }
    }
    SortUnique(first);
    SortUnique(last);
    return true;
}

}  // namespace orb::name_keys
