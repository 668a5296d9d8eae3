// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/tree/library_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QTreeWidgetItemIterator>
#include <memory>
#include <set>
#include <thread>

#include "index/index_format.h"
#include "library/tree/category_name.h"
#include "library/tree/library_loader.h"
#include "library/tree/library_watcher.h"
#include "platform/text.h"
#include "tests/support/qt_wait.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_library_tree";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

// An index file holding only the magic and a header with the given label.
void WriteIndex(const std::string& path, const std::string& storedLabel) {
    IndexHeader header;
    CopyToFixed(header.label, kLabelSize, storedLabel);
    unsigned char buf[kHeaderSize];
    EncodeHeader(header, buf);
    test::WriteFile(path, std::string(kIndexMagic, kMagicSize) +
                              std::string(reinterpret_cast<char*>(buf), kHeaderSize));
}

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

std::vector<std::string> ChildLabels(QTreeWidgetItem* parent) {
    std::vector<std::string> labels;
    for (int i = 0; i < parent->childCount(); ++i)
        labels.push_back(CLibraryTree::ItemLabel(parent->child(i)));
    return labels;
}

class LibraryTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        tree = std::make_unique<CLibraryTree>();
        root = dir.path() + "/";
    }
    test::TempDir dir;
    std::string root;
    std::unique_ptr<CLibraryTree> tree;
};

TEST_F(LibraryTreeTest, CategoriesFirstThenDiscsInFoldedByteOrder) {
    for (const char* f : {"b.orb", "A.ORB", "notes.txt", "a.orb.txt", "中.Orb"})
        test::WriteFile(dir / f, "");
    MakeDir(dir / "Zeta");
    MakeDir(dir / "alpha");
    MakeDir(dir / ".hidden");
    tree->FillLibrary(dir.path());
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree->RootItem();
    EXPECT_EQ(top->text(0), QString::fromUtf8("Kelvane光盘库"));
    EXPECT_TRUE(top->isExpanded());
    EXPECT_EQ(ChildLabels(top),
              (std::vector<std::string>{".hidden", "alpha", "Zeta", "A", "b", "中"}));
    EXPECT_EQ(CLibraryTree::ItemImage(top), 1);
    EXPECT_EQ(CLibraryTree::ItemSelectedImage(top), 2);
    EXPECT_EQ(CLibraryTree::ItemImage(top->child(1)), 1);
    EXPECT_EQ(CLibraryTree::ItemSelectedImage(top->child(1)), 2);
    EXPECT_EQ(CLibraryTree::ItemImage(top->child(3)), 0);
    EXPECT_EQ(CLibraryTree::ItemSelectedImage(top->child(3)), 0);
    EXPECT_EQ(tree->IsCategoryItem(top), 1);
    EXPECT_EQ(tree->IsCategoryItem(top->child(2)), 1);
    EXPECT_EQ(tree->IsCategoryItem(top->child(3)), 0);
}

TEST_F(LibraryTreeTest, FileNamedOnlyOrbIsADiscWithEmptyLabel) {
    test::WriteFile(dir / ".orb", "");
    tree->FillLibrary(dir.path());
    ASSERT_EQ(tree->RootItem()->childCount(), 1);
    QTreeWidgetItem* disc = tree->RootItem()->child(0);
    EXPECT_EQ(CLibraryTree::ItemLabel(disc), "");
    EXPECT_EQ(tree->IsCategoryItem(disc), 0);
    EXPECT_EQ(tree->GetItemPath(disc, true), root + ".orb");
}

