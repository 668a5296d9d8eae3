// SPDX-License-Identifier: GPL-3.0-or-later
// The library pane by behaviour: menu states, rename, delete, drag feedback and
// drops against a real library in a scratch directory.
#include "library/pane/library_pane.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

void EnsureApp() {
    static const bool once = [] {
        // The settings store must not be the user's own.
        char tmpl[] = "/tmp/orbpane-XXXXXX";
        const char* home = ::mkdtemp(tmpl);
        ::setenv("HOME", home, 1);
        ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
        return true;
    }();
    (void)once;
    static int argc = 1;
    static char name[] = "test_library_pane";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

void WriteDisc(const std::string& path, const std::string& label, const std::string& remark) {
    CScanTree tree;
    FILETIME t{};
    tree.Append(kNoNode, 0, 20, t, "readme");
    IndexHeader h;
    SetHeaderLabel(h, HostToStored(label));
    h.capacity = 700 << 20;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    IndexWriteOptions options;
    const std::string stored = HostToStored(remark);
    options.remark = stored;
    ASSERT_EQ(WriteIndexFile(path, h, tree, options), WriteResult::Ok) << path;
}

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

std::string ReadRemarkOf(const std::string& path) {
    CIndexReader reader;
    if (!reader.Open(path, OpenMode::ReadShareAll)) return "<unreadable>";
    std::string remark;
    reader.ReadRemark(remark);
    return StoredToHost(remark);
}

struct MessageSeen {
    QMessageBox::Icon icon;
    QString text;
    QString detail;
};

// Library: A/ (Sub/ with S.orb, Y.orb), B/, D.orb + D.orc, X.orb + X.orc.
class LibraryPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        root = dir.path() + "/";
        MakeDir(dir / "A");
        MakeDir(dir / "A/Sub");
        MakeDir(dir / "B");
        WriteDisc(dir / "A/Sub/S.orb", "S", "sub disc");
        WriteDisc(dir / "A/Y.orb", "Y", "y disc");
        WriteDisc(dir / "D.orb", "DISC_D", "第一行\r\n第二行");
        test::WriteFile(dir / "D.orc", "notes of D");
        WriteDisc(dir / "X.orb", "DISC_X", "x");
        test::WriteFile(dir / "X.orc", "notes of X");
        StoreLibraryDirectory(root);
        shell = std::make_unique<test::CFakeShell>();
        pane = std::make_unique<CLibraryPane>(*shell);
        shell->libraryTree = pane->Tree();
        pane->SetMessageHook([this](QMessageBox::Icon icon, const QString& text,
                                    const QString& detail, QMessageBox::StandardButtons) {
            messages.push_back({icon, text, detail});
            return answer;
        });
        pane->resize(300, 700);
        pane->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        pane.reset();
        shell.reset();
    }

    QTreeWidgetItem* Item(const std::string& relative) {
        return pane->Tree()->FindItemByPath(root + relative);
    }
    QPoint Center(QTreeWidgetItem* item) {
        for (QTreeWidgetItem* at = item->parent(); at; at = at->parent()) at->setExpanded(true);
        pane->Tree()->scrollToItem(item);
        QApplication::processEvents();
        return pane->Tree()->visualItemRect(item).center();
    }

    test::TempDir dir;
    std::string root;
    // Made in SetUp: its window needs the application object first.
    std::unique_ptr<test::CFakeShell> shell;
    std::unique_ptr<CLibraryPane> pane;
    std::vector<MessageSeen> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
};

