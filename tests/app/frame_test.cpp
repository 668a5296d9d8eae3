// SPDX-License-Identifier: GPL-3.0-or-later
// The main window and the application by behaviour: start-up, auto-locate on the
// virtual drives, synchronising an index into the library, and the hand-over from
// a second start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "about_dlg.h"
#include "favorites/pane/favorite_pane.h"
#include "favorites/tree/favorite_tree.h"
#include "index/doc/orb_doc.h"
#include "index/index_format.h"
#include "library/newdisc/new_disc_dlg.h"
#include "library/pane/library_pane.h"
#include "library/tree/library_tree.h"
#include "library/tree/library_watcher.h"
#include "main_frame.h"
#include "orb_app.h"
#include "platform/drives.h"
#include "platform/error_text.h"
#include "platform/text.h"
#include "quit_signals.h"
#include "search/pane/search_pane.h"
#include "search/pane/search_rules.h"
#include "search/pane/search_scope_tree.h"
#include "settings_dlg.h"
#include "shell/app_settings.h"
#include "tests/app/app_test_util.h"
#include "tests/support/qt_wait.h"
#include "ui/pane_splitter.h"
#include "ui/panel_bar_ctrl.h"
#include "ui/ui_font.h"
#include "views/orb_view.h"
#include "views/remark_view.h"

namespace orb {
namespace {

// The program as the tests start it: no desktop registration, no drive watching,
// and no single-instance socket unless a test names one.
COrbApp::Options TestAppOptions() {
    COrbApp::Options options;
    options.registerShell = false;
    options.watchDrives = false;
    options.singleInstance = false;
    return options;
}

// Answers every message box that opens while it lives, recording its text.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

// A second start, on its own thread as in its own process, while this thread's
// event loop serves the running program. Done tells whether it has returned.
struct SecondStart {
    SecondStart(const QString& server, const QString& file) {
        CommandLine cl;
        cl.file = file;
        thread = std::thread([this, server, cl] {
            result = COrbApp::HandOverToRunningInstance(server, cl);
            done = true;
        });
    }
    ~SecondStart() {
        if (thread.joinable()) thread.join();
    }
    HandOverResult Wait() {
        QElapsedTimer clock;
        clock.start();
        while (!done && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // The start ends on its own deadlines.
        if (thread.joinable()) thread.join();
        return result;
    }
    std::atomic<bool> done{false};
    HandOverResult result = HandOverResult::NoInstance;
    std::thread thread;
};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        OpenSettings()->clear();
        library = lib.path() + "/";
        StoreLibraryDirectory(library);
        ASSERT_EQ(::mkdir((lib / "软件").c_str(), 0755), 0);
        test::WriteSmallIndex(lib / "软件/tools.orb", "TOOLS", 650'000'000);
        drives = std::make_shared<CVirtualDriveSystem>(
            std::vector<VirtualDrive>{{driveDir.path(), "", 0, true}});
        SetDriveSystem(drives);
        doc = std::make_unique<COrbDoc>();
        frame = std::make_unique<CMainFrame>(*doc, CMainFrame::Options{false});
        frame->askCatalogue = [this](const QString&) {
            ++questions;
            return false;
        };
        frame->showNewDiscTip = [this] { ++tips; };
    }
    void TearDown() override {
        frame.reset();
        doc.reset();
        SetDriveSystem(nullptr);
    }
    void Insert(const std::string& label, uint64_t capacity) {
        drives->SetDrives({{driveDir.path(), label, capacity, false}});
        frame->OnDriveChange();
    }

    test::TempDir lib, driveDir;
    std::string library;
    std::shared_ptr<CVirtualDriveSystem> drives;
    std::unique_ptr<COrbDoc> doc;
    std::unique_ptr<CMainFrame> frame;
    int questions = 0;
    int tips = 0;
};

TEST_F(FrameTest, PageButtonsToggledLikeAScreenReaderDoesShowThePage) {
    // An accessibility client toggles a checkable tool button rather than clicking it.
    frame->Action(ID_VIEW_SEARCH)->setChecked(true);
    EXPECT_EQ(frame->PanelBar()->GetSelectedItem(), kPageSearch);
    EXPECT_FALSE(frame->Action(ID_VIEW_LIBRARY)->isChecked());
    frame->Action(ID_VIEW_FAVORITES)->toggle();
    EXPECT_EQ(frame->PanelBar()->GetSelectedItem(), kPageFavorites);
    EXPECT_FALSE(frame->Action(ID_VIEW_SEARCH)->isChecked());
}

TEST_F(FrameTest, CatalogedDiscArrivingWhileHiddenIsShownInTheLibrary) {
    frame->SelectPage(kPageSearch);
    ASSERT_TRUE(frame->IsInTray());  // never shown
    Insert("TOOLS", 650'000'000);
    EXPECT_FALSE(frame->IsInTray());
    EXPECT_TRUE(frame->Action(ID_VIEW_LIBRARY)->isChecked());
    ASSERT_TRUE(doc->Index().IsOpen());
    EXPECT_EQ(doc->Index().GetFilePath(), lib / "软件/tools.orb");
    EXPECT_EQ(CLibraryTree::ItemLabel(frame->LibraryTree()->currentItem()), "tools");
    EXPECT_EQ(doc->DiscDrive(), driveDir.path() + "/");
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("tools.orb - Kelvane光盘助手"));
    EXPECT_TRUE(frame->Action(ID_SYNC_INDEX)->isEnabled());
    EXPECT_EQ(questions + tips, 0);
    // With its disc in a drive, another arrival only refreshes the location.
    drives->SetDrives(
        {{driveDir.path(), "TOOLS", 650'000'000, false}, {lib.path(), "UNKNOWN", 1000, false}});
    frame->OnDriveChange();
    EXPECT_EQ(questions + tips, 0);
}

