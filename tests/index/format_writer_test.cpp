// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "index/index_format.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/text.h"
#include "tests/index/index_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;
using test::TempDir;

Bytes HeaderBytes(const std::string& label, uint64_t cap, uint32_t files, uint32_t dirs,
                  uint32_t remarkOff, uint32_t remarkLen, uint32_t coverOff, uint32_t coverLen) {
    Bytes b;
    b.str("ORBF").u8(0x20).fixed(label, 50).zeros(5).u64(cap).u32(files).u32(dirs);
    b.u32(remarkOff).u32(remarkLen).u32(coverOff).u32(coverLen);
    return b;
}

TEST(IndexWriter, OneFileDiscMatchesTheByteLayout) {
    TempDir dir;
    CScanTree tree;
    tree.Append(kNoNode, 0, 3000, test::Time(0x11223344, 0x01D00000), "A.TXT");
    IndexHeader h = test::MakeHeader("CD1", 650000000, tree);
    int records = 0;
    IndexWriteOptions opt;
    opt.onRecordWritten = [&] { ++records; };
    ASSERT_EQ(WriteIndexFile(dir / "a.orb", h, tree, opt), WriteResult::Ok);
    EXPECT_EQ(records, 1);

    Bytes want = HeaderBytes("CD1", 650000000, 1, 0, 126, 0, 126, 0);
    want.i32(-1).i32(-1).u32(0).u32(0).u32(3000).u32(0x11223344).u32(0x01D00000).u8(5).str("A.TXT");
    ASSERT_EQ(want.size(), 92u + 29u + 5u);
    EXPECT_EQ(test::ReadFile(dir / "a.orb"), want.data());
    EXPECT_FALSE(test::FileExists(dir / "a.orb.tmp"));
}

TEST(IndexWriter, DirectoriesPrecedeTheirContentsAndLinksAreRewritten) {
    // tools/ (x.exe, sub/ (y)), readme — depth first, remark and cover after.
    TempDir dir;
    CScanTree tree;
    FILETIME t = test::Time(1, 2);
    ScanNodeId tools = tree.Append(kNoNode, kEntryDirectory, 0, t, "tools");
    tree.Append(tools, 0, 5000000000ULL, t, "x.exe");
    ScanNodeId sub = tree.Append(tools, kEntryDirectory, 0, t, "sub");
    tree.Append(kNoNode, 0, 7, t, "readme");
    tree.Append(sub, 0, 1, t, "y");
    IndexHeader h = test::MakeHeader("DATA", 1, tree);
    IndexWriteOptions opt;
    opt.remark = "hi";
    opt.cover = "COVER";
    ASSERT_EQ(WriteIndexFile(dir / "b.orb", h, tree, opt), WriteResult::Ok);

    // Offsets: tools 92 (+34), x.exe 126 (+34), sub 160 (+32), y 192 (+30),
    // readme 222 (+35), end 257.
    Bytes want = HeaderBytes("DATA", 1, 3, 2, 257, 2, 259, 5);
    auto rec = [&](int32_t child, int32_t next, uint32_t flags, uint64_t size,
                   const std::string& name) {
        want.i32(child).i32(next).u32(flags).u32(static_cast<uint32_t>(size >> 32));
        want.u32(static_cast<uint32_t>(size)).u32(1).u32(2).u8(static_cast<uint8_t>(name.size()));
        want.str(name);
    };
    rec(126, 222, 1, 0, "tools");
    rec(-1, 160, 0, 5000000000ULL, "x.exe");
    rec(192, -1, 1, 0, "sub");
    rec(-1, -1, 0, 1, "y");
    rec(-1, -1, 0, 7, "readme");
    want.str("hi").str("COVER");
    EXPECT_EQ(test::ReadFile(dir / "b.orb"), want.data());
    // The tree learns its record offsets and links.
    EXPECT_EQ(tree.Node(tools).item.recordOffset, 92);
    EXPECT_EQ(tree.Node(tools).item.firstChild, 92 + 29 + 5);
    EXPECT_EQ(tree.Node(sub).item.nextSibling, -1);
}