TEST_F(LibraryTreeTest, RootPathAndRefresh) {
    tree->FillLibrary(dir.path());  // no trailing separator
    EXPECT_EQ(tree->GetLibraryRoot(), root);
    EXPECT_EQ(tree->GetItemPath(tree->RootItem(), true), root);
    EXPECT_EQ(tree->RootItem()->childCount(), 0);
    test::WriteFile(dir / "new.orb", "");
    tree->setCurrentItem(tree->RootItem());
    tree->FillLibrary("");
    EXPECT_EQ(tree->GetLibraryRoot(), root);
    EXPECT_EQ(ChildLabels(tree->RootItem()), std::vector<std::string>{"new"});
    EXPECT_EQ(tree->currentItem(), nullptr);

    // A library directory that does not exist gives the root alone.
    tree->FillLibrary(dir / "missing");
    EXPECT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->RootItem()->childCount(), 0);
}

class LibraryPathsTest : public LibraryTreeTest {
protected:
    void SetUp() override {
        LibraryTreeTest::SetUp();
        MakeDir(dir / "A");
        MakeDir(dir / "A/B");
        test::WriteFile(dir / "A/B/X.ORB", "");
        test::WriteFile(dir / "A/Disc.orb", "");
        test::WriteFile(dir / "A/disc.orb", "");
        tree->FillLibrary(dir.path());
        a = tree->FindChildItem(tree->RootItem(), "A");
        ASSERT_NE(a, nullptr);
        b = tree->FindChildItem(a, "B");
        ASSERT_NE(b, nullptr);
        x = tree->FindChildItem(b, "X");
        ASSERT_NE(x, nullptr);
    }
    QTreeWidgetItem* a = nullptr;
    QTreeWidgetItem* b = nullptr;
    QTreeWidgetItem* x = nullptr;
};

TEST_F(LibraryPathsTest, ItemPaths) {
    EXPECT_EQ(tree->GetItemPath(b, false), root + "A/B/");
    EXPECT_EQ(tree->GetItemPath(b, true), root + "A/B/");
    EXPECT_EQ(tree->GetItemPath(x, false), root + "A/B/X");
    // The extension is the file's own: on Linux "X.orb" would name another file.
    EXPECT_EQ(tree->GetItemPath(x, true), root + "A/B/X.ORB");
}

TEST_F(LibraryPathsTest, FindChildItemIsCaseSensitive) {
    QTreeWidgetItem* upper = tree->FindChildItem(a, "Disc");
    QTreeWidgetItem* lower = tree->FindChildItem(a, "disc");
    ASSERT_NE(upper, nullptr);
    ASSERT_NE(lower, nullptr);
    EXPECT_NE(upper, lower);
    EXPECT_EQ(tree->GetItemPath(upper, true), root + "A/Disc.orb");
    EXPECT_EQ(tree->FindChildItem(a, "DISC"), nullptr);
}

