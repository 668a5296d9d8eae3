// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged and hostile index files: each opens with a clear error or lists a
// bounded result; nothing hangs or allocates past the file's size.
#include <gtest/gtest.h>

#include <functional>

#include "index/index_reader.h"
#include "tests/index/index_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;
using test::TempDir;

Bytes Header(uint32_t files, uint32_t dirs, uint32_t remarkOff, uint32_t remarkLen,
             uint32_t coverOff, uint32_t coverLen) {
    Bytes b;
    b.str("ORBF").u8(0x20).fixed("BAD", 50).zeros(5).u64(2048).u32(files).u32(dirs);
    b.u32(remarkOff).u32(remarkLen).u32(coverOff).u32(coverLen);
    return b;
}

Bytes& Record(Bytes& b, int32_t child, int32_t next, uint32_t flags, const std::string& name) {
    b.i32(child).i32(next).u32(flags).u32(0).u32(1).u32(0).u32(0);
    b.u8(static_cast<uint8_t>(name.size())).str(name);
    return b;
}

struct DamagedCase {
    const char* what;
    std::function<std::string()> build;
    uint64_t expectVisits;
};

TEST(DamagedIndex, WalksEndEarlyInsteadOfLooping) {
    const DamagedCase cases[] = {
        {"child link past the end",
         [] {
             Bytes b = Header(0, 1, 200, 0, 200, 0);
             return Record(b, 100000, -1, 1, "dir").data();
         },
         1},
        {"sibling link to itself",
         [] {
             Bytes b = Header(1, 0, 200, 0, 200, 0);
             return Record(b, -1, 92, 0, "f").data();
         },
         1},
        {"sibling link backwards",
         [] {
             Bytes b = Header(2, 0, 200, 0, 200, 0);
             Record(b, -1, 122, 0, "a");
             return Record(b, -1, 92, 0, "b").data();
         },
         2},
        {"child link back to its parent",
         [] {
             Bytes b = Header(0, 2, 200, 0, 200, 0);
             Record(b, 122, -1, 1, "a");
             return Record(b, 92, -1, 1, "b").data();
         },
         2},
        {"negative link",
         [] {
             Bytes b = Header(0, 1, 200, 0, 200, 0);
             return Record(b, -5, -7, 1, "d").data();
         },
         1},
        {"link into the header",
         [] {
             Bytes b = Header(0, 1, 200, 0, 200, 0);
             return Record(b, 10, -1, 1, "d").data();
         },
         1},
        {"record cut short",
         [] { return Header(1, 0, 200, 0, 200, 0).str("\xFF\xFF\xFF\xFF\xFF").data(); }, 0},
        {"name running past the end",
         [] {
             Bytes b = Header(1, 0, 200, 0, 200, 0);
             b.i32(-1).i32(-1).u32(0).u32(0).u32(1).u32(0).u32(0).u8(200).str("abc");
             return b.data();
         },
         0},
        {"counts zero with bytes at 92",
         [] {
             Bytes b = Header(0, 0, 92, 0, 92, 0);
             return Record(b, -1, -1, 0, "ghost").data();
         },
         0},
        {"remark at 92 with nonzero counts",
         [] { return Header(5, 5, 92, 40, 132, 0).str(std::string(40, 'r')).data(); }, 0},
        {"no entries, cover at 92", [] { return Header(0, 0, 92, 0, 92, 6).str("GIF89a").data(); },
         0},
    };
    for (const DamagedCase& c : cases) {
        TempDir dir;
        test::WriteFile(dir / "d.orb", c.build());
        CIndexReader r;
        ASSERT_EQ(r.Open(dir / "d.orb", OpenMode::ReadShareAll), 1) << c.what;
        uint64_t budget = 1000000;
        EXPECT_EQ(test::WalkAll(r, nullptr, budget), c.expectVisits) << c.what;
        EXPECT_LE(c.expectVisits, r.MaxEntryCount()) << c.what;
    }
}

TEST(DamagedIndex, SharedSubtreesStayWithinTheFilesBound) {
    // Every directory links both its child and its sibling to the next record: a
    // chain of n records that a naive walk visits 2^n times.
    Bytes b = Header(0, 40, 0, 0, 0, 0);
    for (int i = 0; i < 40; ++i) {
        int32_t next = 92 + (i + 1) * 31;
        Record(b, i < 39 ? next : -1, i < 39 ? next : -1, 1, "dd");
    }
    TempDir dir;
    test::WriteFile(dir / "d.orb", b.data());
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "d.orb", OpenMode::ReadShareAll), 1);
    // A walker that honours the bound ends quickly: (1332 - 92) / 29 records.
    uint64_t budget = r.MaxEntryCount();
    EXPECT_EQ(budget, 42u);
    EXPECT_EQ(test::WalkAll(r, nullptr, budget), 42u);
}

TEST(DamagedIndex, OversizedRemarkAndCoverAreNotTrusted) {
    TempDir dir;
    Bytes b = Header(1, 0, 126, 0x7FFFFFF0, 126, 0x7FFFFFF0);
    Record(b, -1, -1, 0, "a.txt").str("remark");
    test::WriteFile(dir / "d.orb", b.data());
    CIndexReader r;
    ASSERT_EQ(r.Open(dir / "d.orb", OpenMode::ReadShareAll), 1);
    EXPECT_EQ(r.Picture(), nullptr);
    std::string remark;
    ASSERT_EQ(r.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "remark");  // what the file holds, no more
    EXPECT_EQ(test::ListIds(r, nullptr).size(), 1u);
}

TEST(DamagedCompanion, KeepsTheRecordsReadSoFar) {
    struct Case {
        const char* what;
        std::string companion;
        size_t expect;
    };
    const Case cases[] = {
        {"huge count", Bytes().i32(0x7FFFFFFF).i32(88).i32(1).str("a").data(), 1},
        {"negative count", Bytes().i32(-3).i32(88).i32(1).str("a").data(), 0},
        {"length past the end",
         Bytes().i32(2).i32(88).i32(1).str("a").i32(99).i32(1000000).str("xy").data(), 1},
        {"negative length", Bytes().i32(1).i32(88).i32(-1).data(), 0},
        {"cut inside a record header", Bytes().i32(2).i32(88).i32(0).i32(5).data(), 1},
        {"shorter than the count", std::string("\x01\x00", 2), 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        CScanTree tree;
        tree.Append(kNoNode, 0, 1, {}, "f");
        IndexHeader h = test::MakeHeader("X", 1, tree);
        ASSERT_EQ(WriteIndexFile(dir / "a.orb", h, tree), WriteResult::Ok);
        test::WriteFile(dir / "a.orc", c.companion);
        CIndexReader r;
        ASSERT_EQ(r.Open(dir / "a.orb", OpenMode::ReadShareAll), 1) << c.what;
        EXPECT_EQ(r.Annotations().size(), c.expect) << c.what;
    }
}

}  // namespace
}  // namespace orb
