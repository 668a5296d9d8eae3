// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "index/index_reader.h"
#include "platform/drives.h"
#include "tests/index/index_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

// A small disc: setup/ (tools/ (a.exe), readme.txt), autorun.inf, docs/ (empty).
std::string WriteSampleIndex(const std::string& path, const std::string& label = "DATA",
                             uint64_t capacity = 650000000, const std::string& remark = "",
                             const std::string& cover = "") {
    CScanTree tree;
    FILETIME t = test::Time(100, 200);
    ScanNodeId setup = tree.Append(kNoNode, kEntryDirectory, 0, t, "setup");
    ScanNodeId tools = tree.Append(setup, kEntryDirectory, 0, t, "tools");
    tree.Append(tools, 0, 5000000000ULL, t, "a.exe");
    tree.Append(setup, 0, 12, t, "readme.txt");
    tree.Append(kNoNode, 0, 40, t, "autorun.inf");
    tree.Append(kNoNode, kEntryDirectory, 0, t, "docs");
    IndexHeader h = test::MakeHeader(label, capacity, tree);
    IndexWriteOptions opt;
    opt.remark = remark;
    opt.cover = cover;
    EXPECT_EQ(WriteIndexFile(path, h, tree, opt), WriteResult::Ok);
    return path;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("TMPDIR", tmp.path().c_str(), 1); }
    void TearDown() override { unsetenv("TMPDIR"); }
    // Number of cover temporary files that exist.
    int TempFiles() {
        int n = 0;
        ListDirectory(tmp.path(), [&](const DirEntry& e) {
            if (e.name.rfind("orb", 0) == 0) ++n;
            return true;
        });
        return n;
    }
    TempDir dir;
    TempDir tmp;
};

TEST_F(ReaderTest, WalksTheTreeWithEntryIds) {
    WriteSampleIndex(dir / "a.orb");
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(r.IsOpen(), 1);
    EXPECT_EQ(r.GetFilePath(), dir / "a.orb");
    std::string label;
    EXPECT_EQ(r.GetVolumeLabel(label), 1);
    EXPECT_EQ(label, "DATA");
    EXPECT_EQ(r.GetFileCount(), 3u);
    EXPECT_EQ(r.GetDirectoryCount(), 3u);
    EXPECT_EQ(r.GetCapacity(), 650000000u);

    auto top = test::ListIds(r, nullptr);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0], std::make_pair(88, std::string("setup")));
    EXPECT_EQ(top[1].second, "autorun.inf");
    EXPECT_EQ(top[2].second, "docs");

    IndexEntry setup;
    ASSERT_EQ(r.ReadFirstEntry(nullptr, setup), 1);
    EXPECT_TRUE(setup.IsDirectory());
    EXPECT_EQ(setup.recordOffset, 92);
    // The second top-level entry's id is its record's offset.
    IndexEntry second;
    ASSERT_EQ(r.ReadNextEntry(setup, second), 1);
    EXPECT_EQ(setup.nextSibling, second.recordOffset);
    EXPECT_EQ(top[1].first, second.recordOffset);

    auto inSetup = test::ListIds(r, &setup);
    ASSERT_EQ(inSetup.size(), 2u);
    EXPECT_EQ(inSetup[0].first, setup.firstChild);
    EXPECT_EQ(setup.firstChild, 92 + 29 + 5);  // directly after its directory
    IndexEntry tools, exe;
    ASSERT_EQ(r.ReadFirstEntry(&setup, tools), 1);
    ASSERT_EQ(r.ReadFirstEntry(&tools, exe), 1);
    EXPECT_EQ(exe.Name(), "a.exe");
    EXPECT_EQ(exe.sizeHigh, 1u);
    EXPECT_EQ(exe.sizeLow, 705032704u);
    EXPECT_EQ(exe.Size(), 5000000000ULL);
    EXPECT_EQ(exe.writeTime.dwLowDateTime, 100u);
    EXPECT_EQ(exe.writeTime.dwHighDateTime, 200u);
    EXPECT_EQ(r.ReadNextEntry(exe, exe), 0);

    IndexEntry docs;
    ASSERT_EQ(r.ReadNextEntry(second, docs), 1);
    EXPECT_EQ(r.ReadFirstEntry(&docs, exe), 0);  // first-child link -1
    EXPECT_EQ(r.HasSubdirectory(setup), 1);
    EXPECT_EQ(r.HasSubdirectory(tools), 0);
    EXPECT_EQ(r.HasSubdirectory(docs), 0);
    // HasSubdirectory in the middle of a listing does not disturb it.
    IndexEntry walk;
    ASSERT_EQ(r.ReadFirstEntry(&setup, walk), 1);
    r.HasSubdirectory(walk);
    ASSERT_EQ(r.ReadNextEntry(walk, walk), 1);
    EXPECT_EQ(walk.Name(), "readme.txt");
}