TEST_F(LibraryPathsTest, FindItemByPath) {
    std::string wrongCase = root;
    for (char& c : wrongCase) c = static_cast<char>(toupper(c));
    struct Case {
        std::string path;
        QTreeWidgetItem* expected;
    } cases[] = {
        {root, tree->RootItem()},
        {root + "A/B/X", x},
        {root + "A/B/X.orb", nullptr},
        {root + "A/B/X.ORB", nullptr},
        {root + "A/B", b},
        {root + "A/B/", b},
        {root + "a/B", nullptr},
        {wrongCase + "A", nullptr},
        {dir.path(), nullptr},  // shorter than the library root
        {"/elsewhere/A", nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(tree->FindItemByPath(c.path), c.expected) << c.path;
}

TEST_F(LibraryPathsTest, SelectItemByPath) {
    // Distinct icons, so the selected image can be told from the normal one.
    QList<QIcon> images;
    for (Qt::GlobalColor color : {Qt::red, Qt::green, Qt::blue}) {
        QPixmap pm(16, 16);
        pm.fill(color);
        images.append(QIcon(pm));
    }
    tree->SetImageList(images);
    EXPECT_EQ(a->icon(0).cacheKey(), images[1].cacheKey());
    EXPECT_EQ(tree->SelectItemByPath(""), 0);
    ASSERT_EQ(tree->SelectItemByPath(root + "A/B/X"), 1);
    EXPECT_EQ(tree->currentItem(), x);
    EXPECT_TRUE(x->isSelected());
    EXPECT_EQ(tree->SelectItemByPath(root + "A/B/Y"), 0);
    EXPECT_EQ(tree->currentItem(), x);
    EXPECT_EQ(x->icon(0).cacheKey(), images[0].cacheKey());
    ASSERT_EQ(tree->SelectItemByPath(root + "A/"), 1);
    EXPECT_EQ(tree->currentItem(), a);
    EXPECT_EQ(a->icon(0).cacheKey(), images[2].cacheKey());  // the open folder
    ASSERT_EQ(tree->SelectItemByPath(root + "A/B"), 1);
    EXPECT_EQ(a->icon(0).cacheKey(), images[1].cacheKey());
    ASSERT_EQ(tree->SelectItemByPath(root + "A/"), 1);
    EXPECT_EQ(tree->SelectItemByPath(root + "A/"), 1);
}

TEST_F(LibraryPathsTest, NextItemPreorderVisitsEveryItemInTreeOrder) {
    std::vector<QTreeWidgetItem*> expected;
    for (QTreeWidgetItemIterator it(tree.get()); *it; ++it) expected.push_back(*it);
    std::vector<QTreeWidgetItem*> walked;
    for (QTreeWidgetItem* item = tree->RootItem(); item; item = tree->NextItemPreorder(item))
        walked.push_back(item);
    EXPECT_EQ(walked, expected);
    ASSERT_EQ(walked.size(), 6u);
    EXPECT_EQ(walked[1], a);
    EXPECT_EQ(walked[2], b);
    EXPECT_EQ(walked[3], x);
    EXPECT_EQ(tree->NextItemPreorder(walked.back()), nullptr);
}

TEST_F(LibraryTreeTest, ShowDiscsOffListsCategoriesOnly) {
    MakeDir(dir / "only_discs");
    test::WriteFile(dir / "only_discs/a.orb", "");
    test::WriteFile(dir / "top.orb", "");
    tree->SetShowDiscs(0);
    tree->FillLibrary(dir.path());
    ASSERT_EQ(ChildLabels(tree->RootItem()), std::vector<std::string>{"only_discs"});
    EXPECT_EQ(tree->RootItem()->child(0)->childCount(), 0);
}

TEST_F(LibraryTreeTest, NewCategoryNamesCountUp) {
    tree->FillLibrary(dir.path());
    QTreeWidgetItem* top = tree->RootItem();
    for (const char* expected : {"新建光盘库", "新建光盘库(1)", "新建光盘库(2)"}) {
        std::string name = tree->NewCategoryName(top);
        EXPECT_EQ(name, expected);
        tree->InsertCategoryItem(top, name);
    }

    // A disc with the base label takes the first name too.
    test::WriteFile(dir / "新建光盘库.orb", "");
    tree->FillLibrary("");
    EXPECT_EQ(tree->NewCategoryName(tree->RootItem()), "新建光盘库(1)");
    // The rule alone, with gaps: the first free candidate wins.
    std::set<std::string> taken{"n", "n(1)", "n(3)"};
    EXPECT_EQ(
        NewCategoryName([&](std::string_view s) { return taken.count(std::string(s)) > 0; }, "n"),
        "n(2)");
}

TEST_F(LibraryTreeTest, FindDiscByLabelReturnsTheFirstInTreeOrder) {
    MakeDir(dir / "b");
    MakeDir(dir / "a");
    std::string label =
        "\xB9\xA4\xBE\xDF"
        "CD";
    WriteIndex(dir / "b/one.orb", label);
    WriteIndex(dir / "a/two.orb", label);
    WriteIndex(dir / "a/other.orb", "OTHER");
    test::WriteFile(dir / "a/broken.orb", "ORB");  // too short: passed over
    WriteIndex(dir / "top.orb", label);            // discs come after categories
    tree->FillLibrary(dir.path());
    std::string path;
    ASSERT_EQ(tree->FindDiscByLabel(label, path), 1);
    EXPECT_EQ(path, root + "a/two.orb");
    ASSERT_EQ(tree->FindDiscByLabel("OTHER", path), 1);
    EXPECT_EQ(path, root + "a/other.orb");
    path = "unchanged";
    EXPECT_EQ(tree->FindDiscByLabel("other", path), 0);
    EXPECT_EQ(path, "unchanged");
}

TEST_F(LibraryTreeTest, FindDiscByLabelCutsALongDriveLabelAsTheHeaderKeepsIt) {
    // 30 double-byte characters: 60 bytes, of which the header keeps 24 (48 bytes):
    // a 25th would not fit the 49 bytes.
    std::string label;
    for (int i = 0; i < 30; ++i) label += "\xB9\xA4";
    WriteIndex(dir / "long.orb", label);
    WriteIndex(dir / "near.orb", label.substr(0, 46));
    tree->FillLibrary(dir.path());
    std::string path;
    ASSERT_EQ(tree->FindDiscByLabel(label, path), 1);
    EXPECT_EQ(path, root + "long.orb");
    // A shorter label is no prefix match.
    EXPECT_EQ(tree->FindDiscByLabel(label.substr(0, 46), path), 1);
    EXPECT_EQ(path, root + "near.orb");
}

TEST_F(LibraryTreeTest, PathsPastTwoHundredSixtyBytesAreKeptWhole) {
    std::string name(200, 'd');
    std::string deep = dir.path();
    for (int i = 0; i < 3; ++i) {
        deep += "/" + name + std::to_string(i);
        MakeDir(deep);
    }
    test::WriteFile(deep + "/" + std::string(200, 'f') + ".orb", "");
    tree->FillLibrary(dir.path());
    QTreeWidgetItem* item = tree->RootItem();
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(item->childCount(), 1) << i;
        item = item->child(0);
    }
    std::string path = tree->GetItemPath(item, true);
    EXPECT_EQ(path, deep + "/" + std::string(200, 'f') + ".orb");
    EXPECT_EQ(tree->FindItemByPath(path.substr(0, path.size() - 4)), item);
}

TEST_F(LibraryTreeTest, SymbolicLinkLoopIsShownButNotEntered) {
    MakeDir(dir / "c");
    ASSERT_EQ(::symlink("..", (dir / "c/up").c_str()), 0);
    tree->FillLibrary(dir.path());
    QTreeWidgetItem* c = tree->FindChildItem(tree->RootItem(), "c");
    ASSERT_NE(c, nullptr);
    QTreeWidgetItem* up = tree->FindChildItem(c, "up");
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(up->childCount(), 0);
}

TEST_F(LibraryTreeTest, InsertedItemsSortAndRename) {
    tree->FillLibrary(dir.path());
    QTreeWidgetItem* top = tree->RootItem();
    QTreeWidgetItem* disc = tree->InsertDiscItem(top, "m.ORB");
    tree->InsertCategoryItem(top, "z");
    tree->InsertDiscItem(top, "B.orb");
    tree->SortChildItems(top);
    EXPECT_EQ(ChildLabels(top), (std::vector<std::string>{"z", "B", "m"}));
    tree->SetItemLabel(disc, "a");
    EXPECT_EQ(tree->GetItemPath(disc, true), root + "a.ORB");
    tree->SortChildItems(top);
    EXPECT_EQ(ChildLabels(top), (std::vector<std::string>{"z", "a", "B"}));
}

// On a share the watcher polls: the walk runs off the window's thread, and a new
// category is reported once.
// A tree that shows a new or renamed item where the user made it holds what the
// disk holds: only a real difference may refill it.
TEST(LibraryItems, SameItemsInAnotherOrderAreTheSameLibrary) {
    const std::vector<std::string> disk{"/l/a/", "/l/a/x.orb", "/l/b/", "/l/c.orb"};
    EXPECT_TRUE(SameLibraryItems({"/l/b/", "/l/a/", "/l/a/x.orb", "/l/c.orb"}, disk));
    EXPECT_FALSE(SameLibraryItems({"/l/a/", "/l/a/x.orb", "/l/b/"}, disk));
    EXPECT_FALSE(SameLibraryItems({"/l/a/", "/l/a/y.orb", "/l/b/", "/l/c.orb"}, disk));
}

TEST_F(LibraryTreeTest, WatcherSeesChangesInsideCategoriesMadeOrRemovedMeanwhile) {
    MakeDir(dir / "old");
    CLibraryWatcher watcher;
    int changes = 0;
    QObject::connect(&watcher, &CLibraryWatcher::libraryChanged, [&] { ++changes; });
    watcher.SetRoot(root);
    ASSERT_FALSE(watcher.IsPolling());
    // A category made after the start is watched once it is seen.
    MakeDir(dir / "new");
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 1; }));
    test::WriteFile(dir / "new/x.orb", "");
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 2; }));
    // A removed category's watch goes with it; a category made afterwards (which
    // may get its number) is watched as well.
    ASSERT_EQ(::rmdir((dir / "old").c_str()), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 3; }));
    MakeDir(dir / "later");
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 4; }));
    test::WriteFile(dir / "later/y.orb", "");
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 5; }));
    // Changes close together are looked at once they settle: one report.
    test::WriteFile(dir / "new/x.orc", "");
    test::WriteFile(dir / "later/z.orb", "");
    ASSERT_TRUE(test::WaitUntil([&] { return changes >= 6; }));
    EXPECT_EQ(changes, 6);
}

