// SPDX-License-Identifier: GPL-3.0-or-later
// The library pane's plain rules: move checks in their order, edge scrolling,
// hover expansion, the context menu's states and the layout.
#include "library/pane/library_rules.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(CheckLibraryMoveRule, FirstApplyingRuleDecides) {
    int id = -1;
    LibraryMoveFacts all{true, true, true, true};
    EXPECT_EQ(CheckLibraryMove(all, id), 0);
    EXPECT_EQ(id, kMoveTextNone);

    LibraryMoveFacts disc{false, true, true, true};
    EXPECT_EQ(CheckLibraryMove(disc, id), 0);
    EXPECT_EQ(id, kMoveTextTargetIsDisc);
    EXPECT_STREQ(LibraryMoveText(id), "目标不是合法的光盘库");

    LibraryMoveFacts inside{false, false, true, true};
    EXPECT_EQ(CheckLibraryMove(inside, id), 0);
    EXPECT_EQ(id, kMoveTextSameLibrary);
    EXPECT_STREQ(LibraryMoveText(id), "源光盘库和目标光盘库相同");

    LibraryMoveFacts taken{false, false, false, true};
    EXPECT_EQ(CheckLibraryMove(taken, id), 0);
    EXPECT_EQ(id, kMoveTextNameTaken);
    EXPECT_STREQ(LibraryMoveText(id), "目标光盘库下存在一份名称相同的拷贝");

    LibraryMoveFacts ok{};
    EXPECT_EQ(CheckLibraryMove(ok, id), 1);
    EXPECT_EQ(id, kMoveTextAllowed);
    EXPECT_STREQ(LibraryMoveText(id), "允许移动");
    EXPECT_STREQ(LibraryMoveText(kMoveTextNone), "");
}

TEST(DragFeedback, EdgeScrollWithinTenPixels) {
    const UiRect client{0, 0, 200, 300};
    EXPECT_EQ(EdgeScrollFor(client, {100, 150}).dy, 0);
    EXPECT_EQ(EdgeScrollFor(client, {100, 150}).dx, 0);
    EXPECT_EQ(EdgeScrollFor(client, {100, 290}).dy, 1);
    EXPECT_EQ(EdgeScrollFor(client, {100, 289}).dy, 0);
    EXPECT_EQ(EdgeScrollFor(client, {100, 10}).dy, -1);
    EXPECT_EQ(EdgeScrollFor(client, {100, 11}).dy, 0);
    EXPECT_EQ(EdgeScrollFor(client, {10, 150}).dx, -1);
    EXPECT_EQ(EdgeScrollFor(client, {190, 150}).dx, 1);
    // A tree shorter than both margins scrolls down, not up.
    EdgeScroll corner = EdgeScrollFor(UiRect{0, 0, 15, 15}, {5, 5});
    EXPECT_EQ(corner.dy, 1);
    EXPECT_EQ(corner.dx, -1);
}

TEST(DeleteConsequence, SaysWhatGoesForGood) {
    EXPECT_EQ(DeleteConsequenceText(false, 0, 0), "该光盘的索引和注释将被永久删除，不能恢复。");
    EXPECT_EQ(DeleteConsequenceText(true, 3, 0), "其中的 3 张光盘将一并被永久删除，不能恢复。");
    EXPECT_EQ(DeleteConsequenceText(true, 0, 2),
              "其中的 0 张光盘和 2 个子分类将一并被永久删除，不能恢复。");
    EXPECT_EQ(DeleteConsequenceText(true, 0, 0), "这是一个空分类。");
}

TEST(LibraryMenu, StatesForRootCategoryAndDisc) {
    LibraryMenuState root = LibraryMenuStateFor(true, false);
    EXPECT_TRUE(root.addCategory);
    EXPECT_FALSE(root.deleteItem);
    EXPECT_FALSE(root.rename);
    EXPECT_FALSE(root.exploreIsOpen);
    LibraryMenuState category = LibraryMenuStateFor(false, false);
    EXPECT_TRUE(category.addCategory);
    EXPECT_TRUE(category.deleteItem);
    EXPECT_TRUE(category.rename);
    EXPECT_FALSE(category.exploreIsOpen);
    LibraryMenuState disc = LibraryMenuStateFor(false, true);
    EXPECT_FALSE(disc.addCategory);
    EXPECT_TRUE(disc.deleteItem);
    EXPECT_TRUE(disc.exploreIsOpen);
}

TEST(LibraryPaneLayoutRule, KeepsProportionAndMinimumSize) {
    LibraryPaneLayout l;
    EXPECT_FALSE(LayOutLibraryPane(300, 199, 100, 100, l));
    ASSERT_TRUE(LayOutLibraryPane(300, 208, 50, 50, l));
    EXPECT_EQ(l.tree, (UiRect{0, 0, 300, 100}));
    EXPECT_EQ(l.bar, (UiRect{0, 100, 300, 108}));
    EXPECT_EQ(l.tabs, (UiRect{0, 108, 300, 208}));
    // Narrow panes are laid out 200 wide; 2:1 stays 2:1.
    ASSERT_TRUE(LayOutLibraryPane(120, 608, 400, 200, l));
    EXPECT_EQ(l.tree, (UiRect{0, 0, 200, 400}));
    EXPECT_EQ(l.tabs, (UiRect{0, 408, 200, 608}));
    // Controls without a height yet share evenly instead of dividing by zero.
    ASSERT_TRUE(LayOutLibraryPane(300, 408, 0, 0, l));
    EXPECT_EQ(l.tree.Height(), 200);
    EXPECT_EQ(l.tabs.Height(), 200);

    const UiRect button = ModifyButtonRect(UiRect{0, 0, 300, 200}, UiRect{2, 2, 298, 170});
    EXPECT_EQ(button, (UiRect{230, 172, 300, 200}));
}

}  // namespace
}  // namespace orb
