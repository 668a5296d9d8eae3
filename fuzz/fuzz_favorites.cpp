// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: favorite.dat decoding. Whatever is read must encode, and decoding
// that encoding must give the same tree back, byte for byte on a second round.
#include "favorites/store/favorite_store.h"
#include "fuzz/fuzz_support.h"

using namespace orb;

namespace {

bool SameTree(const std::vector<FavoriteNode>& a, const std::vector<FavoriteNode>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const FavoriteItem& x = a[i].item;
        const FavoriteItem& y = b[i].item;
        if (x.name != y.name || x.kind != y.kind ||
            x.software.has_value() != y.software.has_value())
            return false;
        if (x.software && (x.software->discPath != y.software->discPath ||
                           x.software->pathInDisc != y.software->pathInDisc ||
                           x.software->remark != y.software->remark))
            return false;
        if (!SameTree(a[i].children, b[i].children)) return false;
    }
    return true;
}

size_t Depth(const std::vector<FavoriteNode>& list) {
    size_t deepest = 0;
    for (const FavoriteNode& n : list) deepest = std::max(deepest, 1 + Depth(n.children));
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FavoriteReadResult read = DecodeFavorites(bytes);
    if (read.status == FavoriteStatus::NotFavorites) {
        FUZZ_CHECK(read.items.empty());
        return 0;
    }
    FUZZ_CHECK(read.status == FavoriteStatus::Ok || read.status == FavoriteStatus::Damaged);
    if (read.status == FavoriteStatus::Damaged) FUZZ_CHECK(read.damageOffset <= size);
    FUZZ_CHECK(Depth(read.items) <= kFavoriteMaxDepth);

    std::string encoded;
    FUZZ_CHECK(EncodeFavorites(read.items, encoded) == FavoriteStatus::Ok);
    FavoriteReadResult again = DecodeFavorites(encoded);
    FUZZ_CHECK(again.status == FavoriteStatus::Ok);
    FUZZ_CHECK(SameTree(read.items, again.items));
    std::string reencoded;
    FUZZ_CHECK(EncodeFavorites(again.items, reencoded) == FavoriteStatus::Ok);
    FUZZ_CHECK(reencoded == encoded);
    return 0;
}
