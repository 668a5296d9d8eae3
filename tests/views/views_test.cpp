// SPDX-License-Identifier: GPL-3.0-or-later
// The three document views and the cover panel together, as the main window and
// the search and favourites panes use them.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QBuffer>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "favorites/store/fav_drag.h"
#include "platform/drives.h"
#include "platform/error_text.h"
#include "tests/support/fake_shell.h"
#include "tests/support/qt_wait.h"
#include "tests/views/views_test_util.h"
#include "views/cover_info_panel.h"
#include "views/dir_view.h"
#include "views/drag_origin.h"
#include "views/orb_view.h"
#include "views/remark_view.h"
#include "views/view_rules.h"

namespace orb {
namespace {

class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureViewsApp();
        SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
        indexPath = dir / "data.orb";
        test::WriteDataDisc(indexPath);
        MakeViews();
    }
    void TearDown() override {
        DestroyViews();
        SetDriveSystem(nullptr);
    }
    void MakeViews() {
        tree = std::make_unique<CCDDirView>(shell.doc, shell);
        list = std::make_unique<COrbView>(shell.doc, shell);
        remark = std::make_unique<CRemarkView>(shell.doc);
        shell.dirView = tree.get();
        shell.fileView = list.get();
        shell.remarkView = remark.get();
        list->SetMessageHandler([this](const QString& text) { messages << text; });
        list->SetUrlOpener([this](const QUrl& url) {
            opened << url;
            return true;
        });
    }
    void DestroyViews() {
        shell.dirView = nullptr;
        shell.fileView = nullptr;
        shell.remarkView = nullptr;
        tree.reset();
        list.reset();
        remark.reset();
    }
    // A virtual drive holding the disc, so the document finds its drive.
    void InsertDisc() {
        SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
            std::vector<VirtualDrive>{{disc.path(), "DATA", 681574400, false}}));
        shell.doc.LocateDisc();
        ASSERT_FALSE(shell.doc.DiscDrive().empty());
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> names;
        auto& model = list->ListCtrl().Model();
        for (int row = 0; row < model.rowCount(); ++row) names.emplace_back(model.Name(row));
        return names;
    }
    void SelectRows(std::initializer_list<const char*> names) {
        auto& ctrl = list->ListCtrl();
        ctrl.Selection().clearSelection();
        for (const char* name : names)
            ctrl.Selection().select(ctrl.Model().index(ctrl.Model().FindRow(name), 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // The shell holds a widget: the application must exist before it.
    struct AppFirst {
        AppFirst() { test::EnsureViewsApp(); }
    } appFirst;
    test::TempDir dir, disc;
    std::string indexPath;
    test::CFakeShell shell;
    std::unique_ptr<CCDDirView> tree;
    std::unique_ptr<COrbView> list;
    std::unique_ptr<CRemarkView> remark;
    QStringList messages;
    QList<QUrl> opened;
};

TEST_F(ViewsTest, OpeningShowsTheDiscItemItsDirectoriesAndTheRootListing) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    QTreeWidgetItem* root = tree->RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), "DATA");
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 2);  // directories only, by name
    EXPECT_EQ(root->child(0)->text(0), "Docs");
    QTreeWidgetItem* setup = root->child(1);
    EXPECT_EQ(setup->text(0), "setup");
    // setup holds directories, Docs only a file.
    EXPECT_TRUE(tree->HasSubdirectory(setup));
    EXPECT_EQ(setup->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_FALSE(tree->HasSubdirectory(root->child(0)));
    EXPECT_EQ(setup->childCount(), 0);  // not read before it is expanded
    setup->setExpanded(true);
    setup->setExpanded(false);
    setup->setExpanded(true);
    EXPECT_EQ(setup->childCount(), 2);  // read once
    EXPECT_EQ(tree->GetDirectoryPath(setup->child(0)), "setup\\tools\\");

    EXPECT_EQ(tree->currentItem(), root);
    EXPECT_EQ(list->CurrentDirectoryStored(), "");
    EXPECT_EQ(Rows().size(), 7u);
    // The first top-level entry has the id 88, the second its record's offset.
    auto& model = list->ListCtrl().Model();
    EXPECT_EQ(model.Item(model.FindRow("setup")).id, 88);
    EXPECT_EQ(model.Item(model.FindRow("Docs")).id,
              92 + 29 + 5 + 29 + 5 + 29 + 5 + 29 + 5 + 29 + 5 + 29 + 10);

    shell.doc.CloseIndex(1);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(remark->toPlainText().isEmpty());
}

