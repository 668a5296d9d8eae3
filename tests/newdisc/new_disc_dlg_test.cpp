// SPDX-License-Identifier: GPL-3.0-or-later
// The new disc image dialog on virtual drives, its location dialog and the pop-up:
// what the user sees and what lands in the library.
#include "library/newdisc/new_disc_dlg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <deque>

#include "index/disc_scanner.h"
#include "index/index_format.h"
#include "index/index_reader.h"
#include "library/newdisc/drive_combo_box.h"
#include "library/newdisc/library_location_dlg.h"
#include "library/newdisc/prompts.h"
#include "library/tree/library_tree.h"
#include "platform/drives.h"
#include "platform/text.h"
#include "tests/support/fake_shell.h"
#include "tests/support/qt_wait.h"
#include "tests/support/test_support.h"
#include "tray_tip.h"
#include "ui/hover_button.h"

namespace orb {
namespace {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_new_disc";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

// An index file holding only the magic and a header with the given label.
void WriteIndexHeader(const std::string& path, const std::string& storedLabel) {
    IndexHeader header;
    SetHeaderLabel(header, storedLabel);
    unsigned char buf[kHeaderSize];
    EncodeHeader(header, buf);
    test::WriteFile(path, std::string(kIndexMagic, kMagicSize) +
                              std::string(reinterpret_cast<char*>(buf), kHeaderSize));
}

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

// Constructed before the fixture's widgets.
struct AppFirst {
    AppFirst() { EnsureApp(); }
};

class NewDiscDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        lib = tmp / "lib";
        MakeDir(lib);
        MakeDir(lib + "/A");
        disc = tmp / "disc";
        MakeDir(disc);
        MakeDir(tmp / "empty");
        table = tmp / "drives.tab";
        WriteTable({{disc, "MYDISC", 2048 * 100, false}, {tmp / "empty", "", 0, true}});
        ::setenv("ORB_VIRTUAL_DRIVES", table.c_str(), 1);
        drives = std::make_shared<CVirtualDriveSystem>();
        drives->FollowTableFile(table);
        SetDriveSystem(drives);
        tree.FillLibrary(lib);
        SetNewDiscPromptHandler([this](QWidget*, const NewDiscPrompt& p) {
            prompts.push_back(p);
            if (onPrompt) onPrompt(p);
            if (answers.empty()) return true;
            bool a = answers.front();
            answers.pop_front();
            return a;
        });
    }
    void TearDown() override {
        SetNewDiscPromptHandler({});
        SetDriveSystem(nullptr);
        ::unsetenv("ORB_VIRTUAL_DRIVES");
    }
    // Replaces the table file as an editor would (a new file renamed over it).
    void WriteTable(const std::vector<VirtualDrive>& list) {
        test::WriteFile(table + ".new", CVirtualDriveTable::Format(list));
        ASSERT_EQ(::rename((table + ".new").c_str(), table.c_str()), 0);
    }
    bool Prompted(const QString& part) const {
        for (const NewDiscPrompt& p : prompts)
            if (p.text.contains(part)) return true;
        return false;
    }
    std::string Name(const CNewDiscDlg& d) const { return d.NameEdit()->text().toStdString(); }

    AppFirst app;
    test::TempDir tmp;
    std::string lib, disc, table;
    std::shared_ptr<CVirtualDriveSystem> drives;
    CLibraryTree tree;
    test::CFakeShell shell;
    std::vector<NewDiscPrompt> prompts;
    std::deque<bool> answers;
    std::function<void(const NewDiscPrompt&)> onPrompt;
};

TEST_F(NewDiscDlgTest, NoCdDriveAtAllShowsTheMessageNamingTheFolderCommand) {
    WriteTable({});
    EXPECT_FALSE(CNewDiscDlg::CanRun(&shell.window));
    CNewDiscDlg dlg(&tree, shell, &shell.window);
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    ASSERT_EQ(prompts.size(), 2u);
    for (const NewDiscPrompt& p : prompts) {
        EXPECT_EQ(p.caption, "提示");
        EXPECT_TRUE(p.text.startsWith("没有安装光驱，不能创建Kelvane光盘助手映象!"));
        EXPECT_TRUE(p.text.contains("从文件夹新建光盘映象..."));
    }
    WriteTable({{disc, "MYDISC", 2048 * 100, false}});
    EXPECT_TRUE(CNewDiscDlg::CanRun(&shell.window));
    EXPECT_EQ(prompts.size(), 2u);
}

