// SPDX-License-Identifier: GPL-3.0-or-later
// The favourites pane by behaviour: menus, adding from the file list, drops,
// moves, locating, renaming and remarks, each change saved at once.
#include "favorites/pane/favorite_pane.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <memory>

#include "favorites/pane/favorite_dialogs.h"
#include "favorites/pane/favorite_drop_target.h"
#include "favorites/tree/favorite_tree.h"
#include "platform/text.h"
#include "tests/support/fake_shell.h"
#include "tests/support/qt_wait.h"
#include "tests/support/test_support.h"
#include "views/drag_origin.h"

namespace orb {
namespace {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_favorites_pane";
    static char* argv[] = {name, nullptr};
    // Kept past exit: events still hold its input devices while statics go away.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class FavoritePaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = std::make_unique<CFavoritePane>(shell, dir.path());
        tree = pane->Tree();
        CFavoritePane::UiHooks hooks;
        hooks.runDialog = [this](QDialog& dialog) {
            if (onDialog) onDialog(dialog);
            return acceptDialogs;
        };
        hooks.message = [this](const QString& text, const QString& caption, QMessageBox::Icon) {
            messages << caption + "|" + text;
        };
        hooks.confirm = [](const QString&) { return true; };
        pane->SetUiHooks(hooks);
        pane->resize(300, 500);
        pane->show();
    }

    // The favourites as the file on disk holds them.
    std::vector<FavoriteNode> OnDisk() { return ReadFavoritesFile(dir / "favorite.dat").items; }

    QTreeWidgetItem* AddSoftware(QTreeWidgetItem* parent, const char* name,
                                 const FavoriteLocation* where = nullptr) {
        QTreeWidgetItem* item = nullptr;
        EXPECT_TRUE(tree->AddSoftware(parent, U(name), "", where, &item));
        return item;
    }
    const FavoriteSoftware& Software(QTreeWidgetItem* item) {
        return *CFavoriteTree::GetFavoriteItem(item)->software;
    }

    // Sends a drop of data to the tree's viewport at pos; true when accepted.
    bool DropAt(QMimeData* data, QPoint pos) {
        QWidget* viewport = tree->viewport();
        QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        return drop.isAccepted();
    }
    std::unique_ptr<QMimeData> EntryData(const FavSoftDragData& entry, bool ours = true) {
        auto data = std::make_unique<QMimeData>();
        std::string block;
        EXPECT_TRUE(EncodeFavSoftDrag(entry, block));
        data->setData(kFavSoftDragFormat, QByteArray(block.data(), static_cast<int>(block.size())));
        if (ours) MarkDragFromThisProcess(data.get());
        return data;
    }
    QPoint At(QTreeWidgetItem* item) { return tree->visualItemRect(item).center(); }
    QPoint EmptySpace() { return QPoint(60, tree->viewport()->height() - 40); }

    struct App {
        App() { EnsureApp(); }
    } app;  // before the shell, whose window needs the application
    test::TempDir dir;
    test::CFakeShell shell;
    std::unique_ptr<CFavoritePane> pane;
    CFavoriteTree* tree = nullptr;
    bool acceptDialogs = true;
    std::function<void(QDialog&)> onDialog;
    QStringList messages;
};