TEST_F(FrameTest, UnknownDiscIsOfferedForCataloguingOrPopsUpInTheTray) {
    frame->show();
    Insert("NEW", 1234);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(tips, 0);
    EXPECT_FALSE(doc->Index().IsOpen());
    frame->hide();
    Insert("NEWER", 1234);
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(tips, 1);
    // Removing the disc is no arrival.
    drives->SetDrives({{driveDir.path(), "", 0, true}});
    frame->OnDriveChange();
    EXPECT_EQ(questions + tips, 2);
    EXPECT_EQ(frame->DiscLocationText(), QStringLiteral("在所有光盘驱动器中没有找到该光盘"));
}

TEST_F(FrameTest, AutoLocateOffOnlyRefreshesTheLocation) {
    WriteSettingInt(kKeyAutoLocate, 0);
    Insert("TOOLS", 650'000'000);
    EXPECT_FALSE(doc->Index().IsOpen());
    EXPECT_EQ(questions + tips, 0);
}

TEST_F(FrameTest, NoQuestionWhileTheNewDiscDialogRuns) {
    frame->show();
    bool checked = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(frame->IsNewDiscDialogOpen());
        Insert("NEW", 1234);
        EXPECT_EQ(questions + tips, 0);
        checked = true;
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    drives->SetDrives({{driveDir.path(), "OTHER", 2048, false}});
    frame->ShowNewDiscDialog();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(frame->IsNewDiscDialogOpen());
}

TEST_F(FrameTest, SyncMovesIndexAndCompanionOrRefusesAnExistingName) {
    test::TempDir outside;
    test::WriteSmallIndex(outside / "mine.orb", "MINE", 1000);
    test::WriteFile(outside / "mine.orc", "annotations");
    std::string category = library + "软件/";
    frame->askAddToLibrary = [](const QString&) { return true; };
    frame->pickLibraryLocation = [&](std::string& out) {
        out = category;
        return true;
    };
    ASSERT_TRUE(frame->OpenDocumentFile(outside / "mine.orb"));
    frame->OnSyncIndex();
    EXPECT_FALSE(test::FileExists(outside / "mine.orb"));
    EXPECT_EQ(test::ReadFile(lib / "软件/mine.orc"), "annotations");
    EXPECT_EQ(doc->Index().GetFilePath(), lib / "软件/mine.orb");
    EXPECT_EQ(CLibraryTree::ItemLabel(frame->LibraryTree()->currentItem()), "mine");

    // Already in the library: only selected, nothing asked.
    frame->askAddToLibrary = [](const QString&) -> bool {
        ADD_FAILURE();
        return false;
    };
    frame->LibraryTree()->setCurrentItem(frame->LibraryTree()->RootItem());
    frame->OnSyncIndex();
    EXPECT_EQ(CLibraryTree::ItemLabel(frame->LibraryTree()->currentItem()), "mine");

    // A file of the same name at the target is never replaced.
    test::WriteSmallIndex(outside / "tools.orb", "OTHER", 1000);
    const std::string before = test::ReadFile(lib / "软件/tools.orb");
    frame->askAddToLibrary = [](const QString&) { return true; };
    ASSERT_TRUE(frame->OpenDocumentFile(outside / "tools.orb"));
    {
        MessageBoxCatcher boxes;
        frame->OnSyncIndex();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_EQ(
            boxes.texts[0],
            QStringLiteral("该光盘索引在光盘库指定分类中已经存在一个名称相同的副本！不能继续操作"));
    }
    EXPECT_EQ(test::ReadFile(lib / "软件/tools.orb"), before);
    EXPECT_TRUE(test::FileExists(outside / "tools.orb"));
    EXPECT_EQ(doc->Index().GetFilePath(), outside / "tools.orb");

    // A move that fails reopens the old index and says so.
    category = library + "missing/";
    {
        MessageBoxCatcher boxes;
        frame->OnSyncIndex();
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].startsWith(
            QStringLiteral("移动文件失败,请确定该文件没有被其它程序打开!")))
            << boxes.texts[0].toStdString();
    }
    EXPECT_EQ(doc->Index().GetFilePath(), outside / "tools.orb");
}

