// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the favourites pane, its dialogs and its drop targets as plain
// functions: menu states, layout, drag bands, hover expansion, name checks, the
// remark read from a dropped text file, and the locating of a favourite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "favorites/store/favorite_store.h"
#include "ui/control_rules.h"

namespace orb {

// Commands of the context menu "favpopup".
inline constexpr int ID_FAV_ADD_CATEGORY = 32779;
inline constexpr int ID_FAV_ADD_SOFTWARE = 32784;
inline constexpr int ID_FAV_EDIT_REMARK = 32785;
inline constexpr int ID_FAV_DELETE = 32780;
inline constexpr int ID_FAV_RENAME = 32781;
inline constexpr int ID_FAV_EXPAND_ALL = 32793;

struct FavoriteMenuItem {
    int id;  // 0 for a separator
    const char* text;
};
// The menu in its order.
inline constexpr FavoriteMenuItem kFavoriteMenu[] = {
    {ID_FAV_ADD_CATEGORY, "增加分类"},
    {ID_FAV_ADD_SOFTWARE, "增加软件"},
    {0, nullptr},
    {ID_FAV_EDIT_REMARK, "修改备注"},
    {ID_FAV_DELETE, "删除分类/软件"},
    {ID_FAV_RENAME, "重命名"},
    {0, nullptr},
    {ID_FAV_EXPAND_ALL, "展开所有结点"},
};

// What a right click hit: empty space (the root), a category or a software entry.
enum class FavoriteTarget { Root, Category, Software };

bool FavoriteMenuEnabled(int id, FavoriteTarget target);

// Texts the user sees.
inline constexpr const char* kFavCaptionNotice = "提示";
inline constexpr const char* kFavCaptionError = "错误";
inline constexpr const char* kFavMsgNameTooLong = "名称不能超过100个字符";
inline constexpr const char* kFavMsgNameEmpty = "名称不能为空";
inline constexpr const char* kFavMsgPathTooLong =
    "软件所在的路径太长(不能超过255个字节)，不能加入收藏夹!";
inline constexpr const char* kFavMsgAddFailed =
    "将指定软件加入收藏夹失败！\n如果您要加入的软件所在的光盘索引不在Kelvane光盘库中，\n"
    "该光盘的软件将不能加入收藏！\n如果要将当前打开的索引文件加入到光盘库中，\n"
    "可以使用同步光盘库工具!";
inline constexpr const char* kFavMsgLocateFailed = "软件定位失败";
inline constexpr const char* kFavMsgConfirmDelete = "确定删除该收藏吗?";
inline constexpr const char* kFavMsgOnlyTxt = "软件注释只支持纯文件文件(*.txt)";
inline constexpr const char* kFavMsgOpenFileFailed = "打开目标文件失败";
inline constexpr const char* kFavMsgSaveFailed = "收藏夹保存失败:";

// The message for a refused add, re-point, rename or category: the fixed failure
// text for an index outside the library, a length message for a name or path, the
// store's own text otherwise.
const char* FavoriteRefusalText(FavoriteStatus status);

// Checks the add dialog's input before it closes (stored text): the name, then
// every category of the child-category text. Ok or the refusal.
FavoriteStatus CheckAddFavoriteInput(std::string_view storedName, std::string_view storedCategory);

enum class RenameCheck {
    Accept,
    Unchanged,  // empty or equal to the old name: refused without a word
    TooLong,    // 100 bytes or more: refused with kFavMsgNameTooLong
};
RenameCheck CheckFavoriteRename(std::string_view oldStored, std::string_view newStored);

// Layout of the pane: tree, splitter bar (8 pixels) and remark box, the two boxes
// sharing the height in the proportion of their current heights. False when the
// pane is below 200 pixels high (nothing is moved then).
struct FavoritePaneLayout {
    UiRect tree;
    UiRect bar;
    UiRect remark;
};
inline constexpr int kFavSplitterHeight = 8;
bool LayoutFavoritePane(int width, int height, int treeHeight, int remarkHeight,
                        FavoritePaneLayout& out);

// Edge scrolling while something is dragged over the tree.
enum class DragScroll { None, LineDown, LineUp, LineLeft, LineRight };
inline constexpr int kDragScrollBand = 10;
// Which ways the view can still scroll. A band counts only where it can: at the
// top of the list the first item stays a drop target.
struct ScrollRoom {
    bool up = true;
    bool down = true;
    bool left = true;
    bool right = true;
};
// The band the point lies in, bottom first, then top, left, right.
DragScroll DragScrollBandAt(int x, int y, int width, int height, ScrollRoom room = {});

// A remark read from a dropped text file.
inline constexpr size_t kRemarkFileMax = 10240;
// True when the last four characters, A-Z lowered, are ".txt".
bool HasTxtExtension(std::string_view hostPath);
// The remark (stored text) for the first bytes of a file: at most kRemarkFileMax
// bytes of the file, cut on a character boundary. Text that is valid UTF-8 (the
// Linux desktop's own) is converted; anything else is taken as code page 936 bytes
// unchanged. Pass a few bytes more than the limit so a character straddling it is
// seen whole and dropped.
std::string RemarkFromFileBytes(std::string_view bytes);

enum class RemarkFileStatus { Ok, NotText, CannotOpen };
// Checks the extension, opens without blocking, refuses anything but a regular
// file, reads just past the limit and cuts (RemarkFromFileBytes).
RemarkFileStatus ReadRemarkFile(const std::string& hostPath, std::string& storedRemark);

// "orb:\" followed by the path in disc: the directory tree skips what stands before
// ":\" and descends one directory per "\".
std::string FavoriteLocator(std::string_view storedPathInDisc);
// The entry's name: the text after the last "\" (a real one, not the trail byte of
// a double-byte character), or the whole path.
std::string FavoriteEntryName(std::string_view storedPathInDisc);

// The steps of locating a favourite, as the main window carries them out.
struct LocateSteps {
    std::function<bool(const std::string& hostIndexPath)> openIndex;
    std::function<bool(const std::string& storedLocator)> selectDirectory;
    std::function<void(const std::string& storedName)> selectItem;
};
enum class LocateResult {
    Located,
    IndexGone,         // the index could not be opened: the entry keeps its location
    DirectoryMissing,  // "软件定位失败"
};
// hostIndexPath empty means the stored disc path cannot name a file in the library.
LocateResult LocateFavorite(const std::string& hostIndexPath, std::string_view storedPathInDisc,
                            const LocateSteps& steps);

}  // namespace orb