TEST_F(NewDiscDlgTest, SaveLocationFollowsTheLibrarySelection) {
    WriteIndexHeader(lib + "/A/X.orb", "X");
    tree.FillLibrary("");
    {
        CNewDiscDlg dlg(&tree, shell, nullptr);
        EXPECT_EQ(dlg.SaveLocation(), lib + "/");  // nothing selected: the root
        EXPECT_EQ(dlg.DriveList()->count(), 2);
        EXPECT_EQ(dlg.DriveList()->currentIndex(), -1);
        EXPECT_FALSE(dlg.CreateButton()->isEnabled());
        EXPECT_TRUE(dlg.RemarkCheck()->isChecked());
        EXPECT_FALSE(dlg.EjectCheck()->isChecked());
        EXPECT_EQ(dlg.DriveList()->itemText(0).toStdString(), "MYDISC (" + disc + ")");
        EXPECT_EQ(dlg.DriveList()->DriveOf(0), disc + "/");
    }
    tree.SelectItemByPath(lib + "/A/X");
    CNewDiscDlg onDisc(&tree, shell, nullptr);
    EXPECT_EQ(onDisc.SaveLocation(), lib + "/A/");
    EXPECT_EQ(onDisc.LocationEdit()->text().toStdString(), lib + "/A/");
}

TEST_F(NewDiscDlgTest, DriveChoiceProposesAFreeNameAndTheReadmeAndNeedsADrive) {
    test::WriteFile(disc + "/a.txt", "a");
    test::WriteFile(disc + "/README.TXT", "r");
    test::WriteFile(disc + "/setup.exe", "x");
    WriteIndexHeader(lib + "/MYDISC.orb", "OTHER");
    WriteIndexHeader(lib + "/MYDISC(1).orb", "OTHER");
    tree.FillLibrary("");
    CNewDiscDlg dlg(&tree, shell, nullptr);

    // A typed name without a drive does not make "创建" usable.
    dlg.NameEdit()->setText("typed");
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());

    dlg.ChooseDrive(0);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "警告");
    EXPECT_EQ(prompts[0].text, "在当前目录下已经存在一个相同文件名的光盘文件");
    EXPECT_EQ(Name(dlg), "MYDISC(2)");  // (1) exists too: never overwrite it
    ASSERT_EQ(dlg.TextFileList()->count(), 2);
    EXPECT_EQ(dlg.TextFileList()->itemText(0), "a.txt");
    EXPECT_EQ(dlg.TextFileList()->currentText(), "README.TXT");
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
    dlg.NameEdit()->clear();
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());

    // The empty drive: no name, no text files, no "创建".
    dlg.ChooseDrive(1);
    EXPECT_EQ(Name(dlg), "");
    EXPECT_EQ(dlg.TextFileList()->count(), 0);
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());
    EXPECT_EQ(prompts.size(), 1u);

    // A name typed over an existing index is refused with the warning and moved on.
    dlg.ChooseDrive(0);
    dlg.NameEdit()->setText("MYDISC(1)");
    prompts.clear();
    dlg.OnCreate();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "警告");
    EXPECT_EQ(Name(dlg), "MYDISC(1)(1)");
    EXPECT_FALSE(dlg.ScanOutstanding());
    // A bad name is refused before anything is touched.
    dlg.NameEdit()->setText("a/b");
    dlg.OnCreate();
    EXPECT_TRUE(Prompted("/"));
    EXPECT_FALSE(dlg.ScanOutstanding());
}

