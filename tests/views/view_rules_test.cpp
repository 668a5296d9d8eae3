// SPDX-License-Identifier: GPL-3.0-or-later
// The views' rules: texts, row orders, safe disc paths, the file list's MIME data,
// cover geometry and annotation line ends.
#include "views/view_rules.h"

#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>
#include <numeric>
#include <random>

#include "tests/views/views_test_util.h"
#include "views/file_list_ctrl.h"
#include "views/remark_view.h"

namespace orb {
namespace {

TEST(ViewTexts, SizeRoundsToKiBOverAllSixtyFourBits) {
    EXPECT_EQ(SizeText(0), "0K");
    EXPECT_EQ(SizeText(511), "0K");
    EXPECT_EQ(SizeText(512), "1K");
    EXPECT_EQ(SizeText(1536), "2K");
    // Not the size modulo 4 GiB (which would show 688509K).
    EXPECT_EQ(SizeText(5000000000ULL), "4882813K");
    EXPECT_EQ(SizeText(UINT64_MAX), QString::number(UINT64_MAX / 1024) + "K");
}

TEST(ViewTexts, DateIsTheStoredCalendarDayWithoutLeadingZeros) {
    EXPECT_EQ(DateText(test::Day(1057276800)), "2003-7-4");          // 2003-07-04 00:00 UTC
    EXPECT_EQ(DateText(test::Day(1057276800 + 86399)), "2003-7-4");  // same day, 23:59:59
    EXPECT_EQ(DateText(test::Day(951782400)), "2000-2-29");
    EXPECT_EQ(DateText(FILETIME{}), "1601-1-1");
    // The largest stored time is still a date, not garbage.
    EXPECT_EQ(DateText(U64ToFileTime(UINT64_MAX)), "60056-5-28");
}

TEST(ViewTexts, CapacityTruncatesToTheLargestUnit) {
    EXPECT_EQ(CapacityText(681574400), "650 M");
    EXPECT_EQ(CapacityText(4700000000ULL), "4 G");
    EXPECT_EQ(CapacityText(1023), "1023 B");
    EXPECT_EQ(CapacityText(1024), "1 K");
    EXPECT_EQ(CapacityText(1048575), "1023 K");
    EXPECT_EQ(CapacityText(0), "0 B");
}

TEST(ViewTexts, HumanBytesKeepThreeDigitsAndTheExactCount) {
    EXPECT_EQ(HumanBytesText(4700372992ULL), "4.38 GB（4,700,372,992 字节）");
    EXPECT_EQ(HumanBytesText(681574400), "650 MB（681,574,400 字节）");
    EXPECT_EQ(HumanBytesText(1536), "1.50 KB（1,536 字节）");
    EXPECT_EQ(HumanBytesText(1023), "1,023 字节");
    EXPECT_EQ(HumanBytesText(0), "0 字节");
    // Just below a unit shows the next unit rather than four digits.
    EXPECT_EQ(HumanBytesText(1048575), "1.00 MB（1,048,575 字节）");
    EXPECT_EQ(HumanBytesText(UINT64_MAX).left(8), "16.0 EB（");
    EXPECT_EQ(GroupedNumber(30000), "30,000");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1000000), "1,000,000");
}

TEST(ViewTexts, ExtensionIsAfterTheLastDotThatIsNotTheFirstByte) {
    EXPECT_EQ(ExtensionOf("readme"), "");
    EXPECT_EQ(ExtensionOf(".profile"), "");
    EXPECT_EQ(ExtensionOf("a.txt"), "txt");
    EXPECT_EQ(ExtensionOf("a.b.TXT"), "TXT");
    EXPECT_EQ(ExtensionOf("..x"), "x");
    EXPECT_EQ(ExtensionOf("a."), "");
}