TEST_F(FrameTest, FailedOpenShowsTheDocumentMessageAndEmptiesIt) {
    test::WriteFile(lib / "bad.orb", "not an index at all");
    MessageBoxCatcher boxes;
    EXPECT_FALSE(frame->OpenDocumentFile(lib / "bad.orb"));
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("文件打开失败")});
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("欢迎使用 - Kelvane光盘助手"));
    EXPECT_FALSE(frame->Action(ID_SYNC_INDEX)->isEnabled());
}

TEST_F(FrameTest, ARecentEntryThatNoLongerOpensLeavesTheListAndTheShownIndex) {
    test::WriteSmallIndex(lib / "软件/gone.orb", "GONE", 1000);
    ASSERT_TRUE(frame->OpenDocumentFile(lib / "软件/gone.orb"));
    ASSERT_TRUE(frame->OpenDocumentFile(lib / "软件/tools.orb"));
    const QString gone = QString::fromStdString(lib / "软件/gone.orb");
    ASSERT_TRUE(frame->RecentFiles().contains(gone));
    ASSERT_EQ(::unlink((lib / "软件/gone.orb").c_str()), 0);
    {
        MessageBoxCatcher boxes;
        EXPECT_FALSE(frame->OpenRecentFile(gone));
        EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("文件打开失败")});
    }
    EXPECT_FALSE(frame->RecentFiles().contains(gone));
    EXPECT_EQ(doc->Index().GetFilePath(), lib / "软件/tools.orb");
    EXPECT_TRUE(frame->OpenRecentFile(QString::fromStdString(lib / "软件/tools.orb")));
}

TEST_F(FrameTest, RecentFilesAndFavouritesFollowADiscTheLibraryRenames) {
    ASSERT_TRUE(frame->OpenDocumentFile(lib / "软件/tools.orb"));
    CFavoriteTree* favorites = frame->FavoritePane()->Tree();
    const FavoriteLocation where{lib / "软件/tools.orb", "setup\\a.txt"};
    QTreeWidgetItem* entry = nullptr;
    ASSERT_TRUE(favorites->AddSoftware(nullptr, QStringLiteral("a"), QString(), &where, &entry));
    CLibraryTree* tree = frame->LibraryTree();
    QTreeWidgetItem* disc = tree->FindItemByPath(lib / "软件/tools");
    ASSERT_NE(disc, nullptr);
    ASSERT_TRUE(frame->LibraryPane()->RenameLibraryItem(disc, QStringLiteral("工具")));
    EXPECT_EQ(frame->RecentFiles().value(0), QString::fromStdString(lib / "软件/工具.orb"));
    EXPECT_EQ(favorites->GetIndexPath(entry), lib / "软件/工具.orb");
    EXPECT_EQ(ReadFavoritesFile(library + "favorite.dat").items.at(0).item.software->discPath,
              HostToStored("软件\\工具.orb"));
    ASSERT_TRUE(frame->LibraryPane()->RenameLibraryItem(tree->FindItemByPath(lib / "软件"),
                                                        QStringLiteral("常用")));
    EXPECT_EQ(frame->RecentFiles().value(0), QString::fromStdString(lib / "常用/工具.orb"));
    EXPECT_EQ(favorites->GetIndexPath(entry), lib / "常用/工具.orb");
}

TEST_F(FrameTest, DroppedFilesOpenUnlessAFileListDragRuns) {
    frame->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(lib / "软件/tools.orb"))});
    auto drop = [&] {
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // Straight to the window's handler: no drag runs for the application to route.
        static_cast<QObject*>(frame.get())->event(&event);
        return event.isAccepted();
    };
    frame->SetFileListDragActive(true);
    EXPECT_FALSE(drop());
    QApplication::processEvents();
    EXPECT_FALSE(doc->Index().IsOpen());
    frame->SetFileListDragActive(false);
    EXPECT_TRUE(drop());
    ASSERT_TRUE(orb::test::WaitUntil([&] { return doc->Index().IsOpen(); }, 10000))
        << "waited for: doc->Index().IsOpen()";
    EXPECT_EQ(doc->Index().GetFilePath(), lib / "软件/tools.orb");
}

TEST_F(FrameTest, DroppedDiscImageIsOfferedForCataloguing) {
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xorriso";
    EXPECT_EQ(frame->Action(ID_FILE_NEW_FROM_IMAGE)->text(),
              QStringLiteral("从映象文件新建光盘映象..."));
    test::TempDir src;
    test::WriteFile(src / "a.txt", "a");
    const std::string image = lib / "disc.img";
    ASSERT_EQ(std::system(("xorriso -as mkisofs -V DROPPED -o '" + image + "' '" + src.path() +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0);
    frame->show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(image))});
    // The dialog opens after the drop returns: watch for it and close it.
    bool seen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* dlg = qobject_cast<CNewDiscDlg*>(QApplication::activeModalWidget())) {
            seen = dlg->IsImageMode();
            dlg->close();
        }
    });
    watch.start(10);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject*>(frame.get())->event(&event);
    EXPECT_TRUE(event.isAccepted());
    ASSERT_TRUE(orb::test::WaitUntil([&] { return seen; }, 10000)) << "waited for: seen";
    EXPECT_FALSE(doc->Index().IsOpen());
    ASSERT_TRUE(orb::test::WaitUntil([&] { return !frame->IsNewDiscDialogOpen(); }, 10000))
        << "waited for: !frame->IsNewDiscDialogOpen()";
}