TEST_F(NewDiscDlgTest, ScannerRefusalIsShownAndTheDialogStaysReady) {
    CNewDiscDlg dlg(&tree, shell, nullptr);
    dlg.ChooseDrive(0);
    // The disc is taken out between the choice and "创建".
    WriteTable({{disc, "", 0, true}, {tmp / "empty", "", 0, true}});
    dlg.OnCreate();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "错误");
    EXPECT_EQ(prompts[0].text, "驱动器中没有磁盘");
    EXPECT_FALSE(dlg.ScanOutstanding());
    EXPECT_EQ(dlg.ExitButton()->text(), "退出");
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
    EXPECT_FALSE(test::FileExists(lib + "/MYDISC.orb"));
}

TEST_F(NewDiscDlgTest, SameLabelInTheLibraryAsksAndCancelClearsTheChoice) {
    WriteIndexHeader(lib + "/A/old.orb", "MYDISC");
    tree.FillLibrary("");
    CNewDiscDlg dlg(&tree, shell, nullptr);
    answers = {false};
    dlg.ChooseDrive(0);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].kind, NewDiscPrompt::Question);
    EXPECT_EQ(prompts[0].text.toStdString(),
              "在当前光盘库找到一个与目标光盘卷标相同的光盘索引！\n位置:" + lib +
                  "/A/old.orb\n确定继续吗?");
    EXPECT_EQ(dlg.DriveList()->currentIndex(), -1);
    EXPECT_EQ(Name(dlg), "");
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());

    dlg.ChooseDrive(0);  // OK this time
    EXPECT_EQ(Name(dlg), "MYDISC");
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
}

TEST_F(NewDiscDlgTest, CompletionInsertsTheScannedFileWritesItsRemarkAndEjects) {
    test::WriteFile(disc + "/readme.txt", "光盘说明\n第二行");
    for (int i = 0; i < 30; ++i) test::WriteFile(disc + "/f" + std::to_string(i), "x");
    tree.SelectItemByPath(lib + "/A");
    CNewDiscDlg dlg(&tree, shell, nullptr);
    dlg.EjectCheck()->setChecked(true);
    dlg.ChooseDrive(0);
    ASSERT_EQ(Name(dlg), "MYDISC");

    // Name and location edited while the scan runs: the completion still names and
    // annotates the file the scan writes.
    bool edited = false;
    QObject::connect(dlg.CollectBar(), &QProgressBar::valueChanged, [&](int v) {
        if (v > 0 && !edited) {
            edited = true;
            EXPECT_EQ(dlg.ExitButton()->text(), "中止");
            EXPECT_FALSE(dlg.CreateButton()->isEnabled());
            dlg.NameEdit()->setText("OTHER");
            dlg.SetSaveLocation(lib + "/");
        }
    });
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(dlg.ScanOutstanding());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_DONE));
    EXPECT_TRUE(edited);
    EXPECT_EQ(dlg.ExitButton()->text(), "退出");
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());  // until the next choice or edit
    EXPECT_EQ(dlg.CollectBar()->value(), 100);
    EXPECT_EQ(dlg.SaveBar()->value(), 100);

    QTreeWidgetItem* a = tree.FindItemByPath(lib + "/A");
    ASSERT_NE(a, nullptr);
    QTreeWidgetItem* item = tree.FindItemByPath(lib + "/A/MYDISC");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->parent(), a);
    EXPECT_EQ(tree.FindItemByPath(lib + "/OTHER"), nullptr);
    EXPECT_FALSE(test::FileExists(lib + "/OTHER.orb"));

    CIndexReader reader;
    ASSERT_EQ(reader.Open(lib + "/A/MYDISC.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(reader.GetFileCount(), 31u);
    std::string remark;
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, HostToStored("光盘说明\n第二行"));
    reader.Close();

    // The disc was ejected (off the window's thread).
    ASSERT_TRUE(orb::test::WaitUntil(
        [&] {
            DiskGeometry g;
            return !drives->GetDiskFreeSpace(disc, g);
        },
        10000))
        << "the disc was not ejected";
    EXPECT_TRUE(prompts.empty());
    // Typing a name makes "创建" usable again.
    EXPECT_FALSE(dlg.CreateButton()->isEnabled());
    QTest::keyClicks(dlg.NameEdit(), "2");
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
}

