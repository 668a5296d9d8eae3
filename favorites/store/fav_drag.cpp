// SPDX-License-Identifier: GPL-3.0-or-later
// FAVSOFTDRAGDATA encoding.
#include "favorites/store/fav_drag.h"

#include <cstring>

namespace orb {

static bool PutField(std::string& block, size_t at, std::string_view text) {
    if (text.size() >= kFavSoftDragField || text.find('\0') != std::string_view::npos) return false;
    std::memcpy(block.data() + at, text.data(), text.size());
    return true;
}

static bool GetField(std::string_view block, size_t at, std::string& out) {
    const std::string_view field = block.substr(at, kFavSoftDragField);
    const size_t end = field.find('\0');
    if (end == std::string_view::npos) return false;
    out.assign(field.substr(0, end));
    return true;
}

bool EncodeFavSoftDrag(const FavSoftDragData& data, std::string& block) {
    std::string out(kFavSoftDragSize, '\0');
    if (!PutField(out, 0, data.indexPath) || !PutField(out, kFavSoftDragField, data.dirInDisc) ||
        !PutField(out, 2 * kFavSoftDragField, data.name))
        return false;
    block = std::move(out);
    return true;
}

bool DecodeFavSoftDrag(std::string_view block, FavSoftDragData& data) {
    if (block.size() != kFavSoftDragSize) return false;
    FavSoftDragData out;
    if (!GetField(block, 0, out.indexPath) || !GetField(block, kFavSoftDragField, out.dirInDisc) ||
        !GetField(block, 2 * kFavSoftDragField, out.name))
        return false;
    data = std::move(out);
    return true;
}

}  // namespace orb