TEST_F(ViewsTest, PathSelectionExpandsTheWayAndComparesCaseExactly) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    // Search hits carry the label, favourites "orb": neither is compared.
    ASSERT_EQ(tree->SelectDirectoryByPath("DATA:\\setup\\tools\\"), 1);
    EXPECT_EQ(tree->currentItem()->text(0), "tools");
    EXPECT_EQ(list->CurrentDirectoryStored(), "setup\\tools\\");
    EXPECT_EQ(Rows(), std::vector<std::string>{"a.exe"});
    ASSERT_EQ(tree->SelectDirectoryByPath("orb:\\setup\\Tools\\"), 1);
    EXPECT_EQ(Rows(), std::vector<std::string>{"b.exe"});
    // Text after the last backslash is ignored.
    ASSERT_EQ(tree->SelectDirectoryByPath("DATA:\\setup\\tools"), 1);
    EXPECT_EQ(list->CurrentDirectoryStored(), "setup\\");
    ASSERT_EQ(tree->SelectDirectoryByPath("X:\\"), 1);
    EXPECT_EQ(list->CurrentDirectoryStored(), "");
    EXPECT_EQ(tree->SelectDirectoryByPath("DATA:\\SETUP\\"), 0);
    EXPECT_EQ(tree->SelectDirectoryByPath("DATA:\\setup\\none\\"), 0);
    EXPECT_EQ(tree->SelectDirectoryByPath("no label separator"), 0);

    // The search pane then selects the hit in the list.
    ASSERT_EQ(tree->SelectDirectoryByPath("DATA:\\setup\\"), 1);
    ASSERT_EQ(list->SelectItemByName("readme.txt"), 1);
    EXPECT_EQ(list->SelectedCount(), 1);
    IndexEntry entry;
    int32_t id = 0;
    ASSERT_TRUE(list->GetSelectedEntry(entry, id));
    EXPECT_EQ(entry.Name(), "readme.txt");
    EXPECT_EQ(entry.Size(), 511u);
    EXPECT_GT(id, 88);
    EXPECT_EQ(list->SelectItemByName("README.TXT"), 0);
    EXPECT_EQ(list->SelectedCount(), 0);
}

TEST_F(ViewsTest, DoubleClickEntersANeverExpandedDirectoryAndOpensFilesOnTheDisc) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    auto& model = list->ListCtrl().Model();
    list->OpenRow(model.FindRow("setup"));
    EXPECT_EQ(tree->currentItem()->text(0), "setup");
    EXPECT_EQ(list->CurrentDirectoryStored(), "setup\\");
    list->OpenRow(model.FindRow("tools"));
    EXPECT_EQ(list->CurrentDirectoryStored(), "setup\\tools\\");

    // A file with the disc in no drive: the message, nothing opened.
    list->OpenRow(model.FindRow("a.exe"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], COrbView::kNoDiscText);
    EXPECT_TRUE(opened.isEmpty());

    InsertDisc();
    list->OpenRow(model.FindRow("a.exe"));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), disc.path() + "/setup/tools/a.exe");
    list->OnExplore();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1].toLocalFile().toStdString(), disc.path() + "/setup/tools/");
    // No program takes the file: the message says so, with the file.
    list->SetUrlOpener([](const QUrl&) { return false; });
    list->OpenRow(model.FindRow("a.exe"));
    EXPECT_EQ(messages.last(),
              QString::fromStdString(NoOpenerText(disc.path() + "/setup/tools/a.exe")));
}