TEST_F(FrameTest, SettingsHandANewLibraryToEveryPaneAndStoreTheToggles) {
    test::TempDir other;
    ASSERT_EQ(::mkdir((other / "新分类").c_str(), 0755), 0);
    CSettingsDlg dlg(
        library, [this](const std::string& path) { frame->ChangeLibraryDirectory(path); },
        frame.get());
    dlg.SetFolderPicker([&](QWidget*, const QString& initial, std::string& out) {
        EXPECT_EQ(initial.toStdString(), library);
        out = other.path();
        return true;
    });
    dlg.BrowseButton()->click();
    EXPECT_EQ(dlg.LibraryEdit()->text().toStdString(), other.path());
    EXPECT_EQ(frame->LibraryTree()->GetLibraryRoot(), other.path() + "/");
    EXPECT_EQ(frame->SearchScopeTree()->GetLibraryRoot(), other.path() + "/");
    EXPECT_EQ(frame->FavoriteTree()->GetLibraryPath(), other.path() + "/");
    EXPECT_EQ(GetLibraryDirectory(), other.path());
    // Both trees show the new library, and the watcher follows it.
    const std::string category = other.path() + "/新分类/";
    EXPECT_NE(frame->LibraryTree()->FindItemByPath(category), nullptr);
    EXPECT_NE(frame->SearchScopeTree()->FindItemByPath(category), nullptr);
    test::WriteSmallIndex(other / "新分类/new.orb", "NEW", 700'000'000);
    ASSERT_TRUE(test::WaitUntil([&] {
        return frame->LibraryTree()->FindItemByPath(category + "new") &&
               frame->SearchScopeTree()->FindItemByPath(category + "new");
    }));

    ASSERT_TRUE(dlg.AutoLocateButton()->isChecked());
    dlg.AutoLocateButton()->click();
    EXPECT_EQ(ReadSettingInt(kKeyAutoLocate, 1), 0);
    dlg.AutostartButton()->click();
    EXPECT_EQ(IsAutostartEnabled(), dlg.AutostartButton()->isChecked());
    if (IsAutostartEnabled()) dlg.AutostartButton()->click();
    EXPECT_FALSE(IsAutostartEnabled());

    // The dialog has a way out besides the title bar; Enter takes it too.
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(FrameTest, PagesAndRefreshFromTheKeyboardAndTheLibraryOnDiskIsFollowed) {
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get(), 10000));
    for (int page : {2, 1, 0}) {
        QTest::keyClick(frame.get(), static_cast<Qt::Key>(Qt::Key_1 + page), Qt::ControlModifier);
        EXPECT_EQ(frame->PanelBar()->GetSelectedItem(), page);
    }

    // Every disc is in the first search's scope.
    auto* scope = static_cast<CSearchScopeTree*>(frame->SearchScopeTree());
    const std::string tools = library + "软件/tools";
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->FindItemByPath(tools)), kScopeChecked);

    // Another program adds a disc: both trees show it, the new disc ticked, the old
    // tick kept by path.
    scope->SetItemCheck(scope->FindItemByPath(tools), kScopeUnchecked);
    test::WriteSmallIndex(lib / "软件/more.orb", "MORE", 700'000'000);
    const std::string more = library + "软件/more";
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() &&
           (!scope->FindItemByPath(more) || !frame->LibraryTree()->FindItemByPath(more)))
        QTest::qWait(20);
    ASSERT_NE(scope->FindItemByPath(more), nullptr);
    ASSERT_NE(frame->LibraryTree()->FindItemByPath(more), nullptr);
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->FindItemByPath(more)), kScopeChecked);
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->FindItemByPath(tools)), kScopeUnchecked);

    // F5 reads the library again on a worker and fills both trees from that walk,
    // even where they show what is on disk: the expanded category is folded.
    QTreeWidgetItem* software = frame->LibraryTree()->FindItemByPath(library + "软件/");
    ASSERT_NE(software, nullptr);
    frame->LibraryTree()->expandItem(software);
    QTest::keyClick(frame.get(), Qt::Key_F5);
    ASSERT_TRUE(test::WaitUntil([&] {
        QTreeWidgetItem* item = frame->LibraryTree()->FindItemByPath(library + "软件/");
        return item && !item->isExpanded();
    }));
    ASSERT_NE(frame->LibraryTree()->FindItemByPath(more), nullptr);

    // A disc gone while the window does not look (no inotify event is awaited):
    // F5 finds it gone.
    ASSERT_EQ(::unlink((lib / "软件/more.orb").c_str()), 0);
    QTest::keyClick(frame.get(), Qt::Key_F5);
    ASSERT_TRUE(test::WaitUntil([&] {
        return !scope->FindItemByPath(more) && !frame->LibraryTree()->FindItemByPath(more);
    }));
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->FindItemByPath(tools)), kScopeUnchecked);

    // The scope menu's 刷新 walks on the worker too: nothing changes before the
    // window's loop runs again, then both trees follow.
    test::WriteSmallIndex(lib / "软件/more.orb", "MORE", 700'000'000);
    frame->SearchPane()->OnScopeRefresh();
    EXPECT_EQ(scope->FindItemByPath(more), nullptr);
    ASSERT_TRUE(test::WaitUntil(
        [&] { return scope->FindItemByPath(more) && frame->LibraryTree()->FindItemByPath(more); }));
}