TEST_F(FavoritePaneTest, ContextMenuOffersWhatTheTargetAllows) {
    QTreeWidgetItem* cat = tree->AddCategoryPath("c", nullptr);
    QTreeWidgetItem* soft = AddSoftware(nullptr, "s");
    auto enabled = [&](QTreeWidgetItem* target) {
        std::unique_ptr<QMenu> menu(pane->CreateContextMenu(target, nullptr));
        QStringList on;
        for (QAction* a : menu->actions())
            if (!a->isSeparator() && a->isEnabled()) on << a->text();
        EXPECT_EQ(menu->actions().size(), 8);
        return on;
    };
    EXPECT_EQ(enabled(nullptr), (QStringList{U("增加分类"), U("增加软件"), U("展开所有结点")}));
    EXPECT_EQ(enabled(cat), (QStringList{U("增加分类"), U("增加软件"), U("删除分类/软件"),
                                         U("重命名"), U("展开所有结点")}));
    EXPECT_EQ(enabled(soft),
              (QStringList{U("修改备注"), U("删除分类/软件"), U("重命名"), U("展开所有结点")}));

    // Commands on empty space work at the top level, and each change is saved.
    onDialog = [](QDialog& d) { static_cast<CCategoryDlg&>(d).Edit()->setText("a\\b\\"); };
    pane->RunCommand(ID_FAV_ADD_CATEGORY, nullptr);
    ASSERT_EQ(OnDisk().size(), 3u);
    EXPECT_EQ(OnDisk()[2].item.name, "a");
    EXPECT_EQ(OnDisk()[2].children.at(0).item.name, "b");
    pane->RunCommand(ID_FAV_DELETE, cat);
    EXPECT_EQ(OnDisk().size(), 2u);
    EXPECT_FALSE(tree->IsModified());
}

TEST_F(FavoritePaneTest, AddingFromTheFileListMirrorsTheDiscDirectories) {
    const FavSoftDragData row{dir.path() + "/软件/disc01.orb", "tools\\win\\", "setup.exe"};
    pane->AddEntry(row);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* tools = tree->topLevelItem(0);
    ASSERT_EQ(tools->childCount(), 1);
    QTreeWidgetItem* win = tools->child(0);
    EXPECT_EQ(tree->GetCategoryPath(win), "tools\\win\\");
    ASSERT_EQ(win->childCount(), 1);
    QTreeWidgetItem* setup = win->child(0);
    EXPECT_EQ(setup->text(0), "setup.exe");
    EXPECT_EQ(CFavoriteTree::ItemImage(setup), 1);
    EXPECT_EQ(Software(setup).discPath, HostToStored("软件\\disc01.orb"));
    EXPECT_EQ(Software(setup).pathInDisc, "tools\\win\\setup.exe");
    // The description left as it was is stored as the remark.
    EXPECT_EQ(Software(setup).remark, HostToStored(CAddFavoriteDlg::kDescriptionTemplate));
    EXPECT_EQ(tree->currentItem(), setup);
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), U("版本:\n用户信息:\n备注:"));
    EXPECT_EQ(OnDisk().at(0).children.at(0).children.at(0).item.software->pathInDisc,
              "tools\\win\\setup.exe");

    // Cleared child category and an edited name: top level, located at the row.
    onDialog = [](QDialog& d) {
        auto& add = static_cast<CAddFavoriteDlg&>(d);
        EXPECT_EQ(add.ChildEdit()->text(), "tools\\win\\");
        EXPECT_TRUE(add.ParentEdit()->text().isEmpty());
        add.ChildEdit()->clear();
        add.NameEdit()->setText(U("安装程序"));
    };
    pane->AddEntry(row);
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(1)->text(0), U("安装程序"));
    EXPECT_EQ(Software(tree->topLevelItem(1)).pathInDisc, "tools\\win\\setup.exe");
    EXPECT_TRUE(messages.isEmpty());

    // Cancel adds nothing.
    acceptDialogs = false;
    pane->AddEntry(row);
    EXPECT_EQ(tree->topLevelItemCount(), 2);
}

TEST_F(FavoritePaneTest, AnIndexOutsideTheLibraryIsRefusedWithoutLeavingCategories) {
    test::TempDir elsewhere;
    pane->AddEntry({elsewhere / "disc.orb", "tools\\", "a.exe"});
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], U("提示|") + U(kFavMsgAddFailed));

    // Too long a path on the disc is refused with its own message.
    messages.clear();
    std::string deep;
    for (int i = 0; i < 5; ++i) deep += std::string(50, 'd') + "\\";
    pane->AddEntry({dir / "d.orb", deep, "setup.exe"});
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].endsWith(U(kFavMsgPathTooLong)));
}