// The file list's orders, through the model that the list shows.
class RowOrderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureViewsApp();
        Add("b.TXT", false, 1536, 30);
        Add("Zdir", true, 4096, 10);
        Add("readme", false, 5000000000ULL, 20);
        Add("adir", true, 0, 40);
        Add(".profile", false, 700u * 1024 * 1024, 50);
        Add("A.exe", false, 10, 5);
    }
    void Add(const char* name, bool dir, uint64_t size, int64_t day) {
        IndexEntry e;
        e.SetName(name);
        e.flags = dir ? kEntryDirectory : 0;
        e.SetSize(size);
        e.writeTime = test::Day(day * 86400);
        model.Append(id++, e);
    }
    std::vector<std::string> Order(int column, int direction) {
        model.Sort(column, direction);
        std::vector<std::string> names;
        for (int row = 0; row < model.rowCount(); ++row) names.emplace_back(model.Name(row));
        return names;
    }
    CFileListModel model;
    int32_t id = 100;
};

TEST_F(RowOrderTest, NameSizeAndTimePutDirectoriesFirstAndDescendingReversesAll) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Order(kColName, 1), (V{"adir", "Zdir", ".profile", "A.exe", "b.TXT", "readme"}));
    EXPECT_EQ(Order(kColName, -1), (V{"readme", "b.TXT", "A.exe", ".profile", "Zdir", "adir"}));
    // Directories are equal by size and keep their listing order; files by full size.
    EXPECT_EQ(Order(kColSize, 1), (V{"Zdir", "adir", "A.exe", "b.TXT", ".profile", "readme"}));
    EXPECT_EQ(Order(kColSize, -1), (V{"readme", ".profile", "b.TXT", "A.exe", "Zdir", "adir"}));
    EXPECT_EQ(Order(kColTime, 1), (V{"Zdir", "adir", "A.exe", "readme", "b.TXT", ".profile"}));
    EXPECT_EQ(Order(kColTime, -1), (V{".profile", "b.TXT", "readme", "A.exe", "adir", "Zdir"}));
    // Back to the first order after a round trip.
    EXPECT_EQ(Order(kColName, 1), (V{"adir", "Zdir", ".profile", "A.exe", "b.TXT", "readme"}));
}

TEST_F(RowOrderTest, TypePutsFilesFirstOrderedByExtensionNotTypeName) {
    using V = std::vector<std::string>;
    // readme and .profile have no extension and come before exe and txt.
    EXPECT_EQ(Order(kColType, 1), (V{"readme", ".profile", "A.exe", "b.TXT", "Zdir", "adir"}));
    // Descending reverses the grouping too.
    EXPECT_EQ(Order(kColType, -1), (V{"Zdir", "adir", "b.TXT", "A.exe", "readme", ".profile"}));
    // Any other column leaves the listing order.
    EXPECT_EQ(Order(7, 1), (V{"b.TXT", "Zdir", "readme", "adir", ".profile", "A.exe"}));
}

TEST_F(RowOrderTest, CellsShowSizeTypeAndDateAndKeepTheEntryId) {
    model.Sort(kColName, 1);
    auto cell = [&](int row, int col) {
        return model.data(model.index(row, col), Qt::DisplayRole);
    };
    const int dir = model.FindRow("adir");
    const int big = model.FindRow("readme");
    EXPECT_EQ(cell(dir, kColSize).toString(), "");
    EXPECT_EQ(cell(dir, kColType).toString(), "文件夹");
    EXPECT_EQ(cell(big, kColSize).toString(), "4882813K");
    EXPECT_EQ(cell(big, kColType).toString(), "文件");
    EXPECT_EQ(cell(big, kColTime).toString(), "1970-1-21");
    EXPECT_EQ(model.data(model.index(big, 0), CFileListModel::kEntryIdRole).toInt(), 102);
    // Upper and lower case extensions share one type.
    EXPECT_EQ(CFileTypeCache::Instance().TypeOf("TXT"), CFileTypeCache::Instance().TypeOf("txt"));
    EXPECT_EQ(model.FindRow("B.TXT"), -1);  // names are matched byte for byte
}