TEST_F(FrameTest, ALibraryNotWalkedAtOnceFillsTheTreesAndLocatesTheDiscWhenItsWalkIsDone) {
    frame.reset();
    drives->SetDrives({{driveDir.path(), "TOOLS", 650'000'000, false}});
    frame = std::make_unique<CMainFrame>(*doc, CMainFrame::Options{false, 0});
    // A search now would look at an empty scope: it cannot be started.
    if (frame->IsLibraryLoading()) {
        EXPECT_FALSE(frame->SearchPane()->SearchButton()->isEnabled());
    }
    frame->LocateDiscAtStart(false);
    // However the race went, the end is the same as with a walk on the spot.
    ASSERT_TRUE(test::WaitUntil([&] { return !frame->IsLibraryLoading(); }));
    const std::string tools = library + "软件/tools";
    ASSERT_NE(frame->LibraryTree()->FindItemByPath(tools), nullptr);
    EXPECT_TRUE(frame->LibraryTree()->isEnabled());
    EXPECT_TRUE(frame->SearchScopeTree()->isEnabled());
    EXPECT_TRUE(frame->SearchPane()->SearchButton()->isEnabled());
    auto* scope = static_cast<CSearchScopeTree*>(frame->SearchScopeTree());
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->RootItem()), kScopeChecked);
    EXPECT_EQ(CSearchScopeTree::CheckState(scope->FindItemByPath(library + "软件/")),
              kScopeChecked);
    ASSERT_TRUE(doc->Index().IsOpen());
    EXPECT_EQ(doc->Index().GetFilePath(), lib / "软件/tools.orb");
    EXPECT_EQ(CLibraryTree::ItemLabel(frame->LibraryTree()->currentItem()), "tools");

    // A library chosen in the settings is walked the same way, and then watched.
    test::TempDir other;
    ASSERT_EQ(::mkdir((other / "新分类").c_str(), 0755), 0);
    frame->ChangeLibraryDirectory(other.path());
    ASSERT_TRUE(test::WaitUntil([&] { return !frame->IsLibraryLoading(); }));
    const std::string category = other.path() + "/新分类/";
    EXPECT_NE(frame->LibraryTree()->FindItemByPath(category), nullptr);
    EXPECT_NE(scope->FindItemByPath(category), nullptr);
    EXPECT_EQ(frame->LibraryTree()->FindItemByPath(tools), nullptr);
    EXPECT_TRUE(frame->SearchPane()->SearchButton()->isEnabled());
    test::WriteSmallIndex(other / "新分类/new.orb", "NEW", 700'000'000);
    ASSERT_TRUE(test::WaitUntil([&] {
        return frame->LibraryTree()->FindItemByPath(category + "new") &&
               scope->FindItemByPath(category + "new");
    }));
}

TEST_F(FrameTest, PollsOfTheLibraryRunOnlyWhileTheWindowIsSeen) {
    EXPECT_TRUE(frame->LibraryWatcher()->IsPaused());  // never shown
    frame->show();
    EXPECT_FALSE(frame->LibraryWatcher()->IsPaused());
    frame->MinimizeToTray();
    ASSERT_TRUE(test::WaitUntil([&] { return frame->IsInTray(); }));
    EXPECT_TRUE(frame->LibraryWatcher()->IsPaused());
    frame->RestoreFromTray();
    ASSERT_TRUE(test::WaitUntil([&] { return !frame->IsInTray(); }));
    EXPECT_FALSE(frame->LibraryWatcher()->IsPaused());
}