TEST_F(FavoritePaneTest, DroppedRowsAddOrRepointEntries) {
    QTreeWidgetItem* cat = tree->AddCategoryPath("cat", nullptr);
    const std::string remark = "keep";
    QTreeWidgetItem* soft = AddSoftware(nullptr, "soft");
    tree->SetSoftwareRemark(soft, QString::fromStdString(remark));
    const std::string index = dir / "disc.orb";

    // Empty space: below the row's own directories.
    auto data = EntryData({index, "tools\\win\\", "setup.exe"});
    ASSERT_TRUE(DropAt(data.get(), EmptySpace()));
    QTreeWidgetItem* tools = tree->topLevelItem(2);
    ASSERT_TRUE(tools && tools->childCount() == 1 && tools->child(0)->childCount() == 1);
    QTreeWidgetItem* setup = tools->child(0)->child(0);
    EXPECT_EQ(setup->text(0), "setup.exe");
    EXPECT_TRUE(Software(setup).remark.empty());
    EXPECT_EQ(CFavoriteTree::ItemImage(setup), 1);

    // A row of the disc's root dropped on empty space: top level.
    data = EntryData({index, "", "readme.txt"});
    ASSERT_TRUE(DropAt(data.get(), EmptySpace()));
    EXPECT_EQ(tree->topLevelItem(3)->text(0), "readme.txt");

    // On a category: inside it, without the directories.
    data = EntryData({index, "bin\\", "tool.exe"});
    ASSERT_TRUE(DropAt(data.get(), At(cat)));
    ASSERT_EQ(cat->childCount(), 1);
    EXPECT_EQ(Software(cat->child(0)).pathInDisc, "bin\\tool.exe");

    // On a software entry: re-pointed, name and remark kept.
    data = EntryData({index, "x\\", "new.exe"});
    ASSERT_TRUE(DropAt(data.get(), At(soft)));
    EXPECT_EQ(soft->text(0), "soft");
    EXPECT_EQ(Software(soft).remark, remark);
    EXPECT_EQ(Software(soft).pathInDisc, "x\\new.exe");
    EXPECT_EQ(CFavoriteTree::ItemImage(soft), 1);
    EXPECT_EQ(tree->topLevelItemCount(), 4);
    EXPECT_EQ(OnDisk().at(1).item.software->pathInDisc, "x\\new.exe");
    EXPECT_TRUE(messages.isEmpty());

    // A drag that another program started is not taken.
    data = EntryData({index, "", "other.exe"}, false);
    EXPECT_FALSE(DropAt(data.get(), EmptySpace()));
    // An index outside the library: the message, and nothing added.
    test::TempDir elsewhere;
    data = EntryData({elsewhere / "d.orb", "z\\", "a.exe"});
    DropAt(data.get(), EmptySpace());
    EXPECT_EQ(tree->topLevelItemCount(), 4);
    EXPECT_EQ(messages, QStringList{U("提示|") + U(kFavMsgAddFailed)});
}

TEST_F(FavoritePaneTest, ADragAtTheEdgeScrollsInsteadOfDropping) {
    for (int i = 0; i < 60; ++i) AddSoftware(nullptr, "s");
    auto data = EntryData({dir / "disc.orb", "", "a.exe"});
    QApplication::processEvents();  // lets the tree lay its rows out
    const int before = tree->verticalScrollBar()->value();
    EXPECT_FALSE(DropAt(data.get(), QPoint(60, tree->viewport()->height() - 3)));
    EXPECT_GT(tree->verticalScrollBar()->value(), before);
    EXPECT_EQ(tree->topLevelItemCount(), 60);
}