TEST_F(ReaderTest, RefusesFilesThatAreNotIndexes) {
    WriteSampleIndex(dir / "good.orb");
    test::WriteFile(dir / "text.orb", "hello world, this is not an index at all");
    test::WriteFile(dir / "short.orb", "ORB");
    test::WriteFile(dir / "headless.orb", "ORBF\x20");
    CIndexReader r;
    for (const char* bad : {"text.orb", "short.orb", "headless.orb"}) {
        ASSERT_EQ(r.Open(dir / "good.orb", OpenMode::ReadShareAll), 1);
        EXPECT_EQ(r.Open(dir / bad, OpenMode::ReadShareAll), 0) << bad;
        EXPECT_EQ(r.LastError(), "您试图打开一个本软件不支持的文件!");
        EXPECT_EQ(r.IsOpen(), 0);  // the previous index was closed too
        EXPECT_EQ(r.GetFilePath(), "");
    }
    EXPECT_EQ(r.Open(dir / "missing.orb", OpenMode::ReadShareAll), 0);
    EXPECT_EQ(r.LastError(), "打开文件失败!");
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(ReaderTest, ProbeReadsOnlyTheHeader) {
    WriteSampleIndex(dir / "a.orb", "LBL", 1234);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(dir / "a.orb", h), 1);
    EXPECT_EQ(HeaderLabel(h), "LBL");
    EXPECT_EQ(h.capacity, 1234u);
    test::WriteFile(dir / "b.orb", "ORBX");
    EXPECT_EQ(ProbeIndexHeader(dir / "b.orb", h), 0);
    EXPECT_EQ(ProbeIndexHeader(dir / "none.orb", h), 0);
}