TEST(AppTest, MinimizedStartAndHandOverFromASecondStart) {
    test::EnsureApp();
    test::TempDir dir;
    test::WriteSmallIndex(dir / "handed.orb", "H", 1);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    COrbApp::Options options = TestAppOptions();
    options.singleInstance = true;
    options.serverName = QStringLiteral("orb-test-%1").arg(QCoreApplication::applicationPid());
    COrbApp app(options);
    ASSERT_TRUE(app.InitInstance({QStringLiteral("/minimize")}));
    EXPECT_TRUE(app.StartedHidden());
    EXPECT_TRUE(app.Frame()->IsInTray());
    EXPECT_EQ(app.Doc()->Title(), QStringLiteral("欢迎使用"));

    CommandLine second;
    second.file = QString::fromStdString(dir / "handed.orb");
    SecondStart start(options.serverName, second.file);
    ASSERT_EQ(start.Wait(), HandOverResult::Delivered);
    ASSERT_TRUE(test::WaitUntil([&] { return app.Doc()->Index().IsOpen(); }));
    EXPECT_EQ(app.Doc()->Index().GetFilePath(), dir / "handed.orb");
    EXPECT_FALSE(app.Frame()->IsInTray());
    // Nobody listening: the second start runs on its own.
    EXPECT_EQ(COrbApp::HandOverToRunningInstance(QStringLiteral("orb-test-nobody"), second),
              HandOverResult::NoInstance);
    SetDriveSystem(nullptr);
}

TEST(UiFontTest, OneSansCjkFamilyWhereInstalledElseTheDesktopsAtItsSize) {
    const QString desktop = QStringLiteral("Cantarell");
    EXPECT_EQ(
        ChooseUiFontFamily({"DejaVu Sans", "Noto Sans CJK SC", "WenQuanYi Micro Hei"}, desktop),
        "Noto Sans CJK SC");
    EXPECT_EQ(ChooseUiFontFamily({"wenquanyi micro hei", "AR PL UMing CN"}, desktop),
              "WenQuanYi Micro Hei");
    EXPECT_EQ(ChooseUiFontFamily({"AR PL UMing CN", "Noto Serif CJK SC"}, desktop), desktop);

    // The window's trees, remark box and dialogs all use the application font.
    test::EnsureApp();
    const QFont before = QApplication::font();
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    COrbApp::Options options = TestAppOptions();
    COrbApp app(options);
    ASSERT_TRUE(app.InitInstance({}));
    const QFont font = QApplication::font();
    EXPECT_EQ(font.pointSizeF(), before.pointSizeF());
    EXPECT_EQ(font.pixelSize(), before.pixelSize());
    for (QWidget* w : {static_cast<QWidget*>(app.Frame()->RemarkView()),
                       static_cast<QWidget*>(app.Frame()->LibraryTree()),
                       static_cast<QWidget*>(app.Frame()->FavoriteTree())})
        EXPECT_EQ(w->font().family(), font.family()) << w->metaObject()->className();
    CNewDiscDlg dlg(app.Frame()->LibraryTree(), *app.Frame(), app.Frame(), "/");
    EXPECT_EQ(dlg.font().family(), font.family());
    // Body text is the desktop's size; a heading drawn at 30 pixels stays larger.
    EXPECT_EQ(SongtiFont(13), font);
    EXPECT_EQ(SongtiFont(16), font);
    const QFont heading = SongtiFont(30);
    EXPECT_EQ(heading.family(), font.family());
    EXPECT_GT(QFontInfo(heading).pixelSize(), 2 * QFontInfo(font).pixelSize());
    app.Frame()->close();
    SetDriveSystem(nullptr);
}

TEST(AboutBox, LinksGoToTheDesktopAndAMissingProgramIsNamed) {
    test::EnsureApp();
    CAboutDlg dlg;
    QList<QUrl> opened;
    bool takes = true;
    dlg.openUrl = [&](const QUrl& url) {
        opened << url;
        return takes;
    };
    auto* web = dlg.findChild<QLabel*>(QStringLiteral("1026"));
    auto* mail = dlg.findChild<QLabel*>(QStringLiteral("1027"));
    ASSERT_TRUE(web && mail);
    emit web->linkActivated(QString::fromUtf8(CAboutDlg::kWebAddress));
    emit mail->linkActivated(QStringLiteral("mailto:%1").arg(CAboutDlg::kMailAddress));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl(QString::fromUtf8(CAboutDlg::kWebAddress)));
    EXPECT_EQ(opened[1].scheme(), QStringLiteral("mailto"));
    MessageBoxCatcher boxes;
    takes = false;
    emit web->linkActivated(QString::fromUtf8(CAboutDlg::kWebAddress));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QString::fromStdString(NoOpenerText(CAboutDlg::kWebAddress)));
}