TEST_F(NewDiscDlgTest, StopDuringListingLeavesNoFileAndExitWaitsForTheFinalStatus) {
    // Each file is one percent of the disc, so each one moves the collect bar.
    for (int i = 0; i < 40; ++i) test::WriteFile(disc + "/f" + std::to_string(i), "x");
    CNewDiscDlg dlg(&tree, shell, nullptr);
    dlg.show();
    dlg.ChooseDrive(0);
    const std::string out = lib + "/MYDISC.orb";

    bool stopped = false;
    QObject::connect(dlg.CollectBar(), &QProgressBar::valueChanged, [&](int v) {
        if (v == 0 || stopped) return;
        stopped = true;
        // The worker waits in this very message: the stop lands while listing.
        answers = {false};
        dlg.reject();  // "确定要中止吗？" answered Cancel: the scan goes on
        EXPECT_TRUE(dlg.IsScanning());
        EXPECT_EQ(dlg.ExitButton()->text(), "中止");
        dlg.reject();  // answered OK
        EXPECT_FALSE(dlg.IsScanning());
        EXPECT_TRUE(dlg.ScanOutstanding());
        EXPECT_EQ(dlg.ExitButton()->text(), "退出");
        EXPECT_EQ(dlg.CollectBar()->value(), 0);
        EXPECT_EQ(dlg.SaveBar()->value(), 0);
        // "退出" now closes only once the worker has sent its last message.
        dlg.reject();
        EXPECT_TRUE(dlg.isVisible());
    });
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_ABORTED));
    EXPECT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].text, "确定要中止吗？");
    EXPECT_FALSE(test::FileExists(out));
    EXPECT_FALSE(test::FileExists(out + ".tmp"));
    EXPECT_EQ(tree.FindItemByPath(lib + "/MYDISC"), nullptr);
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
    ASSERT_TRUE(orb::test::WaitUntil([&] { return !dlg.isVisible(); }, 10000))
        << "waited for: !dlg.isVisible()";
}

TEST_F(NewDiscDlgTest, UnreadableTextFileDoesNotStopTheCompletion) {
    ASSERT_EQ(::mkfifo((disc + "/readme.txt").c_str(), 0644), 0);
    CNewDiscDlg dlg(&tree, shell, nullptr);
    dlg.ChooseDrive(0);
    ASSERT_EQ(dlg.TextFileList()->currentText(), "readme.txt");
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_NE(tree.FindItemByPath(lib + "/MYDISC"), nullptr);
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Prompted("无法读取文本文件"); }, 10000))
        << "waited for: Prompted(\"无法读取文本文件\")";
    CIndexReader reader;
    ASSERT_EQ(reader.Open(lib + "/MYDISC.orb", OpenMode::ReadShareAll), 1);
    std::string remark;
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, "");
}

TEST_F(NewDiscDlgTest, DriveChangeRefreshesOneSecondAfterwards) {
    CNewDiscDlg dlg(&tree, shell, nullptr);
    dlg.ChooseDrive(0);
    ASSERT_EQ(Name(dlg), "MYDISC");

    // Another disc in the same drive.
    QElapsedTimer clock;
    clock.start();
    WriteTable({{disc, "NEWDISC", 2048 * 100, false}, {tmp / "empty", "", 0, true}});
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Name(dlg) == "NEWDISC"; }, 10000))
        << "waited for: Name(dlg) == \"NEWDISC\"";
    EXPECT_GE(clock.elapsed(), CNewDiscDlg::kRefreshDelayMs - 5);
    EXPECT_EQ(dlg.DriveList()->currentIndex(), 0);
    EXPECT_EQ(dlg.DriveList()->itemText(0).toStdString(), "NEWDISC (" + disc + ")");

    // A disc in another drive: the list is refilled, the chosen disc and the name
    // typed for it stay.
    dlg.NameEdit()->setText("typed");
    const std::string other = tmp / "other";
    MakeDir(other);
    WriteTable({{disc, "NEWDISC", 2048 * 100, false},
                {tmp / "empty", "", 0, true},
                {other, "THIRD", 2048, false}});
    ASSERT_TRUE(orb::test::WaitUntil([&] { return dlg.DriveList()->count() == 3; }, 10000))
        << "waited for: dlg.DriveList()->count() == 3";
    EXPECT_EQ(Name(dlg), "typed");
    EXPECT_EQ(dlg.DriveList()->currentIndex(), 0);
    EXPECT_TRUE(dlg.CreateButton()->isEnabled());
    EXPECT_TRUE(prompts.empty());
}