TEST_F(ViewsTest, SortAndStyleChosenInOneWindowHoldInTheNext) {
    list->ListCtrl().Header().ClickColumn(kColType);
    list->ListCtrl().Header().ClickColumn(kColType);  // the same column again: descending
    list->SetViewStyle(kStyleList);
    DestroyViews();
    MakeViews();
    EXPECT_EQ(list->ListCtrl().Header().SortColumn(), kColType);
    EXPECT_EQ(list->ListCtrl().Header().SortDirection(), -1);
    EXPECT_EQ(list->ViewStyle(), kStyleList);
    EXPECT_EQ(list->ListCtrl().View(), list->ListCtrl().IconView());
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"setup", "Docs", "a.txt", "B.TXT", "big.iso",
                                                "readme", ".profile"}));
    // Another column sorts ascending by it, and the listing follows at once.
    list->ListCtrl().Header().ClickColumn(kColSize);
    EXPECT_EQ(list->ListCtrl().Header().SortDirection(), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"setup", "Docs", ".profile", "readme", "a.txt",
                                                "B.TXT", "big.iso"}));
    list->ListCtrl().Header().SetSort(kColName, 1);
    list->SetViewStyle(kStyleReport);
}

TEST_F(ViewsTest, HeaderClicksSortAndNamesAndDirectoriesComeInNaturalOrder) {
    CScanTree t;
    const FILETIME day = test::Day(1057276800);
    const std::string photo = HostToStored("照片_");
    for (const char* n : {"10", "2", "1"})
        t.Append(kNoNode, kEntryDirectory, 0, day, "d" + std::string(n));
    t.Append(kNoNode, 0, 1, day, photo + "10.jpg");
    t.Append(kNoNode, 0, 3, day, photo + "2.jpg");
    t.Append(kNoNode, 0, 2, day, photo + "1.jpg");
    const std::string path = dir / "photos.orb";
    test::WriteIndex(path, t, "PICS", 1000);
    list->ListCtrl().Header().SetSort(kColName, 1);
    list->SetViewStyle(kStyleReport);
    ASSERT_TRUE(shell.doc.OnOpenDocument(path));
    const std::vector<std::string> byName = {
        "d1", "d2", "d10", photo + "1.jpg", photo + "2.jpg", photo + "10.jpg"};
    EXPECT_EQ(Rows(), byName);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(root->child(1)->text(0), "d2");
    EXPECT_EQ(root->child(2)->text(0), "d10");

    // Real clicks on the header: once sorts by the column, twice reverses it.
    list->resize(600, 300);
    list->show();
    CSortHeaderCtrl& header = list->ListCtrl().Header();
    auto click = [&](int column) {
        const QPoint at(header.sectionViewportPosition(column) + header.sectionSize(column) / 2,
                        header.height() / 2);
        QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, at);
    };
    click(kColSize);
    EXPECT_EQ(header.SortColumn(), kColSize);
    // Directories have no size: they keep the index's order.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d10", "d2", "d1", photo + "10.jpg",
                                                photo + "1.jpg", photo + "2.jpg"}));
    // A screen reader hears the order on the sorted column's header only.
    auto headerDescription = [&](const QString& name) {
        QAccessibleInterface* view = QAccessible::queryAccessibleInterface(header.parentWidget());
        for (int i = 0; view && i < view->childCount(); ++i) {
            QAccessibleInterface* cell = view->child(i);
            if (cell && cell->role() == QAccessible::ColumnHeader &&
                cell->text(QAccessible::Name) == name)
                return cell->text(QAccessible::Description);
        }
        return QStringLiteral("<no header>");
    };
    EXPECT_EQ(headerDescription(QStringLiteral("大小")), QStringLiteral("升序排列"));
    EXPECT_EQ(headerDescription(QStringLiteral("名称")), QString());
    // Two quick clicks (the second arrives as a double click) sort and reverse.
    const QPoint name(header.sectionViewportPosition(kColName) + header.sectionSize(kColName) / 2,
                      header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, name);
    QTest::mouseDClick(header.viewport(), Qt::LeftButton, {}, name);
    EXPECT_EQ(header.SortColumn(), kColName);
    EXPECT_EQ(Rows(), std::vector<std::string>(byName.rbegin(), byName.rend()));
    EXPECT_EQ(headerDescription(QStringLiteral("名称")), QStringLiteral("降序排列"));
    EXPECT_EQ(headerDescription(QStringLiteral("大小")), QString());
    list->hide();
    header.SetSort(kColName, 1);
}