TEST_F(ReaderTest, ShareModesBetweenReaders) {
    WriteSampleIndex(dir / "a.orb");
    CIndexReader owner, other;
    ASSERT_EQ(owner.Open(dir / "a.orb", OpenMode::ReadWriteShareRead), 1);
    EXPECT_EQ(other.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(other.Open(dir / "a.orb", OpenMode::ReadWriteShareAll), 0);
    EXPECT_EQ(other.LastError(), "打开文件失败!");
    // A second window on the same disc shows it read-only and says why it
    // cannot change it; the first keeps writing.
    EXPECT_EQ(other.OpenPreferWrite(dir / "a.orb", OpenMode::ReadWriteShareRead), 1);
    EXPECT_TRUE(other.OpenElsewhere());
    EXPECT_EQ(other.WriteRemark("x"), 0);
    EXPECT_EQ(other.LastError(), "该光盘索引正在别处打开并被写入，现只能读取，不能修改!");
    EXPECT_EQ(owner.WriteRemark("mine"), 1);
    owner.Close();
    EXPECT_EQ(other.Open(dir / "a.orb", OpenMode::ReadWriteShareAll), 1);
    EXPECT_FALSE(other.OpenElsewhere());
    EXPECT_EQ(other.OpenPreferWrite(dir / "a.orb", OpenMode::ReadWriteShareRead), 1);
    EXPECT_FALSE(other.OpenElsewhere());
}

TEST_F(ReaderTest, AnnotationsAreKeptInTheCompanion) {
    WriteSampleIndex(dir / "a.orb");
    WriteSampleIndex(dir / "b.orb");
    const std::string orc = dir / "a.orc";
    {
        CIndexReader r;
        ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
        EXPECT_EQ(r.FindAnnotation(88), nullptr);
        r.Close();
        EXPECT_FALSE(test::FileExists(orc));  // no changes: no companion

        ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
        r.SetAnnotation(88, "first entry");
        r.SetAnnotation(200, "");  // appended as an empty record
        r.SetAnnotation(300, "x");
        r.SetAnnotation(300, "xyz");  // replaced in place
        EXPECT_TRUE(r.AnnotationsChanged());
        // Opening another index through the same reader writes the first companion.
        ASSERT_EQ(r.Open(dir / "b.orb", OpenMode::ReadShareAll), 1);
    }
    test::Bytes want;
    want.i32(3).i32(88).i32(11).str("first entry").i32(200).i32(0).i32(300).i32(3).str("xyz");
    EXPECT_EQ(test::ReadFile(orc), want.data());
    EXPECT_FALSE(test::FileExists(dir / "b.orc"));

    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    ASSERT_NE(r.FindAnnotation(88), nullptr);
    EXPECT_EQ(*r.FindAnnotation(88), "first entry");
    ASSERT_NE(r.FindAnnotation(200), nullptr);
    EXPECT_EQ(*r.FindAnnotation(200), "");
    // Removing every annotation leaves a companion holding only the count 0.
    r.SetAnnotation(88, "");
    r.SetAnnotation(200, "");
    r.SetAnnotation(300, "");
    EXPECT_TRUE(r.Annotations().empty());
    EXPECT_TRUE(r.Close());
    EXPECT_EQ(test::ReadFile(orc), std::string(4, '\0'));
}

TEST_F(ReaderTest, FirstRecordWinsForDuplicateIds) {
    WriteSampleIndex(dir / "a.orb");
    test::Bytes orc;
    orc.i32(2).i32(88).i32(1).str("A").i32(88).i32(1).str("B");
    test::WriteFile(dir / "a.orc", orc.data());
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(*r.FindAnnotation(88), "A");
    r.SetAnnotation(88, "");
    EXPECT_EQ(*r.FindAnnotation(88), "B");
}

TEST_F(ReaderTest, FailedCompanionWriteIsReported) {
    WriteSampleIndex(dir / "a.orb");
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    r.SetAnnotation(88, "note");
    // The new companion cannot replace a directory standing under its name.
    ASSERT_EQ(::mkdir((dir / "a.orc").c_str(), 0755), 0);
    EXPECT_FALSE(r.Close());
    EXPECT_EQ(r.LastError(), "注释文件保存失败!");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/a.orc"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(ReaderTest, RemarkRewritesMoveTheCoverAndTrimTheFile) {
    const std::string cover = std::string("GIF89a\x07\x00\x05\x00", 10) + " cover bytes";
    WriteSampleIndex(dir / "a.orb", "DATA", 1, "a long remark text", cover);
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadWriteShareAll), 1);
    ASSERT_NE(r.Picture(), nullptr);
    EXPECT_EQ(r.Picture()->Width(), 7);
    std::string remark;
    ASSERT_EQ(r.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "a long remark text");
    const uint32_t remarkOffset = r.Header().remarkOffset;
    const size_t before = test::ReadFile(dir / "a.orb").size();

    ASSERT_EQ(r.WriteRemark("short"), 1);
    EXPECT_EQ(r.Header().remarkOffset, remarkOffset);
    EXPECT_EQ(r.Header().coverOffset, remarkOffset + 5);
    std::string file = test::ReadFile(dir / "a.orb");
    EXPECT_EQ(file.size(), before - (18 - 5));
    EXPECT_EQ(file.substr(remarkOffset), "short" + cover);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(dir / "a.orb", h), 1);
    EXPECT_EQ(h.remarkLength, 5u);
    EXPECT_EQ(h.coverOffset, remarkOffset + 5);
    EXPECT_EQ(h.coverSize, cover.size());
    ASSERT_EQ(r.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "short");
    // The walk still works after the rewrite (the read cache saw the change).
    EXPECT_EQ(test::ListIds(r, nullptr).size(), 3u);
}

