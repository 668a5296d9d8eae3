// SPDX-License-Identifier: GPL-3.0-or-later
// The new disc image dialog's rules and the pop-up's motion, without windows.
#include "library/newdisc/new_disc_rules.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "library/newdisc/eject.h"
#include "platform/drives.h"
#include "platform/text.h"
#include "tests/support/test_support.h"
#include "tray_tip_rules.h"

namespace orb {
namespace {

using test::TempDir;

TEST(NewDiscRules, TextFilesOfTheRootInAnyLetterCaseSortedWithReadmeChosen) {
    EXPECT_TRUE(IsTextFileName("a.txt"));
    EXPECT_TRUE(IsTextFileName("README.TXT"));
    EXPECT_TRUE(IsTextFileName("Notes.TxT"));
    EXPECT_FALSE(IsTextFileName("a.txt.bak"));
    EXPECT_FALSE(IsTextFileName("atxt"));
    EXPECT_FALSE(IsTextFileName("txt"));

    TempDir disc;
    test::WriteFile(disc / "a.txt", "a");
    test::WriteFile(disc / "README.TXT", "r");
    test::WriteFile(disc / "b.TxT", "b");
    test::WriteFile(disc / "setup.exe", "x");
    ASSERT_EQ(::mkdir((disc / "dir.txt").c_str(), 0755), 0);  // a folder is no text file
    const std::vector<std::string> names = ListRootTextFiles(disc.path() + "/");
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.TxT", "README.TXT"}));
    EXPECT_EQ(PickRemarkFile(names), 2);
    EXPECT_EQ(PickRemarkFile({"a.txt", "z.txt"}), 0);
    EXPECT_EQ(PickRemarkFile({}), -1);
    EXPECT_TRUE(ListRootTextFiles(disc / "missing").empty());
}

TEST(NewDiscRules, NamesFromLabelsAreCheckedAndNeverTakeAnExistingIndexOrCompanion) {
    EXPECT_EQ(DiscNameFromLabel(HostToStored("工具盘 2024")), "工具盘 2024");
    EXPECT_EQ(DiscNameFromLabel("A/B\tC"), "A_B_C");
    EXPECT_EQ(CheckDiscName("MYDISC"), DiscNameProblem::None);
    EXPECT_EQ(CheckDiscName(""), DiscNameProblem::Empty);
    EXPECT_EQ(CheckDiscName("."), DiscNameProblem::Dots);
    EXPECT_EQ(CheckDiscName(".."), DiscNameProblem::Dots);
    EXPECT_EQ(CheckDiscName("a/b"), DiscNameProblem::BadCharacter);
    EXPECT_EQ(CheckDiscName(std::string("a\0b", 3)), DiscNameProblem::BadCharacter);
    EXPECT_EQ(CheckDiscName(std::string(251, 'x')), DiscNameProblem::None);
    EXPECT_EQ(CheckDiscName(std::string(252, 'x')), DiscNameProblem::TooLong);
    EXPECT_STRNE(DiscNameProblemText(DiscNameProblem::BadCharacter), "");

    TempDir lib;
    const std::string loc = lib.path() + "/";
    EXPECT_EQ(DiscIndexPath(loc, "D"), loc + "D.orb");
    EXPECT_FALSE(DiscFileTaken(loc, "MYDISC"));
    test::WriteFile(loc + "MYDISC.orb", "x");
    EXPECT_TRUE(DiscFileTaken(loc, "MYDISC"));
    EXPECT_EQ(NextFreeDiscName(loc, "MYDISC"), "MYDISC(1)");
    // An existing (1) index, or a stray companion, moves on instead of overwriting.
    test::WriteFile(loc + "MYDISC(1).orb", "x");
    test::WriteFile(loc + "MYDISC(2).orc", "x");
    EXPECT_TRUE(DiscFileTaken(loc, "MYDISC(2)"));
    EXPECT_EQ(NextFreeDiscName(loc, "MYDISC"), "MYDISC(3)");
}

TEST(NewDiscRules, RemarkSourceIsReadBoundedAndNeverWaitsOnAFifo) {
    TempDir dir;
    std::string raw, reason;
    test::WriteFile(dir / "small.txt", "hello");
    ASSERT_TRUE(ReadRemarkSource(dir / "small.txt", raw, &reason));
    EXPECT_EQ(raw, "hello");

    test::WriteFile(dir / "big.txt", std::string(3 << 20, 'a'));
    ASSERT_TRUE(ReadRemarkSource(dir / "big.txt", raw));
    EXPECT_EQ(raw.size(), kMaxRemarkBytes + 4);

    ASSERT_EQ(::mkfifo((dir / "fifo.txt").c_str(), 0644), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadRemarkSource(dir / "fifo.txt", raw, &reason));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(ReadRemarkSource(dir.path(), raw));
    EXPECT_FALSE(ReadRemarkSource(dir / "missing.txt", raw));
}

TEST(NewDiscRules, RemarkStopsAtNulConvertsUtf8KeepsGbkAndIsCutOnACharacter) {
    EXPECT_EQ(MakeRemark(std::string("abc\0def", 7), false), "abc");
    // UTF-8 text (as Linux files are) is stored as GBK.
    EXPECT_EQ(MakeRemark("说明 readme", false), HostToStored("说明 readme"));
    // The bytes of a Windows disc's GBK file stay as they are.
    const std::string gbk = HostToStored("光盘说明");
    EXPECT_EQ(MakeRemark(gbk, false), gbk);

    // A GBK file longer than the limit: the cut falls before a character that would
    // straddle it.
    std::string big = "a";
    while (big.size() < kMaxRemarkBytes + 4) big += "\xB9\xE2";  // 光
    const std::string cut = MakeRemark(big, true);
    EXPECT_EQ(cut.size(), kMaxRemarkBytes - 1);
    EXPECT_EQ(cut.substr(cut.size() - 2), "\xB9\xE2");

    // A UTF-8 file cut inside a character is still UTF-8; the cut-off tail is dropped.
    std::string utf8;
    while (utf8.size() < kMaxRemarkBytes + 4) utf8 += "说";
    utf8.resize(kMaxRemarkBytes + 4);
    const std::string stored = MakeRemark(utf8, true);
    EXPECT_LE(stored.size(), kMaxRemarkBytes);
    EXPECT_EQ(stored.size() % 2, 0u);
    EXPECT_EQ(stored.substr(0, 2), HostToStored("说"));
}

TEST(NewDiscRules, FolderDiscTakesItsNameAndFileSystemSize) {
    TempDir dir;
    const std::string folder = dir / "我的备份";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    FolderDisc disc;
    ASSERT_TRUE(DescribeFolderDisc(folder + "/", disc));
    EXPECT_EQ(disc.label, "我的备份");
    EXPECT_EQ(disc.root.back(), '/');
    EXPECT_GT(disc.capacity, 0u);
    EXPECT_FALSE(DescribeFolderDisc(dir / "missing", disc));
    test::WriteFile(dir / "file", "x");
    EXPECT_FALSE(DescribeFolderDisc(dir / "file", disc));
    SetDriveSystem(nullptr);

    EXPECT_EQ(DriveDisplayName("/media/cd/", "MYDISC", true), "MYDISC (/media/cd)");
    EXPECT_EQ(DriveDisplayName("/dev/sr0", "", false), "光盘驱动器 (/dev/sr0)");
}

TEST(NewDiscRules, CreateNeedsADriveANameAndNoOutstandingScan) {
    EXPECT_TRUE(CanCreate(true, "D", false));
    EXPECT_FALSE(CanCreate(false, "D", false));
    EXPECT_FALSE(CanCreate(true, "", false));
    EXPECT_FALSE(CanCreate(true, "D", true));
}

TEST(NewDiscRules, TheDriveThatJustGotTheDiscElseTheOnlyDiscIsPreselected) {
    const std::vector<std::string> roots = {"/dev/sr0", "/media/cd1/", "/media/cd2/"};
    EXPECT_EQ(DriveToPreselect(roots, {false, true, true}, "/media/cd2"), 2);
    EXPECT_EQ(DriveToPreselect(roots, {false, true, false}, ""), 1);
    // Two discs and no arrival named: the user chooses.
    EXPECT_EQ(DriveToPreselect(roots, {false, true, true}, ""), -1);
    EXPECT_EQ(DriveToPreselect(roots, {false, false, false}, "/media/gone/"), -1);
    EXPECT_EQ(DriveToPreselect({}, {}, ""), -1);
}

TEST(NewDiscRules, DoneLineCountsFilesAndFoldersGroupedByThousands) {
    EXPECT_EQ(ScanDoneText(0, 0), "完成：0 个文件，0 个文件夹");
    EXPECT_EQ(ScanDoneText(999, 1000), "完成：999 个文件，1,000 个文件夹");
    EXPECT_EQ(ScanDoneText(4294967295u, 123456), "完成：4,294,967,295 个文件，123,456 个文件夹");
}

TEST(EjectDisc, GoesThroughTheDriveLayerAndFailsQuietly) {
    TempDir dir;
    auto drives = std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{dir.path(), "D", 2048, false}});
    SetDriveSystem(drives);
    EXPECT_TRUE(EjectDisc(dir.path() + "/"));
    DiskGeometry g;
    EXPECT_FALSE(drives->GetDiskFreeSpace(dir.path(), g));  // the disc is out
    EXPECT_TRUE(EjectDisc(dir.path(), false));
    EXPECT_FALSE(EjectDisc(dir / "nowhere"));
    EXPECT_FALSE(EjectDisc(""));
    SetDriveSystem(nullptr);
}