TEST_F(LibraryTreeTest, WatcherReportsWhatChangedBeforeItsCategoriesWereWatched) {
    MakeDir(dir / "a");
    // The trees were filled from this walk; the library changed before the
    // watcher started: a category with a disc, and a disc in a watched one.
    CSharedLibraryWalk walkOnce;
    walkOnce.Adopt(RecordLibraryWalk(root, true));
    MakeDir(dir / "late");
    test::WriteFile(dir / "late/x.orb", "");
    test::WriteFile(dir / "a/y.orb", "");
    CLibraryWatcher watcher;
    int changes = 0;
    QObject::connect(&watcher, &CLibraryWatcher::libraryChanged, [&] { ++changes; });
    watcher.SetRoot(root);
    // The watches are made on the worker: the window's thread goes on at once.
    EXPECT_TRUE(watcher.IsBusy());
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 1 && !watcher.IsBusy(); }));
    EXPECT_NE(watcher.LastPollThread(), std::this_thread::get_id());
    EXPECT_FALSE(watcher.LastWalkWasAsked());
    // The walk that found the change is handed over for the trees.
    const CSharedLibraryWalk::Recording walk = watcher.TakeWalk();
    std::vector<std::string> paths;
    for (const LibraryItem& item : walk.items) paths.push_back(item.hostPath);
    EXPECT_TRUE(SameLibraryItems(
        paths, {root + "a/", root + "late/", root + "a/y.orb", root + "late/x.orb"}));
    // The category found by that walk is watched as well.
    test::WriteFile(dir / "late/z.orb", "");
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 2; }));
}