TEST(FileTypeIcons, EveryCommonKindHasABundledIconWhenTheThemeHasNone) {
    test::EnsureViewsApp();
    EXPECT_EQ(FileIconKindFor("text/plain", "text-x-generic", {}), FileIconKind::Text);
    EXPECT_EQ(FileIconKindFor("application/x-shellscript", "text-x-script", {}),
              FileIconKind::Text);
    EXPECT_EQ(FileIconKindFor("image/png", "image-x-generic", {}), FileIconKind::Image);
    EXPECT_EQ(FileIconKindFor("audio/mpeg", "audio-x-generic", {}), FileIconKind::Audio);
    EXPECT_EQ(FileIconKindFor("video/mp4", "video-x-generic", {}), FileIconKind::Video);
    EXPECT_EQ(FileIconKindFor("application/zip", "package-x-generic", {}), FileIconKind::Archive);
    EXPECT_EQ(FileIconKindFor("application/x-ms-dos-executable", "application-x-executable", {}),
              FileIconKind::Executable);
    // A Word file is a zip underneath, but a document to the user.
    EXPECT_EQ(FileIconKindFor("application/vnd.openxmlformats-officedocument."
                              "wordprocessingml.document",
                              "x-office-document", {"application/zip"}),
              FileIconKind::Document);
    EXPECT_EQ(FileIconKindFor("application/x-foo", "application-x-generic", {"text/plain"}),
              FileIconKind::Text);
    EXPECT_EQ(FileIconKindFor("application/octet-stream", "application-x-generic", {}),
              FileIconKind::None);
    for (FileIconKind kind : {FileIconKind::Folder, FileIconKind::Text, FileIconKind::Image,
                              FileIconKind::Audio, FileIconKind::Video, FileIconKind::Archive,
                              FileIconKind::Executable, FileIconKind::Document}) {
        const QIcon icon = BundledFileTypeIcon(kind);
        EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << static_cast<int>(kind);
        EXPECT_FALSE(icon.pixmap(32, 32).isNull()) << static_cast<int>(kind);
    }
    EXPECT_TRUE(BundledFileTypeIcon(FileIconKind::None).isNull());
    // Through the cache: known types never fall back to the blank page.
    CFileTypeCache& cache = CFileTypeCache::Instance();
    const qint64 blank = cache.Type(cache.TypeOf("")).icon.cacheKey();
    for (const char* ext : {"txt", "jpg", "mp3", "avi", "zip", "exe", "pdf"})
        EXPECT_NE(cache.Type(cache.TypeOf(ext)).icon.cacheKey(), blank) << ext;
    EXPECT_FALSE(cache.Folder().icon.isNull());
}

// The model sorts by precomputed keys; on names sharing long prefixes, mixed case,
// double-byte characters and dots it must give exactly the rule's order.
TEST(RowOrderRule, ModelOrderEqualsTheComparisonRuleOnRandomRows) {
    test::EnsureViewsApp();
    std::mt19937 rng(11);
    const std::vector<std::string> pieces = {
        "a",  "A", "b", "B", ".", "readme", "\xB0\xA1", "\xB0\x41", "\x81\x30\x81\x30",
        "zz", "_", "9"};
    CFileListModel model;
    std::vector<IndexEntry> entries;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        const int n = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < n; ++k) name += pieces[rng() % pieces.size()];
        IndexEntry e;
        e.SetName(name);
        e.flags = rng() % 4 == 0 ? kEntryDirectory : 0;
        e.SetSize(rng() % 3 == 0 ? 5000000000ULL + rng() % 5 : rng() % 5);
        e.writeTime = U64ToFileTime((static_cast<uint64_t>(rng() % 3) << 32) | (rng() % 3));
        entries.push_back(e);
        model.Append(i, e);
    }
    for (int column = 0; column < kColCount; ++column) {
        for (int direction : {1, -1}) {
            std::vector<int> expected(entries.size());
            std::iota(expected.begin(), expected.end(), 0);
            auto key = [&](int i) {
                RowKey k;
                k.isDirectory = entries[i].IsDirectory();
                k.name = entries[i].Name();
                k.extension = ExtensionOf(k.name);
                k.size = entries[i].Size();
                k.time = FileTimeToU64(entries[i].writeTime);
                return k;
            };
            std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                return CompareRows(key(a), key(b), column) * direction < 0;
            });
            model.Sort(column, direction);
            for (size_t row = 0; row < expected.size(); ++row)
                ASSERT_EQ(model.Item(static_cast<int>(row)).id, expected[row])
                    << "column " << column << " direction " << direction << " row " << row;
        }
    }
}

