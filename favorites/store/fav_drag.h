// SPDX-License-Identifier: GPL-3.0-or-later
// The FAVSOFTDRAGDATA block: one row of the file list dragged towards the
// favourites. 780 bytes, three NUL-terminated fields of 260 bytes: the index file's
// path, the directory on the disc ("tools\win\", empty at the root) and the name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orb {

inline constexpr const char* kFavSoftDragFormat = "FAVSOFTDRAGDATA";
inline constexpr const char* kFavSoftDragFormat2 = "FAVSOFTDRAGDATA2";
inline constexpr size_t kFavSoftDragField = 260;
inline constexpr size_t kFavSoftDragSize = 3 * kFavSoftDragField;

struct FavSoftDragData {
    std::string indexPath;  // host path of the open index file
    std::string dirInDisc;  // stored text, "\" after each directory
    std::string name;       // stored text
};

// False when a field does not fit its 259 bytes or holds a NUL: such a row offers
// no block rather than a cut one.
bool EncodeFavSoftDrag(const FavSoftDragData& data, std::string& block);
// False when the block is not exactly 780 bytes or a field lacks its terminator.
bool DecodeFavSoftDrag(std::string_view block, FavSoftDragData& data);

}  // namespace orb