TEST_F(FavoritePaneTest, ItemsMoveOnlyWhereTheRuleAllows) {
    QTreeWidgetItem* a = tree->AddCategoryPath("a", nullptr);
    QTreeWidgetItem* b = tree->AddCategoryPath("a\\b", nullptr);
    QTreeWidgetItem* s = AddSoftware(b, "s");
    QTreeWidgetItem* top = AddSoftware(nullptr, "top");
    EXPECT_FALSE(CanDropFavoriteItem(*tree, a, a));        // onto itself
    EXPECT_FALSE(CanDropFavoriteItem(*tree, a, b));        // into its own subtree
    EXPECT_FALSE(CanDropFavoriteItem(*tree, b, a));        // onto its own parent
    EXPECT_FALSE(CanDropFavoriteItem(*tree, s, top));      // onto a software entry
    EXPECT_FALSE(CanDropFavoriteItem(*tree, a, nullptr));  // top level onto empty space
    EXPECT_TRUE(CanDropFavoriteItem(*tree, s, a));
    EXPECT_TRUE(CanDropFavoriteItem(*tree, b, nullptr));

    // Through the drag's own data: only the block of the running drag counts.
    CFavoriteDropTarget* target = pane->DropTarget();
    std::unique_ptr<QMimeData> stale(target->BeginItemDrag(s));
    target->EndItemDrag();
    std::unique_ptr<QMimeData> data(target->BeginItemDrag(b));
    EXPECT_EQ(target->DraggedItem(stale.get()), nullptr);
    EXPECT_FALSE(DropAt(stale.get(), EmptySpace()));
    EXPECT_FALSE(DropAt(data.get(), At(b)));
    EXPECT_EQ(b->parent(), a);
    ASSERT_TRUE(DropAt(data.get(), EmptySpace()));
    target->EndItemDrag();
    EXPECT_EQ(b->parent(), nullptr);
    EXPECT_EQ(s->parent(), b);  // the subtree came along
    ASSERT_EQ(OnDisk().size(), 3u);
    EXPECT_EQ(OnDisk()[2].children.at(0).item.name, "s");
}

TEST_F(FavoritePaneTest, LocatingOpensTheIndexAndKeepsTheLocationOfAMissingOne) {
    const FavoriteLocation nested{dir / "sub/d.orb", "tools\\setup.exe"};
    const FavoriteLocation atRoot{dir / "d.orb", "readme.txt"};
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    test::WriteFile(dir / "sub/d.orb", "index");
    test::WriteFile(dir / "d.orb", "index");
    QTreeWidgetItem* one = AddSoftware(nullptr, "one", &nested);
    QTreeWidgetItem* two = AddSoftware(nullptr, "two", &atRoot);
    QTreeWidgetItem* none = AddSoftware(nullptr, "none");
    std::vector<std::string> calls;
    bool opens = true;
    pane->SetLocateSteps({[&](const std::string& p) {
                              calls.push_back(p);
                              return opens;
                          },
                          [&](const std::string& l) {
                              calls.push_back(l);
                              return true;
                          },
                          [&](const std::string& n) { calls.push_back(n); }});
    tree->setCurrentItem(one);
    pane->LocateSelected();
    EXPECT_EQ(calls,
              (std::vector<std::string>{dir / "sub/d.orb", "orb:\\tools\\setup.exe", "setup.exe"}));
    calls.clear();
    tree->setCurrentItem(two);
    pane->LocateSelected();
    EXPECT_EQ(calls, (std::vector<std::string>{dir / "d.orb", "orb:\\readme.txt", "readme.txt"}));
    calls.clear();
    tree->setCurrentItem(none);  // added in the pane: nothing to locate
    pane->LocateSelected();
    EXPECT_TRUE(calls.empty());

    // The index is missing (a library on a disk not mounted now): the user hears
    // so, and the entry keeps where it was, to work again when the file is back.
    opens = false;
    ASSERT_TRUE(pane->SaveNow());
    ASSERT_EQ(::unlink((dir / "sub/d.orb").c_str()), 0);
    tree->setCurrentItem(one);
    pane->LocateSelected();
    EXPECT_TRUE(calls.empty());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].endsWith(QString::fromUtf8("|软件定位失败")))
        << messages[0].toStdString();
    EXPECT_EQ(CFavoriteTree::ItemImage(one), 1);
    EXPECT_EQ(Software(one).pathInDisc, "tools\\setup.exe");
    EXPECT_EQ(OnDisk().at(0).item.software->pathInDisc, "tools\\setup.exe");
    // One that is there but does not open: the document says so itself, and the
    // entry keeps its location as well.
    messages.clear();
    tree->setCurrentItem(two);
    pane->LocateSelected();
    EXPECT_EQ(calls, std::vector<std::string>{dir / "d.orb"});
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(Software(two).pathInDisc, "readme.txt");
}

