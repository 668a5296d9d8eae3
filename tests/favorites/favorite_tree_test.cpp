// SPDX-License-Identifier: GPL-3.0-or-later
#include "favorites/tree/favorite_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <memory>

#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_favorites_tree";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

const std::string kToolsFile = "\xFB\xFD\x04\xB9\xA4\xBE\xDF\x01\xFC";  // 工具

class FavoriteTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        tree = std::make_unique<CFavoriteTree>();
    }
    std::string Saved() {
        std::string path = dir / "saved.dat";
        EXPECT_TRUE(tree->SaveFavorites(path));
        return test::ReadFile(path);
    }
    FavoriteLocation In(const std::string& relative, const std::string& inDisc = "tools\\a.exe") {
        return {dir.path() + "/" + relative, inDisc};
    }

    test::TempDir dir;
    std::unique_ptr<CFavoriteTree> tree;
};

TEST_F(FavoriteTreeTest, MissingFileGivesEmptyTreeThatIsCreatedOnExit) {
    EXPECT_FALSE(tree->LoadFavorites(dir.path()));
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(tree->IsModified());
    EXPECT_EQ(Saved(), "\xFB\xFC");
    tree.reset();
    EXPECT_EQ(test::ReadFile(dir / "favorite.dat"), "\xFB\xFC");
}

TEST_F(FavoriteTreeTest, OneCategoryIsStoredInCodePage936) {
    tree->LoadFavorites(dir.path());
    QTreeWidgetItem* tools = tree->AddCategoryPath(QString::fromUtf8("工具"), nullptr);
    ASSERT_NE(tools, nullptr);
    EXPECT_EQ(CFavoriteTree::ItemImage(tools), 2);
    EXPECT_TRUE(tree->IsCategory(tools));
    EXPECT_EQ(Saved(), kToolsFile);
}

TEST_F(FavoriteTreeTest, AddCategoryPathReusesCategoriesOnly) {
    tree->LoadFavorites(dir.path());
    ASSERT_TRUE(tree->AddSoftware(nullptr, "a", "", nullptr));
    QTreeWidgetItem* b1 = tree->AddCategoryPath("a\\b", nullptr);
    QTreeWidgetItem* b2 = tree->AddCategoryPath("a\\b\\", nullptr);
    ASSERT_NE(b1, nullptr);
    EXPECT_EQ(b1, b2);
    // The software named a was not taken as the category a.
    EXPECT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->GetCategoryPath(b1), "a\\b\\");
    EXPECT_EQ(tree->GetCategoryPath(nullptr), "");

    EXPECT_EQ(tree->AddCategoryPath("", nullptr), nullptr);
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::NameEmpty);
    // Names count stored bytes: 49 Chinese characters and a letter are 99 bytes,
    // 50 characters are too many. Nothing of a refused chain is created.
    QString name99 = QString(49, QChar(0x5DE5)) + "x";
    EXPECT_NE(tree->AddCategoryPath(name99, nullptr), nullptr);
    EXPECT_EQ(tree->AddCategoryPath("new\\" + QString(50, QChar(0x5DE5)), nullptr), nullptr);
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::NameTooLong);
    EXPECT_EQ(tree->topLevelItemCount(), 3);
}

TEST_F(FavoriteTreeTest, AddSoftwareRefusesLocationsOutsideTheLibrary) {
    tree->LoadFavorites(dir.path());
    QTreeWidgetItem* item = nullptr;
    FavoriteLocation inside = In("软件/disc01.orb");
    ASSERT_TRUE(tree->AddSoftware(nullptr, "WinRAR", "r", &inside, &item));
    const FavoriteItem* record = CFavoriteTree::GetFavoriteItem(item);
    ASSERT_TRUE(record && record->software);
    EXPECT_EQ(record->software->discPath, "\xC8\xED\xBC\xFE\\disc01.orb");
    EXPECT_EQ(record->software->pathInDisc, "tools\\a.exe");
    EXPECT_EQ(CFavoriteTree::ItemImage(item), 1);
    EXPECT_EQ(tree->GetIndexPath(item), dir.path() + "/软件/disc01.orb");

    std::string upper = dir.path();
    for (char& c : upper) c = static_cast<char>(toupper(c));
    FavoriteLocation otherCase{upper + "/x.orb", "a"};
    FavoriteLocation elsewhere{"/tmp/x.orb", "a"};
    FavoriteLocation tooLong = In(std::string(300, 'd') + ".orb");
    FavoriteLocation inDiscTooLong = In("x.orb", std::string(256, 'p'));
    struct Case {
        const FavoriteLocation* location;
        FavoriteStatus status;
    } cases[] = {{&otherCase, FavoriteStatus::OutsideLibrary},
                 {&elsewhere, FavoriteStatus::OutsideLibrary},
                 {&tooLong, FavoriteStatus::PathTooLong},
                 {&inDiscTooLong, FavoriteStatus::PathTooLong}};
    for (const Case& c : cases) {
        EXPECT_FALSE(tree->AddSoftware(nullptr, "x", "", c.location)) << c.location->indexPath;
        EXPECT_EQ(tree->LastStatus(), c.status) << c.location->indexPath;
        EXPECT_FALSE(tree->SetSoftwareLocation(item, c.location));
    }
    EXPECT_FALSE(tree->AddSoftware(nullptr, QString(100, 'n'), "", nullptr));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::NameTooLong);
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(record->software->pathInDisc, "tools\\a.exe");  // refusals changed nothing
}