TEST_F(NewDiscDlgTest, FolderModeCataloguesAFolderAsItsOwnDrive) {
    WriteTable({});  // no CD drive at all
    const std::string folder = tmp / "备份盘";
    MakeDir(folder);
    MakeDir(folder + "/docs");
    test::WriteFile(folder + "/docs/a.doc", "d");
    test::WriteFile(folder + "/Readme.txt", "folder notes");
    const std::shared_ptr<IDriveSystem> before = Drives();

    CNewDiscDlg dlg(&tree, shell, nullptr, folder);
    EXPECT_TRUE(dlg.IsFolderMode());
    ASSERT_EQ(dlg.DriveList()->count(), 1);
    EXPECT_EQ(dlg.DriveList()->itemText(0).toStdString(), folder);
    EXPECT_FALSE(dlg.EjectCheck()->isEnabled());
    dlg.show();  // the folder is taken as soon as the dialog is up
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Name(dlg) == std::string("备份盘"); }, 10000))
        << "waited for: Name(dlg) == std::string(\"备份盘\")";
    EXPECT_EQ(dlg.TextFileList()->currentText(), "Readme.txt");

    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_DONE));
    EXPECT_EQ(Drives(), before);  // the folder was a drive only for the scanner's start
    EXPECT_NE(tree.FindItemByPath(lib + "/备份盘"), nullptr);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(lib + "/备份盘.orb", OpenMode::ReadShareAll), 1);
    std::string label, remark;
    reader.GetVolumeLabel(label);
    EXPECT_EQ(label, HostToStored("备份盘"));
    EXPECT_GT(reader.GetCapacity(), 0u);
    EXPECT_EQ(reader.GetFileCount(), 2u);
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, "folder notes");
    reader.Close();

    // The dialog says it is done, with the counts, and offers the new index.
    EXPECT_EQ(dlg.CollectBar()->maximum(), 100);
    EXPECT_EQ(dlg.CollectBar()->value(), 100);
    EXPECT_TRUE(dlg.DoneLabel()->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.DoneLabel()->text(), QStringLiteral("完成：2 个文件，1 个文件夹"));
    ASSERT_TRUE(dlg.OpenIndexButton()->isVisibleTo(&dlg));
    dlg.OpenIndexButton()->click();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], lib + "/备份盘.orb");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(NewDiscDlgTest, FolderModeStoppedAtOnceLeavesNoMovingBarAndNoDoneLine) {
    const std::string folder = tmp / "stick";
    MakeDir(folder);
    for (int i = 0; i < 50; ++i) test::WriteFile(folder + "/f" + std::to_string(i), "x");
    CNewDiscDlg dlg(&tree, shell, nullptr, folder);
    dlg.show();
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Name(dlg) == std::string("stick"); }, 10000))
        << "waited for: Name(dlg) == std::string(\"stick\")";
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    answers = {true};
    dlg.reject();  // "确定要中止吗？" before the worker's first message is handled
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_ABORTED));
    EXPECT_EQ(dlg.CollectBar()->maximum(), 100);  // measured again, not moving
    EXPECT_EQ(dlg.CollectBar()->value(), 0);
    EXPECT_FALSE(dlg.DoneLabel()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.OpenIndexButton()->isVisibleTo(&dlg));
}