TEST_F(LibraryPaneTest, MenuStatesForRootCategoryAndDisc) {
    auto states = [this](QTreeWidgetItem* item) {
        std::unique_ptr<QMenu> menu(pane->BuildContextMenu(item));
        std::map<int, std::pair<bool, QString>> out;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) out[a->data().toInt()] = {a->isEnabled(), a->text()};
        return out;
    };
    auto root = states(pane->Tree()->RootItem());
    EXPECT_TRUE(root[kCmdAddCategory].first);
    EXPECT_FALSE(root[kCmdDeleteItem].first);
    EXPECT_EQ(root[kCmdExplore].second, QString::fromUtf8("资源管理器"));
    auto category = states(Item("A"));
    EXPECT_TRUE(category[kCmdAddCategory].first);
    EXPECT_TRUE(category[kCmdDeleteItem].first);
    EXPECT_TRUE(category[kCmdRename].first);
    auto disc = states(Item("D"));
    EXPECT_FALSE(disc[kCmdAddCategory].first);
    EXPECT_TRUE(disc[kCmdDeleteItem].first);
    EXPECT_EQ(disc[kCmdExplore].second, QString::fromUtf8("打开"));
    EXPECT_TRUE(disc[kCmdRefresh].first);
    EXPECT_EQ(pane->BuildContextMenu(nullptr), nullptr);

    // "打开" and a double click open a disc as the document; a category never.
    pane->RunCommand(kCmdExplore, Item("D"));
    emit pane->Tree()->itemDoubleClicked(Item("X"), 0);
    emit pane->Tree()->itemDoubleClicked(Item("A"), 0);
    EXPECT_EQ(shell->opened, (std::vector<std::string>{dir / "D.orb", dir / "X.orb"}));
    EXPECT_EQ(shell->doc.IsOpenIndexPath(dir / "X.orb"), 1);
}

TEST_F(LibraryPaneTest, SelectingADiscShowsItsRemarkAndHoldsItOpen) {
    pane->Tree()->setCurrentItem(Item("D"));
    EXPECT_TRUE(pane->Reader().IsOpen());
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), QString::fromUtf8("第一行\n第二行"));
    // Others may read it meanwhile, but not write it.
    CIndexReader other;
    EXPECT_TRUE(other.Open(dir / "D.orb", OpenMode::ReadShareAll));
    other.Close();
    EXPECT_FALSE(other.Open(dir / "D.orb", OpenMode::ReadWriteShareAll));

    pane->editRemark = [](QString& remark) {
        remark = QString::fromUtf8("新的备注\n两行");
        return true;
    };
    pane->Modify();
    EXPECT_EQ(ReadRemarkOf(dir / "D.orb"), "新的备注\r\n两行");
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), QString::fromUtf8("新的备注\n两行"));

    // A rebuilt tree lets go of the disc and shows what is on disk now.
    WriteDisc(dir / "New.orb", "NEW", "");
    pane->RefreshLibrary();
    EXPECT_FALSE(pane->Reader().IsOpen());
    EXPECT_TRUE(pane->RemarkBox()->toPlainText().isEmpty());
    EXPECT_EQ(pane->Tree()->currentItem(), nullptr);
    EXPECT_NE(Item("New"), nullptr);

    // A damaged index is reported and leaves the pane as it was.
    pane->Tree()->setCurrentItem(Item("D"));
    test::WriteFile(dir / "Bad.orb", "ORBF but nothing after it");
    pane->RefreshLibrary();
    pane->Tree()->setCurrentItem(Item("D"));
    pane->Tree()->setCurrentItem(Item("Bad"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QString::fromUtf8("文件打开失败"));
    EXPECT_FALSE(pane->Reader().IsOpen());
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), QString::fromUtf8("新的备注\n两行"));
    messages.clear();

    pane->Tree()->setCurrentItem(Item("A"));
    EXPECT_FALSE(pane->Reader().IsOpen());
    EXPECT_TRUE(pane->RemarkBox()->toPlainText().isEmpty());
    pane->Modify();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QString::fromUtf8("请先选择目标光盘"));
}