TEST_F(FavoriteTreeTest, LocationAndRemarkChanges) {
    tree->LoadFavorites(dir.path());
    QTreeWidgetItem* item = nullptr;
    ASSERT_TRUE(tree->AddSoftware(nullptr, "s", "", nullptr, &item));
    EXPECT_EQ(CFavoriteTree::ItemImage(item), 0);
    FavoriteLocation where = In("d.orb");
    ASSERT_TRUE(tree->SetSoftwareLocation(item, &where));
    EXPECT_EQ(CFavoriteTree::ItemImage(item), 1);
    ASSERT_TRUE(tree->SetSoftwareLocation(item, nullptr));
    EXPECT_EQ(CFavoriteTree::ItemImage(item), 0);
    EXPECT_TRUE(CFavoriteTree::GetFavoriteItem(item)->software->discPath.empty());

    EXPECT_TRUE(tree->SetSoftwareRemark(item, QString::fromUtf8("说明\r\n")));
    tree->SetModified(false);
    EXPECT_FALSE(tree->SetSoftwareRemark(item, QString::fromUtf8("说明\r\n")));
    EXPECT_FALSE(tree->IsModified());
    EXPECT_EQ(CFavoriteTree::GetFavoriteItem(item)->software->remark, "\xCB\xB5\xC3\xF7\r\n");

    QTreeWidgetItem* cat = tree->AddCategoryPath("c", nullptr);
    EXPECT_FALSE(tree->SetSoftwareRemark(cat, "x"));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::NotSoftware);
    EXPECT_TRUE(tree->RenameFavorite(cat, QString::fromUtf8("网络")));
    EXPECT_EQ(cat->text(0), QString::fromUtf8("网络"));
    EXPECT_FALSE(tree->RenameFavorite(cat, QString(100, 'n')));
    EXPECT_EQ(CFavoriteTree::GetFavoriteItem(cat)->name, "\xCD\xF8\xC2\xE7");
}

// A file with categories, software, remarks and nested levels, as written by the
// Windows program.
std::string NestedFile() {
    auto item = [](Bytes& b, const std::string& name, int kind) {
        b.u8(0xFD).u8(static_cast<uint8_t>(name.size())).str(name).u8(static_cast<uint8_t>(kind));
    };
    auto soft = [&](Bytes& b, const std::string& name, const std::string& disc,
                    const std::string& inDisc, const std::string& remark) {
        item(b, name, 0);
        b.u8(static_cast<uint8_t>(disc.size())).str(disc);
        b.u8(static_cast<uint8_t>(inDisc.size())).str(inDisc);
        b.u32(static_cast<uint32_t>(remark.size())).str(remark);
    };
    Bytes b;
    b.u8(0xFB);
    item(b, "\xB9\xA4\xBE\xDF", 1);
    b.u8(0xFF);
    item(b, "\xCD\xF8\xC2\xE7", 1);
    b.u8(0xFF);
    soft(b, "ftp", "\xC8\xED\xBC\xFE\\disc01.orb", "net\\ftp.exe", "first\r\nsecond");
    soft(b, "empty path", "disc02.orb", "", "");
    b.u8(0xFE);
    soft(b, "zip", "disc03.orb", "zip", "");
    b.u8(0xFE);
    item(b, "games", 1);
    b.u8(0xFC);
    return b.data();
}

TEST_F(FavoriteTreeTest, ReadingAndWritingGivesTheSameBytes) {
    std::string file = NestedFile();
    test::WriteFile(dir / "favorite.dat", file);
    ASSERT_TRUE(tree->LoadFavorites(dir.path()));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::Ok);
    EXPECT_FALSE(tree->IsModified());
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* tools = tree->topLevelItem(0);
    EXPECT_EQ(tools->text(0), QString::fromUtf8("工具"));
    ASSERT_EQ(tools->childCount(), 2);
    QTreeWidgetItem* net = tools->child(0);
    EXPECT_EQ(tree->GetCategoryPath(net), QString::fromUtf8("工具\\网络\\"));
    ASSERT_EQ(net->childCount(), 2);
    EXPECT_EQ(CFavoriteTree::ItemImage(net->child(0)), 1);
    EXPECT_EQ(CFavoriteTree::ItemImage(net->child(1)), 0);  // empty path in disc
    EXPECT_EQ(CFavoriteTree::ItemImage(net), 2);
    EXPECT_EQ(Saved(), file);
}