TEST(AppTest, TheWindowComesBackAsClosedWithItsIndexAndADiscInADriveIsLocated) {
    test::EnsureApp();
    OpenSettings()->clear();
    test::TempDir lib, driveDir;
    StoreLibraryDirectory(lib.path() + "/");
    test::WriteSmallIndex(lib / "tools.orb", "TOOLS", 650'000'000);
    test::WriteSmallIndex(lib / "other.orb", "OTHER", 700'000'000);
    auto drives = std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{driveDir.path(), "", 0, true}});
    SetDriveSystem(drives);
    COrbApp::Options options = TestAppOptions();
    MessageBoxCatcher boxes;
    QList<int> outerSizes;
    {
        COrbApp app(options);
        ASSERT_TRUE(app.InitInstance({}));
        CMainFrame* frame = app.Frame();
        frame->resize(760, 540);
        frame->SelectPage(kPageSearch);
        frame->findChild<QSplitter*>(QStringLiteral("outerSplitter"))->setSizes({300, 400});
        outerSizes = frame->findChild<QSplitter*>(QStringLiteral("outerSplitter"))->sizes();
        // The panes' own bars: the search page is shown, the library page is not.
        frame->SearchPane()->Splitter()->SetFirstShare(0.7);
        frame->LibraryPane()->Splitter()->SetFirstShare(0.3);
        ASSERT_TRUE(frame->OpenDocumentFile(lib / "other.orb"));
        frame->close();
    }
    {
        COrbApp app(options);
        ASSERT_TRUE(app.InitInstance({}));
        CMainFrame* frame = app.Frame();
        EXPECT_EQ(frame->size(), QSize(760, 540));
        EXPECT_EQ(frame->PanelBar()->GetSelectedItem(), kPageSearch);
        EXPECT_EQ(frame->findChild<QSplitter*>(QStringLiteral("outerSplitter"))->sizes(),
                  outerSizes);
        EXPECT_EQ(app.Doc()->PathName(), lib / "other.orb");
        EXPECT_TRUE(orb::test::WaitUntil(
            [&] { return std::abs(frame->SearchPane()->Splitter()->FirstShare() - 0.7) < 0.03; },
            5000))
            << frame->SearchPane()->Splitter()->FirstShare();
        frame->SelectPage(kPageLibrary);
        EXPECT_TRUE(orb::test::WaitUntil(
            [&] { return std::abs(frame->LibraryPane()->Splitter()->FirstShare() - 0.3) < 0.03; },
            5000))
            << frame->LibraryPane()->Splitter()->FirstShare();
        frame->close();
    }
    // The catalogued disc in the drive at start-up is opened as if just inserted.
    drives->SetDrives({{driveDir.path(), "TOOLS", 650'000'000, false}});
    {
        COrbApp app(options);
        ASSERT_TRUE(app.InitInstance({}));
        EXPECT_EQ(app.Doc()->PathName(), lib / "tools.orb");
        EXPECT_EQ(app.Frame()->PanelBar()->GetSelectedItem(), kPageLibrary);
        // A file named on the command line is what the user asked for.
        COrbApp named(options);
        ASSERT_TRUE(named.InitInstance({QString::fromStdString(lib / "other.orb")}));
        EXPECT_EQ(named.Doc()->PathName(), lib / "other.orb");
        app.Frame()->close();
        named.Frame()->close();
    }
    // A last index that is gone is skipped without a word.
    drives->SetDrives({{driveDir.path(), "", 0, true}});
    ASSERT_EQ(::unlink((lib / "other.orb").c_str()), 0);
    {
        COrbApp app(options);
        ASSERT_TRUE(app.InitInstance({}));
        EXPECT_TRUE(app.Doc()->PathName().empty());
        app.Frame()->close();
    }
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('|').toStdString();
    SetDriveSystem(nullptr);
}

TEST(AppTest, AHandOverIsAnsweredBeforeItsFailureIsShownAndTheNextOneOpens) {
    test::EnsureApp();
    test::TempDir dir;
    test::WriteSmallIndex(dir / "good.orb", "G", 1);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    COrbApp::Options options = TestAppOptions();
    options.singleInstance = true;
    options.serverName = QStringLiteral("orb-test-fail-%1").arg(QCoreApplication::applicationPid());
    COrbApp app(options);
    ASSERT_TRUE(app.InitInstance({}));

    // The message about the missing file stays open until the second start has its
    // answer: a program that opened inside the socket handler answers too late.
    std::unique_ptr<SecondStart> start;
    QStringList shown;
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && start && start->done) {
            shown << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    closer.start();
    start = std::make_unique<SecondStart>(options.serverName,
                                          QString::fromStdString(dir / "nothere.orb"));
    EXPECT_EQ(start->Wait(), HandOverResult::Delivered);
    ASSERT_TRUE(test::WaitUntil([&] { return shown.size() == 1; }));
    EXPECT_EQ(shown[0], QStringLiteral("文件打开失败"));

    start =
        std::make_unique<SecondStart>(options.serverName, QString::fromStdString(dir / "good.orb"));
    EXPECT_EQ(start->Wait(), HandOverResult::Delivered);
    ASSERT_TRUE(test::WaitUntil([&] { return app.Doc()->Index().IsOpen(); }));
    EXPECT_EQ(app.Doc()->Index().GetFilePath(), dir / "good.orb");
    SetDriveSystem(nullptr);
}