TEST_F(LibraryPaneTest, RenameDiscWithCompanionWhileTheDocumentShowsIt) {
    ASSERT_EQ(shell->doc.OpenIndex(dir / "D.orb", 1), 1);
    pane->Tree()->setCurrentItem(Item("D"));
    ASSERT_TRUE(pane->Reader().IsOpen());
    QTreeWidgetItem* item = Item("D");
    EXPECT_TRUE(pane->RenameLibraryItem(item, QString::fromUtf8("E")));
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(test::FileExists(dir / "D.orb"));
    EXPECT_FALSE(test::FileExists(dir / "D.orc"));
    EXPECT_EQ(test::ReadFile(dir / "E.orc"), "notes of D");
    EXPECT_EQ(CLibraryTree::ItemLabel(item), "E");
    EXPECT_EQ(pane->Tree()->GetItemPath(item, true), dir / "E.orb");
    EXPECT_EQ(shell->doc.IsOpenIndexPath(dir / "E.orb"), 1);
    EXPECT_EQ(pane->Reader().GetFilePath(), dir / "E.orb");

    // A category follows too, with the index shown from inside it.
    ASSERT_EQ(shell->doc.OpenIndex(dir / "A/Y.orb", 1), 1);
    EXPECT_TRUE(pane->RenameLibraryItem(Item("A"), QString::fromUtf8("分类")));
    EXPECT_TRUE(test::FileExists(dir / "分类/Sub/S.orb"));
    EXPECT_EQ(shell->doc.IsOpenIndexPath(dir / "分类/Y.orb"), 1);
    EXPECT_NE(Item("分类"), nullptr);
}

TEST_F(LibraryPaneTest, TheShownIndexIsKnownByItsFileNotByALookAlikePath) {
    // Two discs whose names differ only in letter case: renaming one leaves the
    // other shown, and its annotations stay its own.
    WriteDisc(dir / "data.orb", "LOWER", "");
    WriteDisc(dir / "Data.orb", "UPPER", "");
    pane->RefreshLibrary();
    ASSERT_EQ(shell->doc.OpenIndex(dir / "data.orb", 1), 1);
    EXPECT_TRUE(pane->RenameLibraryItem(Item("Data"), QString::fromUtf8("Other")));
    EXPECT_EQ(shell->doc.Index().GetFilePath(), dir / "data.orb");
    EXPECT_TRUE(test::FileExists(dir / "Other.orb"));

    // Shown through a link to its category: a rename of the category still finds
    // it, and it is reopened where it now lies.
    ASSERT_EQ(::symlink((dir / "A").c_str(), (dir / "linked").c_str()), 0);
    ASSERT_EQ(shell->doc.OpenIndex(dir / "linked/Y.orb", 1), 1);
    std::vector<std::pair<std::string, std::string>> moved;
    QObject::connect(
        pane.get(), &CLibraryPane::libraryPathMoved,
        [&](const std::string& from, const std::string& to) { moved.emplace_back(from, to); });
    EXPECT_TRUE(pane->RenameLibraryItem(Item("A"), QString::fromUtf8("A2")));
    EXPECT_EQ(shell->doc.Index().GetFilePath(), dir / "A2/Y.orb");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0], std::make_pair(root + "A/", root + "A2/"));
    // A delete of the category closes it too.
    ASSERT_EQ(::symlink((dir / "A2").c_str(), (dir / "again").c_str()), 0);
    ASSERT_EQ(shell->doc.OpenIndex(dir / "again/Sub/S.orb", 1), 1);
    EXPECT_TRUE(pane->DeleteLibraryItem(Item("A2")));
    EXPECT_FALSE(shell->doc.Index().IsOpen());
}

TEST_F(LibraryPaneTest, AnIndexThatCannotBeWrittenIsBrowsedReadOnly) {
    // Another program has it open for writing: the pane may only read it.
    CIndexReader writer;
    ASSERT_EQ(writer.Open(dir / "D.orb", OpenMode::ReadWriteShareAll), 1);
    pane->Tree()->setCurrentItem(Item("D"));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(pane->Reader().IsOpen());
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), QString::fromUtf8("第一行\n第二行"));
    EXPECT_TRUE(pane->IsReadOnly());
    EXPECT_FALSE(pane->ModifyButton()->isEnabled());
    EXPECT_EQ(pane->ModifyButton()->toolTip(), QString::fromUtf8(CLibraryPane::kReadOnlyTip));
    pane->Tree()->setCurrentItem(Item("X"));
    EXPECT_FALSE(pane->IsReadOnly());
    EXPECT_TRUE(pane->ModifyButton()->isEnabled());
    EXPECT_TRUE(pane->ModifyButton()->toolTip().isEmpty());
    writer.Close();
    if (::geteuid() != 0) {
        // A library on read-only media: the file and its folder refuse writing.
        ASSERT_EQ(::chmod((dir / "A/Y.orb").c_str(), 0444), 0);
        pane->Tree()->setCurrentItem(Item("A/Y"));
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(pane->Reader().IsOpen());
        EXPECT_FALSE(pane->ModifyButton()->isEnabled());
        ::chmod((dir / "A/Y.orb").c_str(), 0644);
    }
}