TEST_F(FavoritePaneTest, EntriesFollowARenamedOrMovedDiscOrCategoryAndAreSaved) {
    const FavoriteLocation inA{dir / "A/x.orb", "setup.exe"};
    const FavoriteLocation deeper{dir / "A/Sub/y.orb", "a.txt"};
    const FavoriteLocation sibling{dir / "AB/x.orb", "b.txt"};
    QTreeWidgetItem* one = AddSoftware(nullptr, "one", &inA);
    QTreeWidgetItem* two = AddSoftware(nullptr, "two", &deeper);
    QTreeWidgetItem* three = AddSoftware(nullptr, "three", &sibling);
    pane->SaveNow();
    pane->LibraryPathMoved(dir / "A/x.orb", dir / "A/z.orb");
    EXPECT_EQ(tree->GetIndexPath(one), dir / "A/z.orb");
    EXPECT_EQ(OnDisk().at(0).item.software->discPath, "A\\z.orb");
    pane->LibraryPathMoved(dir / "A/", dir / "B/A/");
    EXPECT_EQ(tree->GetIndexPath(one), dir / "B/A/z.orb");
    EXPECT_EQ(tree->GetIndexPath(two), dir / "B/A/Sub/y.orb");
    EXPECT_EQ(tree->GetIndexPath(three), dir / "AB/x.orb");
    const std::vector<FavoriteNode> saved = OnDisk();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[1].item.software->discPath, "B\\A\\Sub\\y.orb");
    EXPECT_EQ(saved[2].item.software->discPath, "AB\\x.orb");
    EXPECT_EQ(Software(two).pathInDisc, "a.txt");
}

TEST_F(FavoritePaneTest, RenameAcceptsNinetyNineBytesAndRefusesOneHundred) {
    QTreeWidgetItem* item = AddSoftware(nullptr, "old");
    EXPECT_EQ(pane->EndRename(item, QString(100, 'n')), RenameCheck::TooLong);
    EXPECT_EQ(item->text(0), "old");
    // 49 Chinese characters and one letter: 99 stored bytes.
    const QString name99 = QString(49, QChar(0x4E2D)) + "x";
    EXPECT_EQ(pane->EndRename(item, name99), RenameCheck::Accept);
    EXPECT_EQ(item->text(0), name99);
    EXPECT_EQ(OnDisk().at(0).item.name.size(), 99u);
    EXPECT_EQ(pane->EndRename(item, QString(50, QChar(0x4E2D))), RenameCheck::TooLong);
    EXPECT_EQ(pane->EndRename(item, ""), RenameCheck::Unchanged);
    EXPECT_EQ(pane->EndRename(item, name99), RenameCheck::Unchanged);
    EXPECT_EQ(item->text(0), name99);
}

