// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged headers and hostile files around an index: remark and cover writes that
// would land in the wrong place are refused with the file left as it was, and
// files that are not regular files are refused without blocking.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "index/index_reader.h"
#include "tests/index/index_test_util.h"
#include "tests/platform/fifo_guard.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

constexpr size_t kRemarkOffsetAt = kMagicSize + offsetof(IndexHeader, remarkOffset);
constexpr size_t kCoverOffsetAt = kMagicSize + offsetof(IndexHeader, coverOffset);

const std::string kGif = std::string("GIF89a") + std::string("\x02\x00\x03\x00", 4) + "rest";

// An index with two levels of records, a remark and a decodable cover.
std::string WriteSample(const std::string& path) {
    CScanTree tree;
    FILETIME t = test::Time(1, 2);
    ScanNodeId d = tree.Append(kNoNode, kEntryDirectory, 0, t, "tools");
    tree.Append(d, 0, 10, t, "a.exe");
    tree.Append(d, 0, 20, t, "b.exe");
    tree.Append(kNoNode, 0, 30, t, "readme.txt");
    IndexHeader h = test::MakeHeader("HOSTILE", 650000000, tree);
    IndexWriteOptions opt;
    opt.remark = "old remark";
    opt.cover = kGif;
    EXPECT_EQ(WriteIndexFile(path, h, tree, opt), WriteResult::Ok);
    return test::ReadFile(path);
}

void Put32(std::string& data, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>(v >> (8 * i));
}

struct Damage {
    const char* what;
    std::function<void(std::string&)> apply;
};

TEST(DamagedLayout, RemarkAndCoverWritesRefusedAndFileUnchanged) {
    TempDir dir;
    const std::string path = dir / "d.orb";
    const std::string good = WriteSample(path);
    const std::string picture = dir / "new.gif";
    test::WriteFile(picture, kGif + "longer");
    const uint32_t remarkAt =
        GetLE32(reinterpret_cast<const unsigned char*>(good.data()) + kRemarkOffsetAt);
    const std::vector<Damage> damages = {
        {"remark offset 0", [](std::string& d) { Put32(d, kRemarkOffsetAt, 0); }},
        {"remark offset near 4 GiB",
         [](std::string& d) { Put32(d, kRemarkOffsetAt, 0xFFFFFFF8u); }},
        {"remark offset inside the records",
         [](std::string& d) { Put32(d, kRemarkOffsetAt, kFirstEntryOffset + 40); }},
        {"remark offset inside the header", [](std::string& d) { Put32(d, kRemarkOffsetAt, 50); }},
        {"cover offset not after the remark",
         [&](std::string& d) { Put32(d, kCoverOffsetAt, remarkAt + 1); }},
        {"bytes after the cover", [](std::string& d) { d += "trailing"; }},
        {"cover cut short", [](std::string& d) { d.resize(d.size() - 3); }},
    };
    for (const Damage& damage : damages) {
        std::string bad = good;
        damage.apply(bad);
        test::WriteFile(path, bad);
        CIndexReader r;
        ASSERT_EQ(r.Open(path, OpenMode::ReadWriteShareAll), 1) << damage.what;
        EXPECT_EQ(r.WriteRemark("hello"), 0) << damage.what;
        EXPECT_NE(r.LastError().find("文件未作改动"), std::string::npos) << damage.what;
        EXPECT_EQ(r.ReplaceCover(picture), 0) << damage.what;
        EXPECT_NE(r.LastError().find("文件未作改动"), std::string::npos) << damage.what;
        EXPECT_TRUE(r.Close());
        EXPECT_EQ(test::ReadFile(path), bad) << damage.what;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(static_cast<size_t>(st.st_size), bad.size()) << damage.what;
    }
}

TEST(DamagedLayout, RecordLinkedPastTheRemarkIsRefused) {
    // A sibling link that leads into the remark: the record "read" there would be
    // overwritten by a new remark, so the layout is not the writers'.
    TempDir dir;
    const std::string path = dir / "l.orb";
    std::string bad = WriteSample(path);
    const uint32_t remarkAt =
        GetLE32(reinterpret_cast<const unsigned char*>(bad.data()) + kRemarkOffsetAt);
    // The last top-level record is readme.txt; find it and link it onward.
    size_t at = bad.find("readme.txt");
    ASSERT_NE(at, std::string::npos);
    size_t record = at - kRecordFixedSize;
    Put32(bad, record + 4, remarkAt - 10);
    test::WriteFile(path, bad);
    CIndexReader r;
    ASSERT_EQ(r.Open(path, OpenMode::ReadWriteShareAll), 1);
    EXPECT_EQ(r.WriteRemark("x"), 0);
    EXPECT_TRUE(r.Close());
    EXPECT_EQ(test::ReadFile(path), bad);
}

TEST(DamagedLayout, ConsistentIndexStillTakesRemarkAndCover) {
    TempDir dir;
    const std::string path = dir / "ok.orb";
    WriteSample(path);
    const std::string picture = dir / "new.gif";
    test::WriteFile(picture, kGif + "longer");
    CIndexReader r;
    ASSERT_EQ(r.Open(path, OpenMode::ReadWriteShareAll), 1);
    ASSERT_EQ(r.WriteRemark("a much longer remark than before"), 1) << r.LastError();
    ASSERT_EQ(r.ReplaceCover(picture), 1) << r.LastError();
    ASSERT_EQ(r.WriteRemark(""), 1) << r.LastError();
    EXPECT_TRUE(r.Close());
    ASSERT_EQ(r.Open(path, OpenMode::ReadShareAll), 1);
    std::string remark;
    r.ReadRemark(remark);
    EXPECT_EQ(remark, "");
    EXPECT_NE(r.Picture(), nullptr);
    uint64_t budget = 100;
    EXPECT_EQ(test::WalkAll(r, nullptr, budget), 4u);
    EXPECT_EQ(r.Header().coverOffset + r.Header().coverSize, test::ReadFile(path).size());
}

TEST(HostileFiles, FifoIndexOrCompanionNeverBlocks) {
    TempDir dir;
    const std::string fifo = dir / "X.orb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    IndexHeader h;
    int probed = 1;
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(fifo, [&] { probed = ProbeIndexHeader(fifo, h); }));
    EXPECT_EQ(probed, 0);
    CIndexReader r;
    int opened = 1;
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(
        fifo, [&] { opened = r.Open(fifo, OpenMode::ReadWriteShareAll); }));
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(r.LastError(), "打开文件失败!");

    // A real index whose companion is a FIFO opens without annotations.
    const std::string path = dir / "real.orb";
    WriteSample(path);
    const std::string orc = CompanionPath(path);
    ASSERT_EQ(::mkfifo(orc.c_str(), 0644), 0);
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(
        orc, [&] { opened = r.Open(path, OpenMode::ReadShareAll); }));
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(r.Annotations().empty());
    // A picture that is a FIFO is refused as a cover.
    const std::string pic = dir / "cover.gif";
    ASSERT_EQ(::mkfifo(pic.c_str(), 0644), 0);
    CIndexReader w;
    ASSERT_EQ(w.Open(path, OpenMode::ReadWriteShareAll), 1);
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(pic, [&] { EXPECT_EQ(w.ReplaceCover(pic), 0); }));
}

}  // namespace
}  // namespace orb