TEST_F(LibraryPaneTest, RenameRefusedForTakenAndBadNamesTouchesNothing) {
    ASSERT_EQ(shell->doc.OpenIndex(dir / "D.orb", 1), 1);
    QTreeWidgetItem* disc = Item("D");
    EXPECT_FALSE(pane->RenameLibraryItem(disc, QString::fromUtf8("X")));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(test::ReadFile(dir / "X.orc"), "notes of X");
    EXPECT_EQ(test::ReadFile(dir / "D.orc"), "notes of D");
    EXPECT_EQ(CLibraryTree::ItemLabel(disc), "D");
    EXPECT_EQ(shell->doc.IsOpenIndexPath(dir / "D.orb"), 1);

    EXPECT_FALSE(pane->RenameLibraryItem(Item("A"), QString::fromUtf8("B")));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_TRUE(test::FileExists(dir / "A/Y.orb"));
    EXPECT_EQ(CLibraryTree::ItemLabel(Item("A")), "A");

    for (const char* bad : {"a/b", ".", ".."}) {
        messages.clear();
        EXPECT_FALSE(pane->RenameLibraryItem(disc, QString::fromUtf8(bad))) << bad;
        EXPECT_EQ(messages.size(), 1u) << bad;
    }
    messages.clear();
    EXPECT_FALSE(pane->RenameLibraryItem(disc, QString(QChar(0)) + "x"));
    EXPECT_EQ(messages.size(), 1u);
    // Empty or unchanged: silently nothing.
    messages.clear();
    EXPECT_FALSE(pane->RenameLibraryItem(disc, QString()));
    EXPECT_FALSE(pane->RenameLibraryItem(disc, QString::fromUtf8("D")));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(test::FileExists(dir / "D.orb"));
    EXPECT_EQ(shell->doc.IsOpenIndexPath(dir / "D.orb"), 1);
    EXPECT_FALSE(pane->RenameLibraryItem(pane->Tree()->RootItem(), QString::fromUtf8("R")));
}

TEST_F(LibraryPaneTest, DeleteShownDiscEmptiesTheDocumentAndCategoryGoesWhole) {
    ASSERT_TRUE(shell->OpenDocumentFile(dir / "D.orb"));
    pane->Tree()->setCurrentItem(Item("D"));
    answer = QMessageBox::Cancel;
    EXPECT_FALSE(pane->DeleteLibraryItem(Item("D")));
    EXPECT_TRUE(test::FileExists(dir / "D.orb"));
    EXPECT_TRUE(shell->doc.Index().IsOpen());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QString::fromUtf8("确定删除光盘(库)\"D\"吗？"));
    EXPECT_TRUE(messages[0].detail.contains(QString::fromUtf8("永久删除")))
        << messages[0].detail.toStdString();

    answer = QMessageBox::Ok;
    EXPECT_TRUE(pane->DeleteLibraryItem(Item("D")));
    EXPECT_FALSE(test::FileExists(dir / "D.orb"));
    EXPECT_FALSE(test::FileExists(dir / "D.orc"));
    EXPECT_EQ(Item("D"), nullptr);
    EXPECT_FALSE(shell->doc.Index().IsOpen());
    EXPECT_EQ(shell->doc.Title(), QString::fromUtf8("欢迎使用"));

    EXPECT_TRUE(pane->DeleteLibraryItem(Item("A")));
    EXPECT_TRUE(messages.back().detail.contains(QString::fromUtf8("张光盘")) ||
                messages.back().detail == QString::fromUtf8("这是一个空分类。"))
        << messages.back().detail.toStdString();
    EXPECT_FALSE(test::FileExists(dir / "A"));
    EXPECT_EQ(Item("A"), nullptr);
    EXPECT_NE(Item("B"), nullptr);
}

