// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites pane's rules: menu states, layout, drag bands, hover expansion,
// the remark read from a dropped file, and locating.
#include "favorites/pane/favorite_rules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

TEST(FavoriteRules, MenuStatesFollowTheTarget) {
    struct Row {
        int id;
        bool root, category, software;
    } rows[] = {
        {ID_FAV_ADD_CATEGORY, true, true, false}, {ID_FAV_ADD_SOFTWARE, true, true, false},
        {ID_FAV_EDIT_REMARK, false, false, true}, {ID_FAV_DELETE, false, true, true},
        {ID_FAV_RENAME, false, true, true},       {ID_FAV_EXPAND_ALL, true, true, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FavoriteMenuEnabled(r.id, FavoriteTarget::Root), r.root) << r.id;
        EXPECT_EQ(FavoriteMenuEnabled(r.id, FavoriteTarget::Category), r.category) << r.id;
        EXPECT_EQ(FavoriteMenuEnabled(r.id, FavoriteTarget::Software), r.software) << r.id;
    }
    EXPECT_FALSE(FavoriteMenuEnabled(0, FavoriteTarget::Root));
}

TEST(FavoriteRules, LayoutKeepsTheProportionAndNeedsTwoHundredPixels) {
    FavoritePaneLayout l;
    ASSERT_TRUE(LayoutFavoritePane(150, 408, 300, 100, l));
    EXPECT_EQ(l.tree, (UiRect{0, 0, 200, 300}));  // narrower than 200 counts as 200
    EXPECT_EQ(l.bar, (UiRect{0, 300, 200, 308}));
    EXPECT_EQ(l.remark, (UiRect{0, 308, 200, 408}));
    ASSERT_TRUE(LayoutFavoritePane(300, 808, 300, 100, l));
    EXPECT_EQ(l.tree.Height(), 600);
    EXPECT_EQ(l.remark.Height(), 200);
    EXPECT_FALSE(LayoutFavoritePane(300, 199, 300, 100, l));
    // Boxes without a height yet do not divide by zero.
    ASSERT_TRUE(LayoutFavoritePane(300, 408, 0, 0, l));
    EXPECT_EQ(l.tree.Height() + l.remark.Height(), 400);
}

TEST(FavoriteRules, DragBandsBottomFirst) {
    EXPECT_EQ(DragScrollBandAt(50, 95, 100, 100), DragScroll::LineDown);
    EXPECT_EQ(DragScrollBandAt(0, 99, 100, 100), DragScroll::LineDown);  // corner: bottom wins
    EXPECT_EQ(DragScrollBandAt(0, 0, 100, 100), DragScroll::LineUp);     // corner: top wins
    EXPECT_EQ(DragScrollBandAt(5, 50, 100, 100), DragScroll::LineLeft);
    EXPECT_EQ(DragScrollBandAt(90, 50, 100, 100), DragScroll::LineRight);
    EXPECT_EQ(DragScrollBandAt(10, 10, 100, 100), DragScroll::None);
    EXPECT_EQ(DragScrollBandAt(89, 89, 100, 100), DragScroll::None);
    // No band where there is nothing more to scroll.
    ScrollRoom atTop;
    atTop.up = false;
    EXPECT_EQ(DragScrollBandAt(50, 5, 100, 100, atTop), DragScroll::None);
    EXPECT_EQ(DragScrollBandAt(5, 5, 100, 100, atTop), DragScroll::LineLeft);
    EXPECT_EQ(DragScrollBandAt(50, 95, 100, 100, atTop), DragScroll::LineDown);
}

TEST(FavoriteRules, RenameAndAddChecksCountStoredBytes) {
    const std::string old = "old";
    EXPECT_EQ(CheckFavoriteRename(old, std::string(99, 'n')), RenameCheck::Accept);
    EXPECT_EQ(CheckFavoriteRename(old, std::string(100, 'n')), RenameCheck::TooLong);
    EXPECT_EQ(CheckFavoriteRename(old, ""), RenameCheck::Unchanged);
    EXPECT_EQ(CheckFavoriteRename(old, "old"), RenameCheck::Unchanged);
    EXPECT_EQ(CheckFavoriteRename(old, "Old"), RenameCheck::Accept);

    EXPECT_EQ(CheckAddFavoriteInput("n", ""), FavoriteStatus::Ok);
    EXPECT_EQ(CheckAddFavoriteInput("n", "\\\\"), FavoriteStatus::Ok);  // names no category
    EXPECT_EQ(CheckAddFavoriteInput("", "a"), FavoriteStatus::NameEmpty);
    EXPECT_EQ(CheckAddFavoriteInput(std::string(100, 'n'), ""), FavoriteStatus::NameTooLong);
    EXPECT_EQ(CheckAddFavoriteInput("n", "a\\" + std::string(100, 'c') + "\\"),
              FavoriteStatus::NameTooLong);
    EXPECT_STREQ(FavoriteRefusalText(FavoriteStatus::NameTooLong), kFavMsgNameTooLong);
    EXPECT_STREQ(FavoriteRefusalText(FavoriteStatus::OutsideLibrary), kFavMsgAddFailed);
}