TEST_F(FavoritePaneTest, RemarksFromDialogAndDroppedFile) {
    QTreeWidgetItem* soft = AddSoftware(nullptr, "s");
    QTreeWidgetItem* cat = tree->AddCategoryPath("c", nullptr);
    onDialog = [](QDialog& d) {
        auto& dlg = static_cast<CEditRemarkDlg&>(d);
        EXPECT_EQ(dlg.NameEdit()->text(), "s");
        dlg.RemarkEdit()->setPlainText(U("第一行\n第二行"));
    };
    tree->setCurrentItem(soft);
    pane->RunCommand(ID_FAV_EDIT_REMARK, soft);
    EXPECT_EQ(Software(soft).remark, HostToStored("第一行\r\n第二行"));
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), U("第一行\n第二行"));

    std::string gbk = "x";
    while (gbk.size() < 20001) gbk += "\xD6\xD0";
    test::WriteFile(dir / "README.TXT", gbk);
    EXPECT_EQ(pane->SetRemarkFromFile(dir / "README.TXT"), RemarkFileStatus::Ok);
    EXPECT_EQ(Software(soft).remark, gbk.substr(0, 10239));
    EXPECT_EQ(OnDisk().at(0).item.software->remark.size(), 10239u);

    // Dropped from the desktop: exactly one file is offered, and it is read after the
    // drop has ended.
    test::WriteFile(dir / "notes.txt", "dropped");
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / "notes.txt")),
                 QUrl::fromLocalFile(QString::fromStdString(dir / "README.TXT"))});
    QWidget* box = pane->RemarkBox()->viewport();
    QDragEnterEvent enterTwo(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &two, Qt::LeftButton,
                             Qt::NoModifier);
    QApplication::sendEvent(box, &enterTwo);
    EXPECT_FALSE(enterTwo.isAccepted());
    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / "notes.txt"))});
    QDragEnterEvent enterOne(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &one, Qt::LeftButton,
                             Qt::NoModifier);
    QApplication::sendEvent(box, &enterOne);
    EXPECT_TRUE(enterOne.isAccepted());
    EXPECT_EQ(enterOne.dropAction(), Qt::CopyAction);  // reading leaves the file in place
    QDropEvent drop(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &one, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(box, &drop);
    ASSERT_TRUE(orb::test::WaitUntil(
        [&] { return QString::fromStdString(Software(soft).remark) == QString("dropped"); }, 10000))
        << "waited for: QString::fromStdString(Software(soft).remark) == QString(\"dropped\")";
    EXPECT_EQ(pane->RemarkBox()->toPlainText(), "dropped");
    pane->SetRemarkFromFile(dir / "README.TXT");

    test::WriteFile(dir / "a.doc", "x");
    EXPECT_EQ(pane->SetRemarkFromFile(dir / "a.doc"), RemarkFileStatus::NotText);
    ASSERT_EQ(mkfifo((dir / "pipe.txt").c_str(), 0644), 0);
    EXPECT_EQ(pane->SetRemarkFromFile(dir / "pipe.txt"), RemarkFileStatus::CannotOpen);
    EXPECT_EQ(messages,
              (QStringList{U("提示|") + U(kFavMsgOnlyTxt), U("提示|") + U(kFavMsgOpenFileFailed)}));
    EXPECT_EQ(Software(soft).remark.size(), 10239u);

    tree->setCurrentItem(cat);  // a category shows no remark
    EXPECT_TRUE(pane->RemarkBox()->toPlainText().isEmpty());
}

TEST_F(FavoritePaneTest, AFailedSaveIsShownAndRetriedLater) {
    // A directory where the file should be: the save cannot replace it.
    ASSERT_EQ(mkdir((dir / "favorite.dat").c_str(), 0755), 0);
    test::WriteFile(dir / "favorite.dat/keep", "x");
    tree->AddCategoryPath("c", nullptr);
    EXPECT_FALSE(pane->SaveNow());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(U("错误|") + U(kFavMsgSaveFailed)))
        << messages[0].toStdString();
    EXPECT_TRUE(tree->IsModified());
}

