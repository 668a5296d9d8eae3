// SPDX-License-Identifier: GPL-3.0-or-later
// The library pane's rules as plain functions: which moves a drag may make and the
// status-line text for each, edge scrolling and hover expansion during a drag, the
// context menu's states and the pane's layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/control_rules.h"

namespace orb {

// Status-line texts of a library drag, by their string ids.
enum LibraryMoveTextId {
    kMoveTextNone = 0,
    kMoveTextTargetIsDisc = 61447,  // "目标不是合法的光盘库"
    kMoveTextSameLibrary = 61448,   // "源光盘库和目标光盘库相同"
    kMoveTextNameTaken = 61449,     // "目标光盘库下存在一份名称相同的拷贝"
    kMoveTextAllowed = 61451,       // "允许移动"
};
// The text of a string id; "" for kMoveTextNone or an unknown id.
const char* LibraryMoveText(int stringId);

// What the move rule needs to know about a target and the dragged item.
struct LibraryMoveFacts {
    bool targetIsDragged = false;
    bool targetIsDisc = false;
    // The dragged item is the target's parent, grandparent or a further ancestor.
    bool draggedIsAncestorOfTarget = false;
    // The target has a child (disc or category) labelled exactly as the dragged item.
    bool targetHasSameLabelChild = false;
};
// 1 when the dragged item may be moved into the target, else 0; stringId gets the
// status-line text of the first rule that applied.
int CheckLibraryMove(const LibraryMoveFacts& facts, int& stringId);

// Drag edge scrolling: within this many pixels of an edge the tree scrolls a line.
inline constexpr int kDragScrollMargin = 10;
struct EdgeScroll {
    int dx = 0;  // -1 a line left, +1 a line right
    int dy = 0;  // -1 a line up, +1 a line down
};
// The scroll for a pointer in the tree's client rectangle (both in one coordinate
// system): at most one line in each direction.
EdgeScroll EdgeScrollFor(const UiRect& client, UiPoint pointer);

// Context menu command ids and the states for a target item.
enum LibraryCommand {
    kCmdAddCategory = 32776,
    kCmdDeleteItem = 32777,
    kCmdRename = 32778,
    kCmdExplore = 32782,
    kCmdRefresh = 32783,
};
struct LibraryMenuState {
    bool addCategory = true;
    bool deleteItem = true;
    bool rename = true;
    // A disc's explore command reads "打开" and opens it as the document.
    bool exploreIsOpen = false;
};
LibraryMenuState LibraryMenuStateFor(bool isRoot, bool isDisc);

// What a delete takes away for good, said below its question: a disc's index with
// its annotations, or a category with the discs and categories inside it.
std::string DeleteConsequenceText(bool category, size_t discsInside, size_t categoriesInside);

// The pane's layout: the tree on top, the splitter bar, then the tab control.
inline constexpr int kPaneMinSize = 200;
inline constexpr int kPaneBarHeight = 8;
inline constexpr int kModifyButtonWidth = 70;
struct LibraryPaneLayout {
    UiRect tree;
    UiRect bar;
    UiRect tabs;
};
// false (nothing to lay out) when height is below 200. treeHeight and tabsHeight
// are the controls' current heights; their proportion is kept.
bool LayOutLibraryPane(int width, int height, int treeHeight, int tabsHeight,
                       LibraryPaneLayout& out);
// The modify button in the tab control's coordinates: the last 70 pixels of the
// tab strip below the page area.
UiRect ModifyButtonRect(const UiRect& tabClient, const UiRect& displayArea);

}  // namespace orb