// Code page 936 text of n bytes: "中" (D6 D0) repeated, with a leading ASCII byte
// when n is odd so that a double-byte character straddles every even limit.
std::string Gbk(size_t n) {
    std::string s = n % 2 ? "x" : "";
    while (s.size() < n) s += "\xD6\xD0";
    return s;
}

TEST(FavoriteRules, RemarkFromFileIsCutOnACharacterBoundary) {
    // 20000 bytes of double-byte text starting on an even byte: exactly 10240.
    EXPECT_EQ(RemarkFromFileBytes(Gbk(20000)), Gbk(10240));
    // Shifted by one byte a character straddles the limit: it is left out whole.
    std::string odd = RemarkFromFileBytes(Gbk(20001));
    EXPECT_EQ(odd.size(), 10239u);
    EXPECT_EQ(odd, Gbk(20001).substr(0, 10239));
    EXPECT_EQ(RemarkFromFileBytes("short\r\ntext"), "short\r\ntext");
    EXPECT_EQ(RemarkFromFileBytes(""), "");

    // UTF-8 (the Linux desktop's text): converted, cut between characters of the file.
    std::string utf8;
    while (utf8.size() < 20000) utf8 += "中";  // three bytes each
    const std::string stored = RemarkFromFileBytes(utf8);
    EXPECT_EQ(stored, HostToStored(utf8.substr(0, 10239)));  // 3413 characters
    EXPECT_EQ(RemarkFromFileBytes("\xEF\xBB\xBF"
                                  "版本"),
              HostToStored("版本"));
}

TEST(FavoriteRules, RemarkFileMustBeARegularTextFile) {
    test::TempDir dir;
    std::string remark;
    test::WriteFile(dir / "README.TXT", Gbk(20000));
    ASSERT_EQ(ReadRemarkFile(dir / "README.TXT", remark), RemarkFileStatus::Ok);
    EXPECT_EQ(remark, Gbk(10240));

    test::WriteFile(dir / "notes.md", "x");
    EXPECT_EQ(ReadRemarkFile(dir / "notes.md", remark), RemarkFileStatus::NotText);
    EXPECT_EQ(ReadRemarkFile(dir / "missing.txt", remark), RemarkFileStatus::CannotOpen);
    ASSERT_EQ(mkdir((dir / "folder.txt").c_str(), 0755), 0);
    EXPECT_EQ(ReadRemarkFile(dir / "folder.txt", remark), RemarkFileStatus::CannotOpen);
    // A FIFO with no writer would block a plain open for ever.
    ASSERT_EQ(mkfifo((dir / "pipe.txt").c_str(), 0644), 0);
    EXPECT_EQ(ReadRemarkFile(dir / "pipe.txt", remark), RemarkFileStatus::CannotOpen);
    EXPECT_EQ(remark, Gbk(10240));  // refusals leave the output alone
}

TEST(FavoriteRules, LocatingOpensSelectsTheDirectoryThenTheEntry) {
    std::vector<std::string> calls;
    bool openOk = true, dirOk = true;
    LocateSteps steps;
    steps.openIndex = [&](const std::string& p) {
        calls.push_back("open " + p);
        return openOk;
    };
    steps.selectDirectory = [&](const std::string& l) {
        calls.push_back("dir " + l);
        return dirOk;
    };
    steps.selectItem = [&](const std::string& n) { calls.push_back("item " + n); };

    EXPECT_EQ(LocateFavorite("/lib/a.orb", "tools\\win\\setup.exe", steps), LocateResult::Located);
    EXPECT_EQ(calls, (std::vector<std::string>{"open /lib/a.orb", "dir orb:\\tools\\win\\setup.exe",
                                               "item setup.exe"}));
    calls.clear();
    EXPECT_EQ(LocateFavorite("/lib/a.orb", "setup.exe", steps), LocateResult::Located);
    EXPECT_EQ(calls, (std::vector<std::string>{"open /lib/a.orb", "dir orb:\\setup.exe",
                                               "item setup.exe"}));
    // A "\" that is the second byte of a double-byte character separates nothing.
    calls.clear();
    EXPECT_EQ(LocateFavorite("/lib/a.orb", "d\\\x81\x5C.exe", steps), LocateResult::Located);
    EXPECT_EQ(calls.back(), "item \x81\x5C.exe");

    calls.clear();
    dirOk = false;
    EXPECT_EQ(LocateFavorite("/lib/a.orb", "x\\y", steps), LocateResult::DirectoryMissing);
    EXPECT_EQ(calls.size(), 2u);
    calls.clear();
    openOk = false;
    EXPECT_EQ(LocateFavorite("/lib/a.orb", "x\\y", steps), LocateResult::IndexGone);
    EXPECT_EQ(calls.size(), 1u);
    calls.clear();
    EXPECT_EQ(LocateFavorite("", "x\\y", steps), LocateResult::IndexGone);
    EXPECT_TRUE(calls.empty());
}

}  // namespace
}  // namespace orb