TEST_F(LibraryPaneTest, NewCategoriesSkipNamesTakenInTreeOrOnDisk) {
    QTreeWidgetItem* b = Item("B");
    MakeDir(dir / "B/新建光盘库");  // on disk, not in the tree
    QTreeWidgetItem* first = pane->CreateCategory(b);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CLibraryTree::ItemLabel(first), "新建光盘库(1)");
    QTreeWidgetItem* second = pane->CreateCategory(b);
    EXPECT_EQ(CLibraryTree::ItemLabel(second), "新建光盘库(2)");
    struct stat st;
    EXPECT_EQ(::stat((dir / "B/新建光盘库(2)").c_str(), &st), 0);
    EXPECT_EQ(pane->CreateCategory(Item("X")), nullptr);
}

TEST_F(LibraryPaneTest, DragOverGivesStatusTextsAndExpandsAfterHalfASecond) {
    CPaneLibraryTree* tree = pane->PaneTree();
    QTreeWidgetItem* a = Item("A");
    std::unique_ptr<QMimeData> mime(NewLibraryDragMime({tree, a}));
    CLibraryDropTarget& target = tree->DropTarget();

    EXPECT_EQ(target.DragOver(mime.get(), Center(Item("D")), 0), Qt::IgnoreAction);
    EXPECT_EQ(shell->statusMessages.last(), QString::fromUtf8("目标不是合法的光盘库"));
    EXPECT_EQ(tree->DropHighlight(), Item("D"));
    EXPECT_EQ(target.DragOver(mime.get(), Center(Item("A/Sub")), 10), Qt::IgnoreAction);
    EXPECT_EQ(shell->statusMessages.last(), QString::fromUtf8("源光盘库和目标光盘库相同"));
    EXPECT_EQ(target.DragOver(mime.get(), Center(tree->RootItem()), 20), Qt::IgnoreAction);
    EXPECT_EQ(shell->statusMessages.last(),
              QString::fromUtf8("目标光盘库下存在一份名称相同的拷贝"));
    EXPECT_EQ(target.DragOver(mime.get(), Center(a), 30), Qt::IgnoreAction);
    EXPECT_EQ(shell->statusMessages.last(), QString());

    QTreeWidgetItem* b = Item("B");
    MakeDir(dir / "B/inner");
    pane->Tree()->InsertCategoryItem(b, "inner");
    b->setExpanded(false);
    const QPoint overB = Center(b);
    EXPECT_EQ(target.DragOver(mime.get(), overB, 1000), Qt::MoveAction);
    EXPECT_EQ(shell->statusMessages.last(), QString::fromUtf8("允许移动"));
    EXPECT_EQ(target.DragOver(mime.get(), overB, 1500), Qt::MoveAction);
    EXPECT_FALSE(b->isExpanded());
    EXPECT_EQ(target.DragOver(mime.get(), overB, 1501), Qt::MoveAction);
    EXPECT_TRUE(b->isExpanded());

    // Data that is not this process's running library drag is refused outright,
    // even with a well-formed block.
    const qsizetype before = shell->statusMessages.size();
    QMimeData foreign;
    foreign.setData(kLibraryDragFormat, mime->data(kLibraryDragFormat));
    EXPECT_EQ(target.DragOver(&foreign, overB, 2000), Qt::IgnoreAction);
    EXPECT_FALSE(target.Drop(&foreign, overB));
    EndLibraryDrag(mime.get());
    EXPECT_EQ(target.DragOver(mime.get(), overB, 2000), Qt::IgnoreAction);
    EXPECT_EQ(shell->statusMessages.size(), before);
}