TEST(AppTest, ASecondStartGivesUpOnAProgramThatDoesNotAnswer) {
    test::EnsureApp();
    // Someone listens but never reads: the start ends instead of hanging.
    QLocalServer mute;
    const QString name = QStringLiteral("orb-test-mute-%1").arg(QCoreApplication::applicationPid());
    QLocalServer::removeServer(name);
    ASSERT_TRUE(mute.listen(name));
    SecondStart start(name, QStringLiteral("/x.orb"));
    EXPECT_EQ(start.Wait(), HandOverResult::NoAnswer);
}

TEST(AppTest, SingleInstanceSocketIsPerUserAndDisplayInTheRuntimeFolder) {
    const QString x0 = COrbApp::ServerNameFor("/run/user/1000", "/tmp", 1000, "", ":0");
    EXPECT_TRUE(x0.startsWith("/run/user/1000/"));
    EXPECT_TRUE(x0.contains("1000"));
    EXPECT_NE(x0, COrbApp::ServerNameFor("/run/user/1000", "/tmp", 1000, "", ":1"));
    EXPECT_NE(x0, COrbApp::ServerNameFor("/run/user/1000", "/tmp", 1001, "", ":0"));
    // Wayland's display names the session when there is one, even a path.
    const QString w = COrbApp::ServerNameFor("/run/user/1000", "/tmp", 1000, "/x/wayland-1", ":0");
    EXPECT_NE(w, x0);
    EXPECT_TRUE(w.startsWith("/run/user/1000/kelvane-orb-"));
    EXPECT_FALSE(w.mid(int(strlen("/run/user/1000/"))).contains('/'));
    // No runtime folder: the temporary folder.
    EXPECT_TRUE(COrbApp::ServerNameFor("", "/tmp", 1000, "", ":0").startsWith("/tmp/"));
    // From the environment.
    test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_TRUE(
        COrbApp::DefaultServerName().startsWith(QString::fromStdString(runtime.path() + "/")));
    ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(AppTest, TerminationSignalsCloseTheWindowAndSaveThePendingEdit) {
    test::EnsureApp();
    test::TempDir dir;
    test::WriteSmallIndex(dir / "notes.orb", "N", 1);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    COrbApp::Options options = TestAppOptions();
    COrbApp app(options);
    CQuitSignals quitSignals;
    ASSERT_TRUE(quitSignals.IsActive());
    QObject::connect(&quitSignals, &CQuitSignals::quitRequested, &app, &COrbApp::RequestQuit);
    ASSERT_TRUE(app.InitInstance({QString::fromStdString(dir / "notes.orb")}));
    ASSERT_EQ(app.Frame()->FileView()->SelectItemByName("readme"), 1);
    CRemarkView* remark = app.Frame()->RemarkView();
    remark->insertPlainText(QStringLiteral("typed"));
    // Ctrl+S writes the companion; so does the signal for the next edit.
    app.Frame()->Action(ID_FILE_SAVE)->trigger();
    auto onDisk = [&] {
        CIndexReader reader;
        reader.Open(dir / "notes.orb", OpenMode::ReadShareAll);
        const std::string* note = reader.FindAnnotation(remark->ShownEntryId());
        return note ? *note : std::string("(none)");
    };
    EXPECT_EQ(onDisk(), "typed");
    remark->insertPlainText(QStringLiteral(" more"));
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return !app.Frame()->isVisible(); }));
    EXPECT_EQ(onDisk(), "typed more");
    SetDriveSystem(nullptr);
}

TEST(AppTest, ShellRegistrationIsWrittenOnceAndSkippedWhenInstalled) {
    test::EnsureApp();
    test::TempDir home;
    EXPECT_TRUE(COrbApp::RegisterShellTypes(QString::fromStdString(home.path()),
                                            QStringLiteral("/opt/k/orb"), false));
    const std::string desktop = test::ReadFile(home / "applications/kelvane-orb.desktop");
    EXPECT_NE(desktop.find("MimeType=application/x-kelvane-orb;"), std::string::npos);
    EXPECT_NE(desktop.find("Exec=\"/opt/k/orb\" %f"), std::string::npos);
    EXPECT_NE(test::ReadFile(home / "mime/packages/kelvane-orb.xml").find("ORBF"),
              std::string::npos);
    EXPECT_FALSE(COrbApp::RegisterShellTypes(QString::fromStdString(home.path()),
                                             QStringLiteral("/opt/k/orb"), false));
    // Installed in a system data folder: nothing per user.
    test::TempDir fresh;
    const std::string sys = test::PrivateHome() + "/sysdata";
    std::filesystem::create_directories(sys + "/applications");
    std::filesystem::create_directories(sys + "/mime/packages");
    test::WriteFile(sys + "/applications/kelvane-orb.desktop", "x");
    test::WriteFile(sys + "/mime/packages/kelvane-orb.xml", "x");
    EXPECT_FALSE(COrbApp::RegisterShellTypes(QString::fromStdString(fresh.path()),
                                             QStringLiteral("/opt/k/orb"), false));
    EXPECT_FALSE(test::FileExists(fresh / "applications/kelvane-orb.desktop"));
    std::filesystem::remove_all(sys);
}

}  // namespace
}  // namespace orb