TEST_F(NewDiscDlgTest, AScanThatCouldNotReadEverythingSaysSoWithTheList) {
    WriteTable({});
    const std::string folder = tmp / "scratched";
    MakeDir(folder);
    test::WriteFile(folder + "/ok.txt", "fine");
    // A chain whose full path passes PATH_MAX: its innermost level cannot be
    // listed by path, also not as root.
    const std::string seg(200, 'd');
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 25; ++depth) {
        ASSERT_EQ(::mkdirat(fd, seg.c_str(), 0755), 0);
        const int next = ::openat(fd, seg.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);

    CNewDiscDlg dlg(&tree, shell, nullptr, folder);
    dlg.show();
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Name(dlg) == std::string("scratched"); }, 10000))
        << "waited for: Name(dlg) == std::string(\"scratched\")";
    EXPECT_TRUE(dlg.UnreadableLabel()->isHidden());
    EXPECT_TRUE(dlg.UnreadableButton()->isHidden());
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_DONE));
    EXPECT_TRUE(test::FileExists(lib + "/scratched.orb"));  // the index is made all the same
    EXPECT_FALSE(dlg.UnreadableLabel()->isHidden());
    EXPECT_FALSE(dlg.UnreadableButton()->isHidden());
    EXPECT_TRUE(dlg.UnreadableLabel()->text().contains(QStringLiteral("1 个目录")))
        << dlg.UnreadableLabel()->text().toStdString();
    EXPECT_EQ(dlg.UnreadableButton()->text(), QStringLiteral("详情"));
    const QStringList lines = dlg.UnreadableDetailsText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QString::fromStdString(folder + "/" + seg + "/")));
}

TEST_F(NewDiscDlgTest, ImageModeCataloguesAnImageFileWithItsReadmeAndRefusesADamagedOne) {
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xorriso";
    WriteTable({});  // no CD drive needed
    const std::string src = tmp / "src";
    MakeDir(src);
    MakeDir(src + "/docs");
    test::WriteFile(src + "/docs/a.doc", "d");
    test::WriteFile(src + "/README.TXT", "image notes");
    const std::string image = tmp / "安装盘.iso";
    ASSERT_EQ(std::system(("xorriso -as mkisofs -R -J -V 安装盘V1 -o '" + image + "' '" + src +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0);

    CNewDiscDlg dlg(&tree, shell, nullptr, image);
    EXPECT_TRUE(dlg.IsImageMode());
    EXPECT_FALSE(dlg.EjectCheck()->isEnabled());
    dlg.show();
    ASSERT_TRUE(orb::test::WaitUntil([&] { return Name(dlg) == std::string("安装盘V1"); }, 10000))
        << "waited for: Name(dlg) == std::string(\"安装盘V1\")";
    QSignalSpy finished(&dlg, &CNewDiscDlg::ScanFinished);
    dlg.OnCreate();
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(SCAN_DONE));
    EXPECT_EQ(dlg.CollectBar()->value(), 100);
    EXPECT_EQ(dlg.SaveBar()->value(), 100);
    EXPECT_NE(tree.FindItemByPath(lib + "/安装盘V1"), nullptr);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(lib + "/安装盘V1.orb", OpenMode::ReadShareAll), 1);
    std::string label, remark;
    reader.GetVolumeLabel(label);
    EXPECT_EQ(label, HostToStored("安装盘V1"));
    EXPECT_EQ(reader.GetFileCount(), 2u);
    EXPECT_EQ(reader.GetDirectoryCount(), 1u);
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, "image notes");
    reader.Close();

    // Cut after its volume descriptors: the label is there, the tree is not. The
    // scan fails with the reader's message and leaves no index behind.
    const std::string cut = tmp / "cut.iso";
    test::WriteFile(cut, test::ReadFile(image).substr(0, 19 * 2048));
    CNewDiscDlg bad(&tree, shell, nullptr, cut);
    bad.show();
    ASSERT_TRUE(
        orb::test::WaitUntil([&] { return Name(bad) == std::string("安装盘V1(1)"); }, 10000))
        << "waited for: Name(bad) == std::string(\"安装盘V1(1)\")";
    QSignalSpy failed(&bad, &CNewDiscDlg::ScanFinished);
    bad.OnCreate();
    ASSERT_TRUE(failed.wait(10000));
    EXPECT_EQ(failed.at(0).at(0).toInt(), static_cast<int>(SCAN_FAILED));
    ASSERT_TRUE(
        orb::test::WaitUntil([&] { return Prompted(QStringLiteral("映象文件已损坏")); }, 10000))
        << "waited for: Prompted(QStringLiteral(\"映象文件已损坏\"))";
    EXPECT_FALSE(test::FileExists(lib + "/安装盘V1(1).orb"));
}