TEST_F(ViewsTest, AnnotationEditIsStoredOnTheNextClickAndWhenAnotherIndexOpens) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    auto& model = list->ListCtrl().Model();
    const int32_t aId = model.Item(model.FindRow("a.txt")).id;
    const int32_t readmeId = model.Item(model.FindRow("readme")).id;
    shell.doc.Index().SetAnnotation(readmeId, HostToStored("旧注释"));

    ASSERT_EQ(list->SelectItemByName("a.txt"), 1);
    EXPECT_EQ(remark->ShownEntryId(), aId);
    EXPECT_FALSE(shell.doc.IsModified());  // showing is not editing
    remark->insertPlainText(QStringLiteral("新的\n注释"));
    EXPECT_TRUE(shell.doc.IsModified());

    ASSERT_EQ(list->SelectItemByName("readme"), 1);  // another row: a.txt's text is stored
    EXPECT_EQ(remark->toPlainText(), "旧注释");
    EXPECT_FALSE(shell.doc.IsModified());
    ASSERT_NE(shell.doc.Index().FindAnnotation(aId), nullptr);
    EXPECT_EQ(*shell.doc.Index().FindAnnotation(aId), HostToStored("新的\r\n注释"));

    // Emptying the text removes the annotation; typing again and opening another
    // index stores the edit in the first index's companion.
    remark->clear();
    remark->insertPlainText(QStringLiteral("最后"));
    const std::string other = dir / "other.orb";
    test::WriteDataDisc(other, 1234);
    ASSERT_TRUE(shell.doc.OnOpenDocument(other));
    EXPECT_TRUE(remark->toPlainText().isEmpty());
    EXPECT_EQ(remark->ShownEntryId(), 0);
    EXPECT_FALSE(shell.doc.IsModified());
    // Opening the same file again would find the stored texts in its companion.
    CIndexReader first;
    ASSERT_EQ(first.Open(indexPath, OpenMode::ReadShareAll), 1);
    ASSERT_NE(first.FindAnnotation(readmeId), nullptr);
    EXPECT_EQ(*first.FindAnnotation(readmeId), HostToStored("最后"));
    EXPECT_EQ(*first.FindAnnotation(aId), HostToStored("新的\r\n注释"));
    // The new index got nothing from the old view.
    EXPECT_TRUE(shell.doc.Index().Annotations().empty());

    // An edit pending when the editor goes away is stored, not lost.
    ASSERT_EQ(list->SelectItemByName("a.txt"), 1);
    remark->insertPlainText(QStringLiteral("关闭前"));
    shell.remarkView = nullptr;
    remark.reset();
    ASSERT_NE(shell.doc.Index().FindAnnotation(aId), nullptr);
    EXPECT_EQ(*shell.doc.Index().FindAnnotation(aId), HostToStored("关闭前"));
}