TEST_F(LibraryTreeTest, WalksAskedForWhileOneRunsMakeOneMoreWalk) {
    MakeDir(dir / "a");
    CLibraryWatcher watcher;
    int changes = 0;
    QObject::connect(&watcher, &CLibraryWatcher::libraryChanged, [&] {
        ++changes;
        EXPECT_TRUE(watcher.LastWalkWasAsked());
    });
    watcher.SetRoot(root);
    ASSERT_TRUE(test::WaitUntil([&] { return !watcher.IsBusy(); }));
    // Nothing changed, yet an asked walk is reported.
    watcher.WalkNow();
    ASSERT_TRUE(test::WaitUntil([&] { return changes == 1 && !watcher.IsBusy(); }));
    // Three asks while the first walk runs (its result comes through the event
    // loop, which does not run here): the first walk and one more.
    watcher.WalkNow();
    watcher.WalkNow();
    watcher.WalkNow();
    ASSERT_TRUE(test::WaitUntil([&] { return !watcher.IsBusy(); }));
    EXPECT_EQ(changes, 3);
    // A walk still running for a root given up reports nothing: the worker is
    // joined by then, so whatever it posted is delivered by one turn of the loop.
    watcher.WalkNow();
    watcher.SetRoot(std::string());
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, 3);
}