TEST(TrayTipMotion, RisesHoldsAndSinksInFiftyStepsOfThreePixels) {
    TipMotion m;
    int ticks = 0;
    bool holdStarted = false;
    while (m.phase == TipPhase::Rising) {
        holdStarted = TipSlideTick(m);
        ++ticks;
    }
    EXPECT_EQ(ticks, 50);
    EXPECT_EQ(ticks * kTipStepMs, 1000);  // fully up after one second
    EXPECT_EQ(m.lift, 150);
    EXPECT_TRUE(holdStarted);
    EXPECT_EQ(m.phase, TipPhase::Holding);
    // Holding: ticks do nothing.
    EXPECT_FALSE(TipSlideTick(m));
    EXPECT_EQ(m.lift, 150);

    TipHoldElapsed(m);
    EXPECT_EQ(m.phase, TipPhase::Sinking);
    ticks = 0;
    while (m.phase == TipPhase::Sinking) {
        TipSlideTick(m);
        ++ticks;
    }
    EXPECT_EQ(ticks, 50);
    EXPECT_EQ(m.lift, 0);
    EXPECT_EQ(m.phase, TipPhase::Gone);
    // Gone about seven seconds after creation: 1 s up, 5 s held, 1 s down.
    EXPECT_EQ(2 * kTipSteps * kTipStepMs + kTipHoldMs, 7000);

    // At rest the top is 150 pixels above the area's bottom, the bottom 25 above.
    const TipPoint rest = TipWindowPos(1280, 820, 150);
    EXPECT_EQ(rest.x, 1120);
    EXPECT_EQ(rest.y, 670);
    EXPECT_EQ(820 - (rest.y + kTipHeight), 25);
    EXPECT_EQ(TipVisibleHeight(0), 0);
    EXPECT_EQ(TipVisibleHeight(60), 60);
    EXPECT_EQ(TipVisibleHeight(150), kTipHeight);
}