TEST_F(FavoriteTreeTest, DamagedFileKeepsItemsAndIsNotRewritten) {
    std::string file = NestedFile();
    std::string cut = file.substr(0, file.size() - 10);  // inside the last software
    test::WriteFile(dir / "favorite.dat", cut);
    ASSERT_TRUE(tree->LoadFavorites(dir.path()));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::Damaged);
    EXPECT_FALSE(tree->IsModified());
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->childCount(), 2);
    tree.reset();
    EXPECT_EQ(test::ReadFile(dir / "favorite.dat"), cut);

    test::WriteFile(dir / "favorite.dat", "not a favourites file");
    tree = std::make_unique<CFavoriteTree>();
    ASSERT_TRUE(tree->LoadFavorites(dir.path()));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::NotFavorites);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(FavoriteTreeTest, LoadingAnotherLibrarySavesTheChangedOneFirst) {
    test::TempDir other;
    test::WriteFile(other / "favorite.dat", kToolsFile);
    tree->LoadFavorites(dir.path());
    tree->AddCategoryPath("mine", nullptr);
    ASSERT_TRUE(tree->LoadFavorites(other.path()));
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QString::fromUtf8("工具"));
    FavoriteReadResult first = ReadFavoritesFile(dir / "favorite.dat");
    ASSERT_EQ(first.items.size(), 1u);
    EXPECT_EQ(first.items[0].item.name, "mine");
}

TEST_F(FavoriteTreeTest, MoveCarriesTheWholeSubtreeAndRefusesCycles) {
    test::WriteFile(dir / "favorite.dat", NestedFile());
    ASSERT_TRUE(tree->LoadFavorites(dir.path()));
    QTreeWidgetItem* tools = tree->topLevelItem(0);
    QTreeWidgetItem* games = tree->topLevelItem(1);
    QTreeWidgetItem* net = tools->child(0);

    EXPECT_EQ(tree->MoveFavorite(tools, net), nullptr);
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::BadMove);
    EXPECT_EQ(tree->MoveFavorite(tools, tools), nullptr);
    EXPECT_FALSE(tree->IsModified());

    ASSERT_EQ(tree->MoveFavorite(net, games), net);
    EXPECT_TRUE(tree->IsModified());
    EXPECT_EQ(net->parent(), games);
    EXPECT_EQ(games->childCount(), 1);
    EXPECT_EQ(tools->childCount(), 1);
    const FavoriteItem* ftp = CFavoriteTree::GetFavoriteItem(net->child(0));
    ASSERT_TRUE(ftp && ftp->software);
    EXPECT_EQ(ftp->software->remark, "first\r\nsecond");
    EXPECT_EQ(ftp->software->pathInDisc, "net\\ftp.exe");

    // Back to the top level, as the last item.
    ASSERT_EQ(tree->MoveFavorite(net, nullptr), net);
    EXPECT_EQ(tree->topLevelItem(2), net);
    EXPECT_EQ(tree->GetCategoryPath(net->child(0)), "\xE7\xBD\x91\xE7\xBB\x9C\\ftp\\");
}

TEST_F(FavoriteTreeTest, DeleteReleasesSubtreesAndAll) {
    test::WriteFile(dir / "favorite.dat", NestedFile());
    ASSERT_TRUE(tree->LoadFavorites(dir.path()));
    tree->expandAll();
    EXPECT_TRUE(tree->topLevelItem(0)->child(0)->isExpanded());
    tree->DeleteFavorite(tree->topLevelItem(0)->child(0));
    EXPECT_TRUE(tree->IsModified());
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 1);
    tree->DeleteFavorite(nullptr);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(Saved(), "\xFB\xFC");
}

TEST_F(FavoriteTreeTest, UnreadableFileIsNotReplacedByAnEmptyTree) {
    // Present but not readable as a file (here a folder stands under the name):
    // unlike a missing file, it is not overwritten at exit.
    ASSERT_EQ(::mkdir((dir / "favorite.dat").c_str(), 0755), 0);
    test::WriteFile(dir / "favorite.dat/keep", "x");
    EXPECT_FALSE(tree->LoadFavorites(dir.path()));
    EXPECT_EQ(tree->LastStatus(), FavoriteStatus::CannotOpen);
    EXPECT_FALSE(tree->IsModified());
    tree.reset();
    EXPECT_EQ(test::ReadFile(dir / "favorite.dat/keep"), "x");
}

}  // namespace
}  // namespace orb
