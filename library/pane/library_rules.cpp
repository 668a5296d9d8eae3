// SPDX-License-Identifier: GPL-3.0-or-later
// The library pane's plain rules: move checks, drag feedback, menu states, layout.
#include "library/pane/library_rules.h"

#include <algorithm>

namespace orb {

const char* LibraryMoveText(int stringId) {
    switch (stringId) {
        case kMoveTextTargetIsDisc:
            return "目标不是合法的光盘库";
        case kMoveTextSameLibrary:
            return "源光盘库和目标光盘库相同";
        case kMoveTextNameTaken:
            return "目标光盘库下存在一份名称相同的拷贝";
        case kMoveTextAllowed:
            return "允许移动";
        default:
            return "";
    }
}

int CheckLibraryMove(const LibraryMoveFacts& facts, int& stringId) {
    if (facts.targetIsDragged) {
        stringId = kMoveTextNone;
        return 0;
    }
    if (facts.targetIsDisc) {
        stringId = kMoveTextTargetIsDisc;
        return 0;
    }
    if (facts.draggedIsAncestorOfTarget) {
        stringId = kMoveTextSameLibrary;
        return 0;
    }
    if (facts.targetHasSameLabelChild) {
        stringId = kMoveTextNameTaken;
        return 0;
    }
    stringId = kMoveTextAllowed;
    return 1;
}

EdgeScroll EdgeScrollFor(const UiRect& client, UiPoint pointer) {
    EdgeScroll s;
    if (pointer.y >= client.bottom - kDragScrollMargin)
        s.dy = 1;
    else if (pointer.y <= client.top + kDragScrollMargin)
        s.dy = -1;
    if (pointer.x <= client.left + kDragScrollMargin)
        s.dx = -1;
    else if (pointer.x >= client.right - kDragScrollMargin)
        s.dx = 1;
    return s;
}

LibraryMenuState LibraryMenuStateFor(bool isRoot, bool isDisc) {
    LibraryMenuState s;
    s.deleteItem = !isRoot;
    // The root's label is fixed text, not a directory name.
    s.rename = !isRoot;
    s.addCategory = !isDisc;
    s.exploreIsOpen = isDisc;
    return s;
}

bool LayOutLibraryPane(int width, int height, int treeHeight, int tabsHeight,
                       LibraryPaneLayout& out) {
    if (height < kPaneMinSize) return false;
    width = std::max(width, kPaneMinSize);
    const int available = height - kPaneBarHeight;
    // Before the first layout both controls may have no height yet: split evenly.
    if (treeHeight < 0) treeHeight = 0;
    if (tabsHeight < 0) tabsHeight = 0;
    if (treeHeight + tabsHeight <= 0) treeHeight = tabsHeight = 1;
    const int64_t total = int64_t{treeHeight} + tabsHeight;
    const int tree = static_cast<int>(int64_t{treeHeight} * available / total);
    const int tabs = static_cast<int>(int64_t{tabsHeight} * available / total);
    out.tree = {0, 0, width, tree};
    out.bar = {0, tree, width, tree + kPaneBarHeight};
    out.tabs = {0, tree + kPaneBarHeight, width, tree + kPaneBarHeight + tabs};
    return true;
}

UiRect ModifyButtonRect(const UiRect& tabClient, const UiRect& displayArea) {
    return {tabClient.right - kModifyButtonWidth, displayArea.bottom + 2, tabClient.right,
            tabClient.bottom};
}

std::string DeleteConsequenceText(bool category, size_t discsInside, size_t categoriesInside) {
    if (!category) return "该光盘的索引和注释将被永久删除，不能恢复。";
    if (discsInside == 0 && categoriesInside == 0) return "这是一个空分类。";
    std::string text = "其中的 " + std::to_string(discsInside) + " 张光盘";
    if (categoriesInside > 0) text += "和 " + std::to_string(categoriesInside) + " 个子分类";
    return text + "将一并被永久删除，不能恢复。";
}

}  // namespace orb