TEST(TrayTipMotion, MouseKeepsItUpAndButtonsSinkItFromAnyPhase) {
    TipMotion m;
    while (m.phase == TipPhase::Rising) TipSlideTick(m);
    TipMouseMoved(m);
    EXPECT_FALSE(m.holdRunning);  // stays while the mouse rests on it
    EXPECT_TRUE(TipMouseLeft(m));
    EXPECT_TRUE(m.holdRunning);  // five seconds after leaving
    EXPECT_EQ(m.phase, TipPhase::Holding);

    // The mouse already on it when the rise ends: no hold until it leaves.
    TipMotion over;
    TipMouseMoved(over);
    while (over.phase == TipPhase::Rising) EXPECT_FALSE(TipSlideTick(over));
    EXPECT_FALSE(over.holdRunning);

    // Close during the rise: sinks from where it is, 50 steps.
    TipMotion early;
    for (int i = 0; i < 10; ++i) TipSlideTick(early);
    TipStartSink(early);
    EXPECT_EQ(early.phase, TipPhase::Sinking);
    EXPECT_EQ(early.step, 0);
    while (early.phase != TipPhase::Gone) TipSlideTick(early);
    EXPECT_EQ(early.lift, 30 - 150);
    // Leaving while sinking does not bring the hold back.
    EXPECT_FALSE(TipMouseLeft(early));
}

}  // namespace
}  // namespace orb