TEST_F(ViewsTest, EditorTakesTextOnlyForAShownEntryAndTabMovesTheFocus) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* next = new QLineEdit(&window);
    layout->addWidget(remark.get());
    layout->addWidget(next);
    // The fixture owns the editor: it leaves the window before the window goes.
    struct GiveBack {
        QWidget* editor;
        ~GiveBack() { editor->setParent(nullptr); }
    } giveBack{remark.get()};
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window, 10000));

    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    // No entry shown yet: typed text would belong to nobody and be thrown away.
    remark->setFocus();
    QTest::keyClicks(remark.get(), QStringLiteral("lost"));
    EXPECT_TRUE(remark->toPlainText().isEmpty());
    EXPECT_FALSE(shell.doc.IsModified());

    ASSERT_EQ(list->SelectItemByName("a.txt"), 1);
    EXPECT_FALSE(remark->isReadOnly());
    remark->setFocus();
    ASSERT_TRUE(test::WaitUntil([&] { return remark->hasFocus(); }));
    QTest::keyClicks(remark.get(), QStringLiteral("kept"));
    // Tab leaves the editor and writes nothing; Shift+Tab comes back.
    QTest::keyClick(remark.get(), Qt::Key_Tab);
    ASSERT_TRUE(test::WaitUntil([&] { return next->hasFocus(); }));
    QTest::keyClick(next, Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(test::WaitUntil([&] { return remark->hasFocus(); }));
    QTest::keyClick(remark.get(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(remark->toPlainText(), QStringLiteral("kept"));

    // A new document shows no entry again.
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    EXPECT_TRUE(remark->isReadOnly());
}

TEST_F(ViewsTest, CopyAndDragCarryTheFileListAndOneRowTheFavouritesBlock) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    ASSERT_EQ(tree->SelectDirectoryByPath("DATA:\\setup\\"), 1);

    // Without the disc: no copy, and a drag of one row offers only the block.
    SelectRows({"readme.txt"});
    EXPECT_FALSE(list->CanEditCopy());
    std::unique_ptr<QMimeData> drag(list->BuildDragData());
    ASSERT_NE(drag, nullptr);
    EXPECT_FALSE(drag->hasUrls());
    EXPECT_TRUE(IsDragFromThisProcess(drag.get()));
    FavSoftDragData block;
    ASSERT_TRUE(DecodeFavSoftDrag(drag->data(kFavSoftDragFormat).toStdString(), block));
    EXPECT_EQ(block.indexPath, indexPath);
    EXPECT_EQ(block.dirInDisc, "setup\\");
    EXPECT_EQ(block.name, "readme.txt");

    InsertDisc();
    SelectRows({"tools", "readme.txt"});
    ASSERT_TRUE(list->CanEditCopy());
    list->OnEditCopy();
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    ASSERT_NE(clip, nullptr);
    ASSERT_EQ(clip->urls().size(), 2);
    EXPECT_EQ(clip->urls()[0].toLocalFile().toStdString(), disc.path() + "/setup/tools");
    EXPECT_EQ(clip->urls()[1].toLocalFile().toStdString(), disc.path() + "/setup/readme.txt");
    EXPECT_TRUE(clip->data("x-special/gnome-copied-files").startsWith("copy\nfile://"));

    drag.reset(list->BuildDragData());
    ASSERT_NE(drag, nullptr);
    EXPECT_EQ(drag->urls().size(), 2);
    EXPECT_FALSE(drag->hasFormat(kFavSoftDragFormat));  // two rows: no block
    SelectRows({"readme.txt"});
    drag.reset(list->BuildDragData());
    EXPECT_EQ(drag->urls().size(), 1);
    EXPECT_TRUE(drag->hasFormat(kFavSoftDragFormat));

    // A mark from another process is not this one's.
    QMimeData foreign;
    foreign.setData(kDragOriginFormat, "1");
    EXPECT_FALSE(IsDragFromThisProcess(&foreign));
    EXPECT_FALSE(IsDragFromThisProcess(nullptr));
}

TEST_F(ViewsTest, ContextMenuFollowsTheSelectionAndTheDiscsDrive) {
    ASSERT_TRUE(shell.doc.OnOpenDocument(indexPath));
    auto enabled = [this](const char* id) {
        QMenu menu;
        list->FillContextMenu(menu);
        QAction* action = menu.findChild<QAction*>(id);
        EXPECT_NE(action, nullptr) << id;
        return action && action->isEnabled();
    };
    auto run = [this](const char* id) {
        QMenu menu;
        list->FillContextMenu(menu);
        list->RunMenuCommand(menu.findChild<QAction*>(id));
    };
    SelectRows({"a.txt"});
    list->ListCtrl().Selection().setCurrentIndex(
        list->ListCtrl().Model().index(list->ListCtrl().Model().FindRow("a.txt"), 0),
        QItemSelectionModel::NoUpdate);
    EXPECT_FALSE(enabled("ID_EDIT_COPY"));  // the disc is in no drive
    EXPECT_FALSE(enabled("ID_EXPLORE"));
    EXPECT_TRUE(enabled("ID_ADD_TO_FAVORITES"));
    EXPECT_TRUE(enabled("ID_LIST_LARGEICONS"));
    EXPECT_TRUE(enabled("ID_EXPORT_LIST"));  // the whole disc, with or without the drive
    run("ID_ADD_TO_FAVORITES");
    EXPECT_EQ(shell.addFavoriteCalls, 1);
    run("ID_EXPLORE");  // disabled: nothing happens
    EXPECT_TRUE(opened.isEmpty());

    InsertDisc();
    EXPECT_TRUE(enabled("ID_EDIT_COPY"));
    EXPECT_TRUE(enabled("ID_EXPLORE"));
    SelectRows({"a.txt", "readme"});
    EXPECT_FALSE(enabled("ID_ADD_TO_FAVORITES"));  // two rows
    SelectRows({"setup"});
    list->ListCtrl().Selection().setCurrentIndex(
        list->ListCtrl().Model().index(list->ListCtrl().Model().FindRow("setup"), 0),
        QItemSelectionModel::NoUpdate);
    EXPECT_FALSE(enabled("ID_ADD_TO_FAVORITES"));  // a directory
    SelectRows({});
    EXPECT_FALSE(enabled("ID_EDIT_COPY"));

    run("ID_LIST_SMALLICONS");
    EXPECT_EQ(list->ViewStyle(), kStyleSmallIcons);
    run("ID_LIST_DETAILS");
    EXPECT_EQ(list->ViewStyle(), kStyleReport);
    run("ID_EXPLORE");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), disc.path() + "/");
}