TEST(DiscPaths, SafeComponentsJoinAndHostileOnesAreRefused) {
    std::string path = "unchanged";
    ASSERT_TRUE(JoinDiscPath("/media/cd/", "setup\\tools\\", "a.exe", path));
    EXPECT_EQ(path, "/media/cd/setup/tools/a.exe");
    ASSERT_TRUE(JoinDiscPath("/media/cd", "", "", path));
    EXPECT_EQ(path, "/media/cd/");
    // A double-byte name whose trailing byte is 0x5C is one component.
    const std::string gbk = "\xB1\x5C";
    ASSERT_TRUE(JoinDiscPath("/m/", gbk + "\\", gbk, path));
    EXPECT_EQ(path, "/m/" + StoredToHost(gbk) + "/" + StoredToHost(gbk));

    path = "unchanged";
    for (const std::string& name : {std::string(".."), std::string("."), std::string("a/b"),
                                    std::string("a\0b", 3), std::string("a\\b")})
        EXPECT_FALSE(JoinDiscPath("/m/", "", name, path)) << name;
    EXPECT_FALSE(JoinDiscPath("/m/", "..\\", "a", path));
    EXPECT_FALSE(JoinDiscPath("/m/", "x\\..\\", "a", path));
    EXPECT_FALSE(JoinDiscPath("/m/", "a/..\\", "b", path));
    EXPECT_FALSE(JoinDiscPath("/m/", "setup", "b", path));  // not a directory path
    EXPECT_FALSE(JoinDiscPath("", "", "a", path));          // no drive
    EXPECT_EQ(path, "unchanged");
}

TEST(DiscPaths, SplitKeepsDoubleByteCharactersWhole) {
    std::string rest;
    const auto parts = SplitStoredPath("a\\\xB1\x5C\\b", &rest);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], "a");
    EXPECT_EQ(parts[1], "\xB1\x5C");
    EXPECT_EQ(rest, "b");
}

TEST(FileListMime, TwoPathsGiveUriListAndGnomeCopyFiles) {
    test::EnsureViewsApp();
    QMimeData mime;
    FillFileListMime(mime, {"/media/cd/a b.txt", "/media/cd/目录/c"});
    ASSERT_EQ(mime.urls().size(), 2);
    EXPECT_EQ(mime.urls()[0].toLocalFile(), "/media/cd/a b.txt");
    EXPECT_EQ(mime.urls()[1].toLocalFile(), "/media/cd/目录/c");
    EXPECT_EQ(mime.data("x-special/gnome-copied-files"),
              "copy\nfile:///media/cd/a%20b.txt\nfile:///media/cd/%E7%9B%AE%E5%BD%95/c");
}

TEST(CoverGeometry, FittedKeepsAspectAndCentresTheSpareSide) {
    const PicRect panel{0, 0, 264, 200};
    // Wider than the panel: full width, centred vertically.
    EXPECT_EQ(FittedPictureRect(panel, 400, 100), (PicRect{0, 67, 264, 133}));
    // Taller: full height, centred horizontally.
    EXPECT_EQ(FittedPictureRect(panel, 100, 400), (PicRect{107, 0, 157, 200}));
    EXPECT_EQ(FittedPictureRect(panel, 0, 10), panel);
    // Centred at natural size; a larger picture overflows evenly.
    EXPECT_EQ(CentredPictureRect({0, 0, 100, 100}, 40, 20), (PicRect{30, 40, 70, 60}));
    EXPECT_EQ(CentredPictureRect({0, 0, 100, 100}, 140, 100), (PicRect{-20, 0, 120, 100}));
}

TEST(AnnotationText, StoredWithWindowsLineEndsShownWithPlainOnes) {
    EXPECT_EQ(AnnotationToEditor("a\r\nb"), "a\nb");
    EXPECT_EQ(EditorToAnnotation("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(EditorToAnnotation(QStringLiteral("注释")), HostToStored("注释"));
    EXPECT_EQ(AnnotationToEditor(EditorToAnnotation("x\ny")), "x\ny");
}

}  // namespace
}  // namespace orb