TEST_F(NewDiscDlgTest, LocationDialogListsCategoriesAndReturnsTheChosenPath) {
    WriteIndexHeader(lib + "/A/X.orb", "X");
    MakeDir(lib + "/A/B");
    tree.FillLibrary("");
    CLibraryLocationDlg dlg(&tree, nullptr);
    EXPECT_EQ(dlg.SelectedPath(), lib + "/");
    EXPECT_EQ(dlg.Tree()->FindItemByPath(lib + "/A/X"), nullptr);  // no discs
    ASSERT_TRUE(dlg.SelectPath(lib + "/A/B/"));
    EXPECT_EQ(dlg.SelectedPath(), lib + "/A/B/");
    EXPECT_FALSE(dlg.SelectPath(lib + "/nowhere/"));
    EXPECT_EQ(dlg.SelectedPath(), lib + "/A/B/");
}

TEST(TrayTipCtrl, AddButtonRestoresTheWindowOpensTheDialogAndTheTipSinksAway) {
    EnsureApp();
    test::CFakeShell shell;
    shell.inTray = true;
    QPointer<CTrayTipCtrl> tip = new CTrayTipCtrl(shell, &shell.window);
    tip->show();
    EXPECT_EQ(tip->CloseButton()->size(), QSize(17, 17));
    EXPECT_EQ(tip->AddButton()->geometry(), QRect(30, 80, 100, 20));
    // The image buttons have names a screen reader can say.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(tip->AddButton())->text(QAccessible::Name),
              QStringLiteral("新建光盘映象"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(tip->CloseButton())->text(QAccessible::Name),
              QStringLiteral("关闭"));
    ASSERT_TRUE(
        orb::test::WaitUntil([&] { return tip->Motion().phase == TipPhase::Holding; }, 10000))
        << "waited for: tip->Motion().phase == TipPhase::Holding";
    EXPECT_TRUE(tip->HoldTimerActive());
    EXPECT_EQ(tip->y() + 150, tip->screen()->availableGeometry().bottom() + 1);

    QTest::mouseClick(tip->AddButton(), Qt::LeftButton);
    EXPECT_EQ(tip->Motion().phase, TipPhase::Sinking);
    ASSERT_TRUE(orb::test::WaitUntil([&] { return shell.restores == 1; }, 10000))
        << "waited for: shell.restores == 1";
    ASSERT_EQ(shell.newDiscDialogs.size(), 1u);
    EXPECT_EQ(shell.newDiscDialogs[0], "");
    EXPECT_FALSE(shell.inTray);
    ASSERT_TRUE(orb::test::WaitUntil([&] { return tip.isNull(); }, 10000))
        << "waited for: tip.isNull()";  // gone after the sink
}

TEST(TrayTipCtrl, CloseButtonSinksAndTheOwnerTakesThePopUpAlong) {
    EnsureApp();
    test::CFakeShell shell;
    QPointer<CTrayTipCtrl> tip = new CTrayTipCtrl(shell, &shell.window);
    tip->show();
    QTest::mouseClick(tip->CloseButton(), Qt::LeftButton);
    EXPECT_EQ(tip->Motion().phase, TipPhase::Sinking);
    ASSERT_TRUE(orb::test::WaitUntil([&] { return tip.isNull(); }, 10000))
        << "waited for: tip.isNull()";
    EXPECT_EQ(shell.restores, 0);
    EXPECT_TRUE(shell.newDiscDialogs.empty());

    auto owner = std::make_unique<QWidget>();
    QPointer<CTrayTipCtrl> owned = new CTrayTipCtrl(shell, owner.get());
    owned->show();
    owner.reset();
    ASSERT_TRUE(orb::test::WaitUntil([&] { return owned.isNull(); }, 10000))
        << "waited for: owned.isNull()";
}

}  // namespace
}  // namespace orb
