// SPDX-License-Identifier: GPL-3.0-or-later
// The application's rules without a window: command line, library directory,
// recent files, autostart, drive arrivals, finding a disc, moving without replacing,
// and the index document.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "frame_rules.h"
#include "index/doc/orb_doc.h"
#include "index/index_format.h"
#include "library/tree/library_tree.h"
#include "platform/drives.h"
#include "shell/app_settings.h"
#include "tests/app/app_test_util.h"
#include "tests/support/qt_wait.h"

namespace orb {
namespace {

TEST(CommandLine, MinimizeIsExactAndAlone) {
    EXPECT_TRUE(ParseCommandLine({QStringLiteral("/minimize")}).startHidden);
    EXPECT_TRUE(ParseCommandLine({QStringLiteral("/minimize")}).file.isEmpty());
    // Another spelling is an unknown switch: a visible start with a new document.
    const CommandLine upper = ParseCommandLine({QStringLiteral("/MINIMIZE")});
    EXPECT_FALSE(upper.startHidden);
    EXPECT_TRUE(upper.file.isEmpty());
    // With a path the standard rules apply: the path is opened, the window shown.
    const CommandLine both =
        ParseCommandLine({QStringLiteral("/minimize"), QStringLiteral("/data/disc.orb")});
    EXPECT_FALSE(both.startHidden);
    EXPECT_EQ(both.file, QStringLiteral("/data/disc.orb"));
    EXPECT_EQ(ParseCommandLine({QStringLiteral("/x.orb")}).file, QStringLiteral("/x.orb"));
    EXPECT_TRUE(ParseCommandLine({}).file.isEmpty());
}

TEST(SyncPaths, ExtensionIsCutByNameNotByLength) {
    EXPECT_EQ(StripExtension("/lib/a/disc.orb"), "/lib/a/disc");
    EXPECT_EQ(StripExtension("/lib/a/DISC.ORB"), "/lib/a/DISC");
    // Four characters off "x.index" would leave "x.i".
    EXPECT_EQ(StripExtension("/lib/x.index"), "/lib/x");
    EXPECT_EQ(StripExtension("/lib.d/noext"), "/lib.d/noext");
    EXPECT_EQ(FileNameOf("/lib/a/disc.orb"), "disc.orb");
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        OpenSettings()->clear();
    }
};

TEST_F(SettingsTest, DefaultsOfTheStoredValues) {
    EXPECT_EQ(ReadSettingInt(kKeyAutoLocate, 1), 1);
    WriteSettingInt(kKeyAutoLocate, 0);
    EXPECT_EQ(ReadSettingInt(kKeyAutoLocate, 1), 0);
    EXPECT_TRUE(ReadRecentFiles().isEmpty());
}

TEST_F(SettingsTest, LibraryDirectoryRule) {
    test::TempDir exe;
    // Missing: the default in the home is created and stored, with '/'; nothing is
    // made beside the executable (a build tree is wiped by a clean rebuild).
    const std::string def = GetLibraryDirectory(exe.path() + "/");
    EXPECT_EQ(def, test::PrivateHome() + "/Kelvane光盘库/");
    struct stat st {};
    ASSERT_EQ(::stat(def.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_NE(::stat((exe / "Kelvane光盘库").c_str(), &st), 0);
    // The stored default is kept even when a portable library appears later.
    ASSERT_EQ(::mkdir((exe / "Kelvane光盘库").c_str(), 0755), 0);
    EXPECT_EQ(GetLibraryDirectory(exe.path() + "/"), def);
    // Portable use: a library folder already beside the program is the default.
    OpenSettings()->clear();
    EXPECT_EQ(GetLibraryDirectory(exe.path() + "/"), exe.path() + "/Kelvane光盘库/");
    OpenSettings()->clear();
    test::TempDir bare;
    test::WriteFile(bare / "Kelvane光盘库", "a file, not a library");
    EXPECT_EQ(GetLibraryDirectory(bare.path() + "/"), def);
    // A stored directory is returned unchanged, without a trailing '/'.
    StoreLibraryDirectory(exe.path());
    EXPECT_EQ(GetLibraryDirectory(exe.path() + "/"), exe.path());
    // A file in its place is replaced by the default.
    test::WriteFile(exe / "afile", "x");
    StoreLibraryDirectory(exe / "afile");
    EXPECT_EQ(GetLibraryDirectory(bare.path() + "/"), def);
    // An executable folder that cannot be written: the library goes to the home.
    test::TempDir ro;
    ASSERT_EQ(::chmod(ro.path().c_str(), 0555), 0);
    if (::access(ro.path().c_str(), W_OK) != 0) {
        OpenSettings()->clear();
        EXPECT_EQ(GetLibraryDirectory(ro.path() + "/"), test::PrivateHome() + "/Kelvane光盘库/");
    }
}

TEST_F(SettingsTest, RecentFilesKeepFourMostRecentFirst) {
    QStringList list;
    for (const char* p : {"/a.orb", "/b.orb", "/c.orb", "/d.orb", "/e.orb", "/c.orb"})
        list = AddRecentFile(list, QString::fromUtf8(p));
    EXPECT_EQ(list, (QStringList{"/c.orb", "/e.orb", "/d.orb", "/b.orb"}));
    WriteRecentFiles(list);
    EXPECT_EQ(ReadRecentFiles(), list);
    WriteRecentFiles({QStringLiteral("/x.orb")});
    EXPECT_EQ(ReadRecentFiles(), QStringList{QStringLiteral("/x.orb")});
}

TEST_F(SettingsTest, WindowMemoryRoundTripsAndIsEmptyWhenNeverStored) {
    const WindowMemory none = ReadWindowMemory();
    EXPECT_TRUE(none.geometry.isEmpty());
    EXPECT_EQ(none.page, -1);
    EXPECT_TRUE(none.lastIndex.isEmpty());
    WindowMemory m;
    m.geometry = QByteArray("\x01\x02\x00g", 4);
    m.docks = "d";
    m.outerSplitter = "o";
    m.innerSplitter = "i";
    m.page = 2;
    m.paneShares[1] = 0.25;
    m.lastIndex = QStringLiteral("/库/光盘.orb");
    WriteWindowMemory(m);
    const WindowMemory back = ReadWindowMemory();
    EXPECT_EQ(back.geometry, m.geometry);
    EXPECT_EQ(back.docks, m.docks);
    EXPECT_EQ(back.outerSplitter, m.outerSplitter);
    EXPECT_EQ(back.innerSplitter, m.innerSplitter);
    EXPECT_EQ(back.page, 2);
    EXPECT_EQ(back.paneShares[0], -1);  // never set: the pane keeps its own layout
    EXPECT_DOUBLE_EQ(back.paneShares[1], 0.25);
    EXPECT_EQ(back.lastIndex, m.lastIndex);
    // Closing with no index open forgets the last one.
    m.lastIndex.clear();
    WriteWindowMemory(m);
    EXPECT_TRUE(ReadWindowMemory().lastIndex.isEmpty());
}

TEST_F(SettingsTest, AutostartEntryExistsOnlyWhileOn) {
    const std::string exe = "/opt/my programs/orb";
    ASSERT_TRUE(SetAutostartEnabled(true, exe));
    EXPECT_TRUE(IsAutostartEnabled());
    const std::string text = test::ReadFile(AutostartFilePath());
    EXPECT_NE(text.find("Exec=\"/opt/my programs/orb\" /minimize\n"), std::string::npos) << text;
    ASSERT_TRUE(SetAutostartEnabled(false, exe));
    EXPECT_FALSE(IsAutostartEnabled());
    EXPECT_TRUE(SetAutostartEnabled(false, exe));
}

std::shared_ptr<CVirtualDriveSystem> InstallDrives(std::vector<VirtualDrive> drives) {
    auto system = std::make_shared<CVirtualDriveSystem>(std::move(drives));
    SetDriveSystem(system);
    return system;
}

TEST(DriveArrival, ANewOrChangedDiscIsAnArrivalARemovalIsNot) {
    test::TempDir dir, dir2;
    auto drives = InstallDrives({{dir.path(), "", 0, true}, {dir2.path(), "B", 2048, false}});
    // An empty drive holds no readable disc.
    std::vector<DiscInDrive> before = DiscsInDrives(*drives);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].storedLabel, "B");
    drives->SetDrives({{dir.path(), "A", 4096, false}, {dir2.path(), "B", 2048, false}});
    std::vector<DiscInDrive> after = DiscsInDrives(*drives);
    EXPECT_TRUE(HasArrival(before, after));
    EXPECT_FALSE(HasArrival(after, before));
    EXPECT_FALSE(HasArrival(after, after));
    // Another disc in the same drive is an arrival too.
    drives->SetDrives({{dir.path(), "A2", 4096, false}, {dir2.path(), "B", 2048, false}});
    EXPECT_TRUE(HasArrival(after, DiscsInDrives(*drives)));
    SetDriveSystem(nullptr);
}

TEST(DriveChangeRule, ExaminesTheFirstDiscOnlyOnAnArrivalNobodyElseHandles) {
    const std::vector<DiscInDrive> none;
    const std::vector<DiscInDrive> one{{"/a", "A", 1}};
    const std::vector<DiscInDrive> two{{"/b", "B", 2}, {"/a", "A", 1}};
    // The second drive got the disc; the first drive holding one is examined.
    ASSERT_NE(DiscToExamine(one, two, false, true, false), nullptr);
    EXPECT_EQ(DiscToExamine(one, two, false, true, false)->root, "/b");
    EXPECT_EQ(DiscToExamine(two, one, false, true, false), nullptr);    // a removal
    EXPECT_EQ(DiscToExamine(none, one, true, true, false), nullptr);    // shown disc in a drive
    EXPECT_EQ(DiscToExamine(none, one, false, false, false), nullptr);  // auto-locate off
    EXPECT_EQ(DiscToExamine(none, one, false, true, true), nullptr);    // dialog running
}

TEST(StartRule, ADiscAlreadyInADriveCountsAsJustInsertedUnlessAFileWasNamed) {
    const std::vector<DiscInDrive> two{{"/b", "B", 2}, {"/a", "A", 1}};
    ASSERT_NE(DiscToLocateAtStart(two, false, true, false), nullptr);
    EXPECT_EQ(DiscToLocateAtStart(two, false, true, false)->root, "/b");
    EXPECT_EQ(DiscToLocateAtStart({}, false, true, false), nullptr);
    EXPECT_EQ(DiscToLocateAtStart(two, true, true, false), nullptr);    // shown disc in a drive
    EXPECT_EQ(DiscToLocateAtStart(two, false, false, false), nullptr);  // auto-locate off
    EXPECT_EQ(DiscToLocateAtStart(two, false, true, true), nullptr);    // file on the command line
}

TEST(StartRule, TheLastIndexIsReopenedOnlyWhenItStillReadsAndNoFileWasNamed) {
    test::TempDir dir;
    const QString last = QString::fromStdString(dir / "last.orb");
    test::WriteSmallIndex(last.toStdString(), "L", 1);
    test::WriteFile(dir / "text.orb", "not an index at all");
    EXPECT_EQ(IndexToReopen(CommandLine{}, last), last);
    EXPECT_EQ(IndexToReopen(CommandLine{}, QString()), QString());
    CommandLine named;
    named.file = QStringLiteral("/elsewhere.orb");
    EXPECT_EQ(IndexToReopen(named, last), QString());
    EXPECT_EQ(IndexToReopen(CommandLine{}, QString::fromStdString(dir / "text.orb")), QString());
    EXPECT_EQ(IndexToReopen(CommandLine{}, QString::fromStdString(dir / "gone.orb")), QString());
}

TEST(RecentFilesMenu, NumbersCutsLongPathsAndKeepsAmpersandsVisible) {
    EXPECT_EQ(RecentDisplayName(0, "/a&b.orb"), QStringLiteral("&1 /a&&b.orb"));
    const QString cut =
        RecentDisplayName(3, "/home/user/Kelvane光盘库/软件/很长的光盘名称啊啊啊.orb");
    EXPECT_TRUE(cut.startsWith(QStringLiteral("&4 ..."))) << cut.toStdString();
    EXPECT_EQ(cut.size(), 3 + 30);
}

TEST(RecentFilesMenu, EntriesFollowAMovedDiscOrCategory) {
    const QStringList files{"/lib/A/x.orb", "/lib/AB/y.orb", "/lib/A/Sub/z.orb", "/lib/x.orb"};
    EXPECT_EQ(MoveRecentFiles(files, "/lib/A/x.orb", "/lib/B/x.orb"),
              (QStringList{"/lib/B/x.orb", "/lib/AB/y.orb", "/lib/A/Sub/z.orb", "/lib/x.orb"}));
    EXPECT_EQ(MoveRecentFiles(files, "/lib/A/", "/lib/C/"),
              (QStringList{"/lib/C/x.orb", "/lib/AB/y.orb", "/lib/C/Sub/z.orb", "/lib/x.orb"}));
    EXPECT_EQ(MoveRecentFiles(files, "/lib/a/x.orb", "/lib/q.orb"), files);
}

TEST(FindLibraryDiscTest, MatchesLabelExactlyAndCapacityInAllBits) {
    test::EnsureApp();
    test::TempDir lib;
    ASSERT_EQ(::mkdir((lib / "cat").c_str(), 0755), 0);
    test::WriteSmallIndex(lib / "cat/lower.orb", "disc", 5'000'000'000ULL);
    test::WriteSmallIndex(lib / "cat/other.orb", "DISC", 705'032'704ULL);  // low 32 bits equal
    test::WriteSmallIndex(lib / "cat/right.orb", "DISC", 5'000'000'000ULL);
    test::WriteFile(lib / "broken.orb", "not an index");
    CLibraryTree tree;
    tree.FillLibrary(lib.path() + "/");
    std::string path;
    QTreeWidgetItem* item = FindLibraryDisc(tree, "DISC", 5'000'000'000ULL, &path);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(path, lib / "cat/right.orb");
    EXPECT_EQ(FindLibraryDisc(tree, "Disc", 5'000'000'000ULL), nullptr);
}

TEST(FindLibraryDiscTest, ADriveLabelLongerThanTheHeaderKeepsStillMatches) {
    test::EnsureApp();
    test::TempDir lib;
    const std::string label(60, 'L');  // the header keeps 49 bytes
    test::WriteSmallIndex(lib / "long.orb", label, 700'000'000ULL);
    CLibraryTree tree;
    tree.FillLibrary(lib.path() + "/");
    std::string path;
    ASSERT_NE(FindLibraryDisc(tree, HostToStored(label), 700'000'000ULL, &path), nullptr);
    EXPECT_EQ(path, lib / "long.orb");
    EXPECT_EQ(FindLibraryDisc(tree, HostToStored(label.substr(0, 48)), 700'000'000ULL), nullptr);
}

// The document, with a stand-in annotation editor.
class FakeEditor : public IAnnotationEditor {
public:
    std::string EditedStoredText() const override { return text; }
    int32_t ShownEntryId() const override { return id; }
    std::string text;
    int32_t id = 0;
};

class DocTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApp();
        SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
        doc.SetAnnotationEditor(&editor);
        test::WriteSmallIndex(dir / "one.orb", "ONE", 1000);
        test::WriteSmallIndex(dir / "two.orb", "TWO", 1000);
    }
    void TearDown() override { SetDriveSystem(nullptr); }
    test::TempDir dir;
    FakeEditor editor;
    COrbDoc doc;
};

TEST_F(DocTest, OpenAndFailedOpenSetTitleAndViews) {
    QSignalSpy updates(&doc, &COrbDoc::updateAllViews);
    QSignalSpy opened(&doc, &COrbDoc::pathOpened);
    EXPECT_EQ(doc.Title(), QStringLiteral("欢迎使用"));
    EXPECT_EQ(doc.OpenIndex(dir / "one.orb", 1), 1);
    EXPECT_EQ(doc.Title(), QStringLiteral("one.orb"));
    EXPECT_TRUE(doc.CanSyncIndex());
    EXPECT_EQ(updates.count(), 1);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(doc.IsOpenIndexPath(dir / "ONE.ORB"), 1);
    EXPECT_EQ(doc.IsOpenIndexPath(dir / "two.orb"), 0);

    // A failed OpenIndex says nothing and tells nobody.
    test::WriteFile(dir / "bad.orb", "garbage");
    EXPECT_EQ(doc.OpenIndex(dir / "bad.orb", 1), 0);
    EXPECT_EQ(updates.count(), 1);
    EXPECT_FALSE(doc.Index().IsOpen());

    doc.OpenIndex(dir / "one.orb", 0);
    doc.CloseIndex(1);
    EXPECT_EQ(doc.Title(), QStringLiteral("欢迎使用"));
    EXPECT_FALSE(doc.CanSyncIndex());
    EXPECT_EQ(updates.count(), 2);
}

TEST_F(DocTest, LocateFindsTheFirstDriveHoldingTheDisc) {
    test::TempDir e, f, g;
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(std::vector<VirtualDrive>{
        {e.path(), "", 0, true}, {f.path(), "ONE", 1000, false}, {g.path(), "ONE", 1000, false}}));
    QSignalSpy location(&doc, &COrbDoc::discLocationChanged);
    ASSERT_EQ(doc.OpenIndex(dir / "one.orb", 1), 1);
    doc.LocateDisc();
    EXPECT_EQ(doc.DiscDrive(), f.path() + "/");
    EXPECT_EQ(doc.DiscLocationText(),
              QStringLiteral("光盘在驱动器%1中").arg(QString::fromStdString(f.path() + "/")));
    doc.OpenIndex(dir / "two.orb", 1);
    doc.LocateDisc();
    EXPECT_TRUE(doc.DiscDrive().empty());
    EXPECT_EQ(doc.DiscLocationText(), QStringLiteral("在所有光盘驱动器中没有找到该光盘"));
    EXPECT_EQ(location.count(), 2);
}

TEST_F(DocTest, PendingEditIsStoredWithTheIndexItBelongsTo) {
    ASSERT_EQ(doc.OpenIndex(dir / "one.orb", 1), 1);
    editor.id = kFirstEntryId;
    editor.text = "note";
    doc.SetModifiedFlag(true);
    // Opening another index commits the edit into the first one's companion.
    ASSERT_EQ(doc.OpenIndex(dir / "two.orb", 1), 1);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.Index().FindAnnotation(kFirstEntryId), nullptr);
    ASSERT_EQ(doc.OpenIndex(dir / "one.orb", 1), 1);
    const std::string* note = doc.Index().FindAnnotation(kFirstEntryId);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(*note, "note");
    // An emptied text removes the annotation; an unmodified editor changes nothing.
    editor.text.clear();
    doc.SaveModified();
    EXPECT_NE(doc.Index().FindAnnotation(kFirstEntryId), nullptr);
    doc.SetModifiedFlag(true);
    doc.CommitAnnotationEdit();
    EXPECT_EQ(doc.Index().FindAnnotation(kFirstEntryId), nullptr);
}

TEST_F(DocTest, EditsReachTheCompanionAtOnceAndAFailedWriteIsShownAndKept) {
    QStringList failures;
    doc.SetSaveFailureHandler(
        [&](const QString& path, const QString& reason) { failures << path + '|' + reason; });
    // What another reader of the same file finds on disk.
    auto onDisk = [](const std::string& path) -> std::string {
        CIndexReader reader;
        if (!reader.Open(path, OpenMode::ReadShareAll)) return "(not open)";
        const std::string* note = reader.FindAnnotation(kFirstEntryId);
        return note ? *note : "(none)";
    };
    ASSERT_EQ(doc.OpenIndex(dir / "one.orb", 1), 1);
    editor.id = kFirstEntryId;
    editor.text = "committed";
    doc.SetModifiedFlag(true);
    doc.CommitAnnotationEdit();
    EXPECT_EQ(onDisk(dir / "one.orb"), "committed");
    editor.text = "saved";
    doc.SetModifiedFlag(true);
    doc.SaveModified();
    EXPECT_EQ(onDisk(dir / "one.orb"), "saved");
    EXPECT_TRUE(failures.isEmpty());

    // A companion that cannot be written (a folder stands in its place): the
    // failure names the file and the reason, once, and the edit stays in memory.
    const std::string blocked = dir / "two.orc";
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    ASSERT_EQ(doc.OpenIndex(dir / "two.orb", 1), 1);
    editor.text = "kept";
    doc.SetModifiedFlag(true);
    doc.CommitAnnotationEdit();
    ASSERT_TRUE(test::WaitUntil([&] { return failures.size() == 1; }));
    EXPECT_TRUE(failures[0].startsWith(QString::fromStdString(blocked) + '|'));
    EXPECT_GT(failures[0].size(), static_cast<int>(blocked.size()) + 1);
    ASSERT_NE(doc.Index().FindAnnotation(kFirstEntryId), nullptr);
    EXPECT_EQ(*doc.Index().FindAnnotation(kFirstEntryId), "kept");
    // Ctrl+S tries again and says so again; once the way is clear, it writes.
    doc.SaveModified();
    EXPECT_EQ(failures.size(), 2);
    ASSERT_EQ(::rmdir(blocked.c_str()), 0);
    doc.SaveModified();
    EXPECT_EQ(failures.size(), 2);
    EXPECT_EQ(onDisk(dir / "two.orb"), "kept");
}

}  // namespace
}  // namespace orb