TEST_F(LibraryPaneTest, DropMovesDiscWithCompanionAndCategoryWithSubtree) {
    CPaneLibraryTree* tree = pane->PaneTree();
    {
        std::unique_ptr<QMimeData> mime(NewLibraryDragMime({tree, Item("X")}));
        EXPECT_TRUE(tree->DropTarget().Drop(mime.get(), Center(Item("B"))));
        EndLibraryDrag(mime.get());
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(test::ReadFile(dir / "B/X.orc"), "notes of X");
    EXPECT_TRUE(test::FileExists(dir / "B/X.orb"));
    EXPECT_FALSE(test::FileExists(dir / "X.orb"));
    EXPECT_FALSE(test::FileExists(dir / "X.orc"));
    EXPECT_EQ(Item("X"), nullptr);
    ASSERT_NE(Item("B/X"), nullptr);
    {
        std::unique_ptr<QMimeData> mime(NewLibraryDragMime({tree, Item("A")}));
        EXPECT_TRUE(tree->DropTarget().Drop(mime.get(), Center(Item("B"))));
        EndLibraryDrag(mime.get());
    }
    EXPECT_TRUE(test::FileExists(dir / "B/A/Sub/S.orb"));
    EXPECT_FALSE(test::FileExists(dir / "A"));
    QTreeWidgetItem* movedA = Item("B/A");
    ASSERT_NE(movedA, nullptr);
    EXPECT_FALSE(movedA->isExpanded());
    EXPECT_NE(Item("B/A/Sub/S"), nullptr);
    EXPECT_NE(Item("B/A/Y"), nullptr);
    // The target's children are in library order again: categories first.
    QTreeWidgetItem* b = Item("B");
    ASSERT_EQ(b->childCount(), 2);
    EXPECT_EQ(CLibraryTree::ItemLabel(b->child(0)), "A");
    EXPECT_EQ(CLibraryTree::ItemLabel(b->child(1)), "X");
}

TEST_F(LibraryPaneTest, ADropClosesTheDocumentOnlyWhenItMovesTheShownIndex) {
    ASSERT_EQ(shell->doc.OpenIndex(dir / "A/Y.orb", 1), 1);
    std::vector<std::pair<std::string, std::string>> moved;
    QObject::connect(
        pane.get(), &CLibraryPane::libraryPathMoved,
        [&](const std::string& from, const std::string& to) { moved.emplace_back(from, to); });
    CPaneLibraryTree* tree = pane->PaneTree();
    auto drop = [&](const char* dragged, const char* target) {
        std::unique_ptr<QMimeData> mime(NewLibraryDragMime({tree, Item(dragged)}));
        EXPECT_TRUE(tree->DropTarget().Drop(mime.get(), Center(Item(target))));
        EndLibraryDrag(mime.get());
    };
    drop("X", "B");  // another disc: the document keeps its index
    EXPECT_EQ(shell->doc.Index().GetFilePath(), dir / "A/Y.orb");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0], std::make_pair(root + "X.orb", root + "B/X.orb"));

    // A move refused on disk leaves it open as well.
    test::WriteFile(dir / "B/Y.orb", "taken");
    drop("A/Y", "B");
    EXPECT_EQ(shell->doc.Index().GetFilePath(), dir / "A/Y.orb");
    EXPECT_EQ(moved.size(), 1u);
    pane->RefreshLibrary();
    messages.clear();

    drop("A", "B");  // the category holding it: closed, and the move is made
    EXPECT_FALSE(shell->doc.Index().IsOpen());
    EXPECT_TRUE(test::FileExists(dir / "B/A/Y.orb"));
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[1], std::make_pair(root + "A/", root + "B/A/"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(LibraryPaneTest, DropOntoNameTakenOnDiskFailsWithoutOverwriting) {
    test::WriteFile(dir / "B/X.orb", "not in the tree");
    CPaneLibraryTree* tree = pane->PaneTree();
    std::unique_ptr<QMimeData> mime(NewLibraryDragMime({tree, Item("X")}));
    EXPECT_TRUE(tree->DropTarget().Drop(mime.get(), Center(Item("B"))));
    EndLibraryDrag(mime.get());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QString::fromUtf8("移动光盘库出现错误,系统自动刷新光盘库"));
    EXPECT_TRUE(messages[0].detail.contains("X.orb"));
    EXPECT_EQ(test::ReadFile(dir / "B/X.orb"), "not in the tree");
    EXPECT_FALSE(test::FileExists(dir / "B/X.orc"));
    EXPECT_EQ(test::ReadFile(dir / "X.orc"), "notes of X");
    // The tree was rebuilt from disk: both discs are there.
    EXPECT_NE(Item("X"), nullptr);
    EXPECT_NE(Item("B/X"), nullptr);
}

}  // namespace
}  // namespace orb
