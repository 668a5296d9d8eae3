// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites file favorite.dat: a byte stream of markers over a tree of
// categories and software entries, kept in the library directory. Records hold
// stored text (code page 936 / GB18030 bytes); paths inside them use "\" so the
// file moves between Windows and Linux unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

constexpr uint8_t FAV_BEGIN = 0xFB;
constexpr uint8_t FAV_END = 0xFC;
constexpr uint8_t FAV_ITEM = 0xFD;
constexpr uint8_t FAV_UP = 0xFE;
constexpr uint8_t FAV_DOWN = 0xFF;

constexpr uint8_t kFavoriteCategory = 1;
constexpr uint8_t kFavoriteSoftware = 0;

// A name handed to the store holds at most 99 bytes (the record's 100 bytes with
// the terminator); a path at most 255 bytes (its length is one byte in the file).
constexpr size_t kFavoriteNameSize = 100;
constexpr size_t kFavoriteMaxName = kFavoriteNameSize - 1;
constexpr size_t kFavoriteMaxPath = 255;
// Deeper nesting than this is taken for damage: no user builds it, and it keeps
// every recursive walk of the tree far from the stack's end.
constexpr size_t kFavoriteMaxDepth = 256;

constexpr const char* kFavoriteFileName = "favorite.dat";

struct FavoriteSoftware {
    std::string discPath;    // index path relative to the library, stored text, "\" separators
    std::string pathInDisc;  // file or folder on the disc, stored text, "\" separators
    std::string remark;      // stored text; empty means no remark

    bool HasLocation() const { return !discPath.empty() && !pathInDisc.empty(); }
};

struct FavoriteItem {
    std::string name;  // stored text
    uint8_t kind = kFavoriteCategory;
    std::optional<FavoriteSoftware> software;  // present for software only

    bool IsCategory() const { return kind != kFavoriteSoftware; }
};

// One item with its children, in file order.
struct FavoriteNode {
    FavoriteItem item;
    std::vector<FavoriteNode> children;
};

// Where a software entry points, as handed in by the dialogs and drags: the full
// host path of the disc index file and the stored path on the disc.
struct FavoriteLocation {
    std::string indexPath;   // host path
    std::string pathInDisc;  // stored text, "\" separators
};

enum class FavoriteStatus {
    Ok,
    CannotOpen,      // the file could not be opened or read
    NotFavorites,    // the first byte is not FAV_BEGIN (or the file is empty)
    Damaged,         // ends before FAV_END, a length runs past the end, or nesting too deep
    CannotWrite,     // the file could not be created or replaced
    NameTooLong,     // a name of 100 bytes or more
    NameEmpty,       // an empty name or category path
    PathTooLong,     // a path of 256 bytes or more
    RemarkTooLong,   // a remark longer than 2^31 - 1 bytes
    TooDeep,         // nesting beyond kFavoriteMaxDepth
    OutsideLibrary,  // the index path does not lie in the library directory
    NotSoftware,     // the item is not a software entry
    BadMove,         // moving an item into itself or its own subtree
};

// A short description of a status for messages (host text).
const char* FavoriteStatusText(FavoriteStatus status);

// The whole file for the given top-level items. Fails without output when a
// record cannot be written as it is (name or path over 255 bytes, remark over
// 2^31 - 1 bytes, nesting too deep).
FavoriteStatus EncodeFavorites(const std::vector<FavoriteNode>& items, std::string& out);

struct FavoriteReadResult {
    FavoriteStatus status = FavoriteStatus::Ok;  // Ok, NotFavorites or Damaged
    size_t damageOffset = 0;                     // where reading stopped when Damaged
    std::vector<FavoriteNode> items;             // every complete item read
    // With CannotOpen: true when the file does not exist, so a save may create
    // it; false when it exists but could not be read, so it must be kept.
    bool missing = false;
};

// Reads the byte stream. Never reads past the end and never loops: damage stops
// reading and keeps the complete items read before it.
FavoriteReadResult DecodeFavorites(std::string_view data);

// Reads a favourites file; CannotOpen when it cannot be read.
FavoriteReadResult ReadFavoritesFile(const std::string& path);
// Writes through a temporary file and a rename, so a crash never leaves half a file.
// A link is saved through to its target; a read-only or non-regular file there is
// not replaced (CannotWrite).
FavoriteStatus WriteFavoritesFile(const std::string& path, const std::vector<FavoriteNode>& items,
                                  std::string* error = nullptr);

// Three-way merge of favourites lists: the changes made from base to mine (items
// added, removed, changed; a rename or move is a removal and an addition) applied
// to theirs, what the file holds now. Items are matched by kind and name (the
// n-th of equal ones with the n-th), level by level. theirs' order is kept; items
// added here go after it.
std::vector<FavoriteNode> MergeFavorites(const std::vector<FavoriteNode>& base,
                                         const std::vector<FavoriteNode>& mine,
                                         const std::vector<FavoriteNode>& theirs);

// Saves mine where another window or machine may have saved meanwhile: under the
// file's lock, the file is read again and, when it no longer holds base, only the
// changes from base to mine are applied to it. merged receives what was written
// (the caller's new base, and what a pane shows). A file that exists but cannot be
// read is not replaced (CannotOpen).
FavoriteStatus SaveFavoritesMerged(const std::string& path, const std::vector<FavoriteNode>& base,
                                   const std::vector<FavoriteNode>& mine,
                                   std::vector<FavoriteNode>& merged, std::string* error = nullptr);

bool operator==(const FavoriteNode& a, const FavoriteNode& b);

// The library directory as the favourites keep it: a host path ending with "/"
// (empty stays empty).
std::string NormalizeLibraryPath(std::string_view libraryPath);

// The stored disc path of an index file in the library: the library path cut from
// the front of the index path (compared byte for byte), "/" turned into "\".
// OutsideLibrary when the index path does not begin with the library path, or
// climbs out of it with "." or ".."; PathTooLong when the result has 256 bytes or
// more.
FavoriteStatus DiscPathInLibrary(std::string_view libraryPath, std::string_view indexPath,
                                 std::string& discPath);

// The host path of the index file a stored disc path names, or empty when the
// stored path would leave the library ("..", ".", an absolute path).
std::string IndexPathOfDisc(std::string_view libraryPath, std::string_view discPath);

// A stored disc path after a disc or category of the library moved: from and to
// are stored disc paths (a category's without its final "\"). out gets to in
// place of from when discPath is from or lies below it; false when it is neither,
// or when the new path would not fit a record.
bool MovedDiscPath(std::string_view discPath, std::string_view from, std::string_view to,
                   std::string& out);

// Checks a name handed to the store (stored text).
FavoriteStatus CheckFavoriteName(std::string_view storedName);

// Splits a category text "a\b\c\" (stored text) into its names; empty names
// between doubled separators are dropped. Fails when a name is too long or the
// text names no category at all.
FavoriteStatus SplitCategoryPath(std::string_view storedText, std::vector<std::string>& names);

}  // namespace orb