TEST_F(FavoritePaneTest, ADamagedFileIsKeptBeforeItIsRewritten) {
    test::TempDir other;
    // One whole category, then an item cut short.
    const std::string damaged =
        "\xFB\xFD\x01"
        "a\x01\xFD\x09"
        "cut";
    test::WriteFile(other / "favorite.dat", damaged);
    CFavoritePane second(shell, other.path());
    EXPECT_EQ(second.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(test::ReadFile(other / "favorite.dat.bak"), damaged);
    ASSERT_EQ(shell.statusMessages.size(), 1);
    EXPECT_TRUE(shell.statusMessages[0].contains("favorite.dat.bak"));
}

// Another window (here a second tree on the same library) saves favorite.dat:
// this pane shows its change without a save of its own, keeping the selection,
// and a damaged or vanished file leaves the tree as it is.
TEST_F(FavoritePaneTest, AChangeSavedElsewhereIsShownKeepingTheSelection) {
    QTreeWidgetItem* tools = tree->AddCategoryPath(U("工具"), nullptr);
    QTreeWidgetItem* mine = AddSoftware(tools, "mine");
    ASSERT_TRUE(pane->SaveNow());
    tree->setCurrentItem(mine);
    ASSERT_FALSE(pane->IsPollingFile());  // a local file system: inotify

    CFavoriteTree other;
    ASSERT_TRUE(other.LoadFavorites(dir.path()));
    QTreeWidgetItem* otherTools = other.topLevelItem(0);
    ASSERT_TRUE(other.AddSoftware(otherTools, U("theirs"), "", nullptr));
    ASSERT_TRUE(other.SaveFavorites(other.FavoritesFilePath()));

    auto names = [&] {
        QStringList out;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) out << (*it)->text(0);
        return out;
    };
    ASSERT_TRUE(test::WaitUntil([&] { return names().contains("theirs"); }))
        << names().join(",").toStdString();
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0).toStdString(), "mine");
    EXPECT_TRUE(messages.isEmpty());

    // A second change is seen too (the first rename ended the watch on the file).
    ASSERT_TRUE(other.AddSoftware(otherTools, U("again"), "", nullptr));
    ASSERT_TRUE(other.SaveFavorites(other.FavoritesFilePath()));
    ASSERT_TRUE(test::WaitUntil([&] { return names().contains("again"); }));

    // Damaged or gone: nothing shown changes.
    const QStringList before = names();
    test::WriteFile(dir / "favorite.dat", "\xFB\xFD\x01junk");
    pane->CheckFavoritesFile();
    EXPECT_TRUE(names() == before);
    ASSERT_EQ(::unlink((dir / "favorite.dat").c_str()), 0);
    pane->CheckFavoritesFile();
    EXPECT_TRUE(names() == before);
}

// On a share favorite.dat is polled, but not while the window is hidden: a
// change made meanwhile shows the moment the window is seen again.
TEST_F(FavoritePaneTest, PollsOfAShareWaitWhileHiddenAndCatchUpAtOnce) {
    QTreeWidgetItem* tools = tree->AddCategoryPath(U("工具"), nullptr);
    AddSoftware(tools, "mine");
    ASSERT_TRUE(pane->SaveNow());
    pane->SetAlwaysPoll(true);
    pane->LoadFavorites(dir.path());
    ASSERT_TRUE(pane->IsPollingFile());
    EXPECT_TRUE(pane->IsPollScheduled());
    pane->SetPollPaused(true);
    EXPECT_FALSE(pane->IsPollScheduled());

    CFavoriteTree other;
    ASSERT_TRUE(other.LoadFavorites(dir.path()));
    ASSERT_TRUE(other.AddSoftware(other.topLevelItem(0), U("theirs"), "", nullptr));
    ASSERT_TRUE(other.SaveFavorites(other.FavoritesFilePath()));
    auto shown = [&] {
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->text(0) == "theirs") return true;
        return false;
    };
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown());
    pane->SetPollPaused(false);
    EXPECT_TRUE(shown());
    EXPECT_TRUE(pane->IsPollScheduled());
}

}  // namespace
}  // namespace orb