TEST_F(ReaderTest, ReplaceCoverKeepsTheFileWhenThePictureDoesNotDecode) {
    WriteSampleIndex(dir / "a.orb", "DATA", 1, "rem");
    test::WriteFile(dir / "notes.txt", "plain text, not a picture");
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadWriteShareAll), 1);
    EXPECT_EQ(r.Picture(), nullptr);
    const std::string before = test::ReadFile(dir / "a.orb");
    EXPECT_EQ(r.ReplaceCover(dir / "notes.txt"), 0);
    EXPECT_EQ(r.LastError(), "该图片文件格式本软件不支持!");
    EXPECT_EQ(test::ReadFile(dir / "a.orb"), before);

    // A real picture replaces the cover after the remark.
    std::string bmp = "BM" + std::string(16, '\0');
    test::Bytes dims;
    dims.u32(3).u32(2).zeros(30);
    bmp += dims.data();
    test::WriteFile(dir / "c.bmp", bmp);
    ASSERT_EQ(r.ReplaceCover(dir / "c.bmp"), 1);
    ASSERT_NE(r.Picture(), nullptr);
    std::string file = test::ReadFile(dir / "a.orb");
    EXPECT_EQ(file.size(), before.size() + bmp.size());
    EXPECT_EQ(file.substr(r.Header().coverOffset), bmp);
    EXPECT_EQ(file.substr(r.Header().remarkOffset, 3), "rem");
}

TEST_F(ReaderTest, ChangesNeedAnOpenWritableIndex) {
    WriteSampleIndex(dir / "a.orb");
    CIndexReader r;
    std::string remark = "stale";
    EXPECT_EQ(r.ReadRemark(remark), 0);
    EXPECT_EQ(remark, "");
    EXPECT_EQ(r.LastError(), "文件没有打开!");
    EXPECT_EQ(r.WriteRemark("x"), 0);
    EXPECT_EQ(r.LastError(), "文件没有打开!");
    EXPECT_EQ(r.ReplaceCover(dir / "a.orb"), 0);
    EXPECT_EQ(r.LastError(), "文件没有打开!");
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    const std::string before = test::ReadFile(dir / "a.orb");
    EXPECT_EQ(r.WriteRemark("x"), 0);  // read-only: reported, not pretended
    EXPECT_EQ(r.LastError(), "写入文件失败!");
    EXPECT_EQ(test::ReadFile(dir / "a.orb"), before);
}

// The cover copy is an anonymous file: readable by name while the index is open,
// never in the temporary folder, so a killed process leaves nothing behind.
TEST_F(ReaderTest, CoverCopyIsAnonymousAndLivesWhileOpen) {
    const std::string cover = std::string("GIF89a\x07\x00\x05\x00", 10) + " cover bytes";
    WriteSampleIndex(dir / "a.orb", "DATA", 1, "rem", cover);
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    ASSERT_NE(r.Picture(), nullptr);
    const std::string copy = r.CoverTempPath();
    EXPECT_EQ(test::ReadFile(copy), cover);
    EXPECT_EQ(TempFiles(), 0);
    r.Close();
    EXPECT_FALSE(test::FileExists(copy));
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(ReaderTest, DriveHoldsDiscComparesLabelAndCapacityExactly) {
    WriteSampleIndex(dir / "a.orb", "Data", 4096);
    auto drives = std::make_shared<CVirtualDriveSystem>(std::vector<VirtualDrive>{
        {dir / "same", "Data", 4096, false},
        {dir / "case", "DATA", 4096, false},
        {dir / "bigger", "Data", 4097, false},
        {dir / "empty", "", 0, true},
    });
    SetDriveSystem(drives);
    CIndexReader r;
    EXPECT_EQ(r.DriveHoldsDisc(dir / "same/"), 0);  // nothing open
    ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(r.DriveHoldsDisc(dir / "same/"), 1);
    EXPECT_EQ(r.DriveHoldsDisc(dir / "case/"), 0);
    EXPECT_EQ(r.DriveHoldsDisc(dir / "bigger/"), 0);
    EXPECT_EQ(r.DriveHoldsDisc(dir / "empty/"), 0);
    EXPECT_EQ(r.DriveHoldsDisc(dir / "nowhere/"), 0);
    SetDriveSystem(nullptr);
}

}  // namespace
}  // namespace orb