TEST_F(LibraryTreeTest, PollingWatcherWalksOnAWorkerThread) {
    CLibraryWatcher watcher;
    watcher.SetAlwaysPoll(true);
    watcher.SetPollInterval(50);
    int changes = 0;
    QObject::connect(&watcher, &CLibraryWatcher::libraryChanged, [&] { ++changes; });
    watcher.SetRoot(root);
    ASSERT_TRUE(watcher.IsPolling());
    MakeDir(dir / "new");
    ASSERT_TRUE(test::WaitUntil([&] { return changes > 0; }));
    EXPECT_EQ(changes, 1);
    EXPECT_NE(watcher.LastPollThread(), std::thread::id());
    EXPECT_NE(watcher.LastPollThread(), std::this_thread::get_id());
}

TEST_F(LibraryTreeTest, PollsPauseWhileHiddenAndResumeWithAPollAtOnce) {
    CLibraryWatcher watcher;
    watcher.SetAlwaysPoll(true);
    // Only the poll made on resuming can see the change within the wait.
    watcher.SetPollInterval(3'600'000);
    int changes = 0;
    QObject::connect(&watcher, &CLibraryWatcher::libraryChanged, [&] { ++changes; });
    watcher.SetPaused(true);
    watcher.SetRoot(root);
    EXPECT_TRUE(watcher.IsPolling());
    EXPECT_FALSE(watcher.IsPollScheduled());
    MakeDir(dir / "new");
    watcher.SetPaused(false);
    EXPECT_TRUE(watcher.IsPollScheduled());
    ASSERT_TRUE(test::WaitUntil([&] { return changes > 0; }));
    watcher.SetPaused(true);
    EXPECT_FALSE(watcher.IsPollScheduled());
}

TEST_F(LibraryTreeTest, LoaderWalksOnAWorkerAndHandsTheWalkOverOnce) {
    MakeDir(dir / "a");
    test::WriteFile(dir / "a/x.orb", "");
    CLibraryLoader loader;
    int loaded = 0;
    QObject::connect(&loader, &CLibraryLoader::loaded, [&] { ++loaded; });
    loader.Start(root);
    EXPECT_TRUE(loader.IsPending());
    ASSERT_TRUE(test::WaitUntil([&] { return loaded > 0; }));
    const CSharedLibraryWalk::Recording walk = loader.Take();
    EXPECT_TRUE(walk.complete);
    EXPECT_EQ(walk.root, root);
    ASSERT_EQ(walk.items.size(), 2u);
    EXPECT_EQ(walk.items[1].hostPath, dir / "a/x.orb");
    EXPECT_FALSE(loader.IsPending());
    EXPECT_TRUE(loader.Take().items.empty());

    // A cancelled walk is never handed over.
    loader.Start(root);
    loader.Cancel();
    EXPECT_FALSE(loader.IsPending());
    EXPECT_FALSE(loader.WaitFor(0));
    EXPECT_TRUE(loader.Take().items.empty());
    EXPECT_EQ(loaded, 1);
}

}  // namespace
}  // namespace orb