TEST(IndexWriter, EmptyDiscHasNoRecords) {
    TempDir dir;
    CScanTree tree;
    IndexHeader h = test::MakeHeader("EMPTY", 2048, tree);
    ASSERT_EQ(WriteIndexFile(dir / "e.orb", h, tree), WriteResult::Ok);
    EXPECT_EQ(test::ReadFile(dir / "e.orb"), HeaderBytes("EMPTY", 2048, 0, 0, 92, 0, 92, 0).data());
}

TEST(IndexWriter, NamesAreCutToWholeCharactersWithin255Bytes) {
    CScanTree tree;
    std::string exact(255, 'n');
    std::string longer = std::string(254, 'a') + "\xB9\xA4";  // 256 bytes, last char split
    ScanNodeId a = tree.Append(kNoNode, 0, 0, {}, exact);
    ScanNodeId b = tree.Append(kNoNode, 0, 0, {}, longer);
    EXPECT_EQ(tree.Name(a).size(), 255u);
    EXPECT_EQ(tree.Name(b), std::string(254, 'a'));
    TempDir dir;
    IndexHeader h = test::MakeHeader("L", 0, tree);
    ASSERT_EQ(WriteIndexFile(dir / "n.orb", h, tree), WriteResult::Ok);
    std::string file = test::ReadFile(dir / "n.orb");
    EXPECT_EQ(static_cast<unsigned char>(file[92 + 28]), 255u);
    // No terminator follows a name: the next record starts right after it.
    EXPECT_EQ(file.size(), 92u + 29 + 255 + 29 + 254);
}

TEST(IndexWriter, FailureLeavesAnExistingFileUntouched) {
    TempDir dir;
    test::WriteFile(dir / "keep.orb", "old contents");
    CScanTree tree;
    tree.Append(kNoNode, 0, 1, {}, "f");
    IndexHeader h = test::MakeHeader("X", 0, tree);
    IndexWriteOptions opt;
    opt.tempPath = dir / "no-such-dir/keep.tmp";
    std::string err;
    EXPECT_EQ(WriteIndexFile(dir / "keep.orb", h, tree, opt, &err), WriteResult::CreateFailed);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(test::ReadFile(dir / "keep.orb"), "old contents");
    EXPECT_EQ(WriteIndexFile(dir / "missing/x.orb", h, tree), WriteResult::CreateFailed);
}

TEST(ScanTree, AppendsInOrderAndCounts) {
    CScanTree tree;
    ScanNodeId d = tree.Append(kNoNode, kEntryDirectory, 0, {}, "d");
    ScanNodeId f1 = tree.Append(d, 0, 1, {}, "f1");
    ScanNodeId top = tree.Append(kNoNode, 0, 1, {}, "top");
    ScanNodeId f2 = tree.Append(d, 0, 1, {}, "f2");
    EXPECT_EQ(tree.Head(), d);
    EXPECT_EQ(tree.Node(d).nextSibling, top);
    EXPECT_EQ(tree.Node(top).prevSibling, d);
    EXPECT_EQ(tree.Node(d).firstChild, f1);
    EXPECT_EQ(tree.Node(f1).nextSibling, f2);
    EXPECT_EQ(tree.Node(f2).prevSibling, f1);
    EXPECT_EQ(tree.Node(f2).parent, d);
    EXPECT_EQ(tree.FileCount(), 3u);
    EXPECT_EQ(tree.DirectoryCount(), 1u);
    EXPECT_EQ(tree.Node(f1).item.recordOffset, -1);
}

TEST(Companion, PathReplacesTheLastCharacter) {
    EXPECT_EQ(CompanionPath("/disc/lib/a.orb"), "/disc/lib/a.orc");
    EXPECT_EQ(CompanionPath("/disc/lib/a.ORB"), "/disc/lib/a.ORc");
    EXPECT_EQ(CompanionPath("/x/index.dat"), "/x/index.dac");
}

}  // namespace
}  // namespace orb