TEST_F(ViewsTest, AHostileNameIsNeverJoinedIntoAPathOnTheDisc) {
    CScanTree t;
    const FILETIME day = test::Day(0);
    t.Append(kNoNode, 0, 1, day, "..");
    t.Append(kNoNode, 0, 1, day, "../../etc/passwd");
    t.Append(kNoNode, 0, 1, day, "ok.txt");
    const std::string hostile = dir / "hostile.orb";
    test::WriteIndex(hostile, t, "DATA", 681574400);
    ASSERT_TRUE(shell.doc.OnOpenDocument(hostile));
    InsertDisc();
    auto& model = list->ListCtrl().Model();
    for (const char* name : {"..", "../../etc/passwd"}) {
        messages.clear();
        list->OpenRow(model.FindRow(name));
        EXPECT_TRUE(opened.isEmpty()) << name;
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0], COrbView::kUnknownErrorText);

        SelectRows({name, "ok.txt"});
        QApplication::clipboard()->clear();
        list->OnEditCopy();
        const QMimeData* clip = QApplication::clipboard()->mimeData();
        EXPECT_TRUE(!clip || !clip->hasUrls()) << name;
        SelectRows({name});
        std::unique_ptr<QMimeData> drag(list->BuildDragData());
        EXPECT_EQ(drag, nullptr) << name;
    }
    list->OpenRow(model.FindRow("ok.txt"));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(ViewsTest, CoverPanelGroundFollowsADarkThemeSoItsTextShows) {
    CCoverInfoPanel panel;
    panel.resize(264, 200);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0, 0, 0));
    dark.setColor(QPalette::WindowText, QColor(255, 255, 255));
    panel.setPalette(dark);
    const QImage shot = panel.grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(0, 0, 0));
    // The empty panel's title is drawn in the theme's text colour, on its ground.
    bool titleSeen = false;
    for (int y = 0; y < shot.height() && !titleSeen; ++y)
        for (int x = 0; x < shot.width() && !titleSeen; ++x)
            titleSeen = shot.pixelColor(x, y) == QColor(255, 255, 255);
    EXPECT_TRUE(titleSeen);
}

TEST_F(ViewsTest, CoverPanelShowsNothingWithoutAnOpenReaderAndTheCoverWithOne) {
    CCoverInfoPanel panel;
    panel.resize(264, 200);
    panel.ShowIndex(nullptr);
    EXPECT_TRUE(panel.CurrentCover().isNull());
    CIndexReader reader;
    panel.ShowIndex(&reader);
    EXPECT_TRUE(panel.CurrentCover().isNull());

    // A disc whose cover is a 40x10 PNG, decoded by the header-only decoder: the
    // panel decodes the reader's cover copy itself.
    QImage cover(40, 10, QImage::Format_RGB32);
    cover.fill(Qt::blue);
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        cover.save(&buffer, "PNG");
    }
    CScanTree t;
    t.Append(kNoNode, 0, 1, test::Day(0), "a");
    const std::string path = dir / "cover.orb";
    test::WriteIndex(path, t, "COVER", 1024, std::string_view(png.data(), png.size()));
    ASSERT_EQ(reader.Open(path, OpenMode::ReadShareAll), 1);
    panel.update();
    EXPECT_EQ(panel.CurrentCover().size(), QSize(40, 10));
    const QImage shot = panel.grab().toImage();
    // The cover fills the width, centred vertically; the table's corner is drawn.
    EXPECT_EQ(shot.pixelColor(130, 120), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(130, 190), QColor(240, 240, 240));
    reader.Close();
    EXPECT_TRUE(panel.CurrentCover().isNull());
}

}  // namespace
}  // namespace orb
