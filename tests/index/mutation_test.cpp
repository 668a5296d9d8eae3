// SPDX-License-Identifier: GPL-3.0-or-later
// Randomly damaged copies of a valid index and companion: every one must open or
// be refused cleanly, and every walk must end within the file's bound.
#include <gtest/gtest.h>

#include <random>

#include "index/index_reader.h"
#include "tests/index/index_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

std::string SampleIndex(const std::string& path) {
    CScanTree tree;
    FILETIME t = test::Time(7, 8);
    ScanNodeId a = tree.Append(kNoNode, kEntryDirectory, 0, t, "setup");
    ScanNodeId b = tree.Append(a, kEntryDirectory, 0, t, "\xB9\xA4\xBE\xDF");
    for (int i = 0; i < 6; ++i) tree.Append(b, 0, 100 + i, t, "file" + std::to_string(i) + ".exe");
    tree.Append(a, 0, 5, t, "readme.txt");
    tree.Append(kNoNode, 0, 9, t, "autorun.inf");
    IndexHeader h = test::MakeHeader("MUT", 4096, tree);
    IndexWriteOptions opt;
    opt.remark = "remark text";
    opt.cover = "GIF89a";
    EXPECT_EQ(WriteIndexFile(path, h, tree, opt), WriteResult::Ok);
    return test::ReadFile(path);
}

TEST(MutatedIndex, NeverCrashesHangsOrOverreads) {
    TempDir dir;
    const std::string path = dir / "m.orb";
    const std::string good = SampleIndex(path);
    test::Bytes orc;
    orc.i32(2).i32(88).i32(4).str("note").i32(200).i32(3).str("abc");
    const std::string goodOrc = orc.data();
    std::mt19937 rng(1234);
    int opened = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string data = good;
        std::string comp = goodOrc;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            std::string& target = (rng() % 4 == 0) ? comp : data;
            switch (rng() % 4) {
                case 0:  // flip a byte
                    if (!target.empty()) target[rng() % target.size()] = static_cast<char>(rng());
                    break;
                case 1:  // truncate
                    target.resize(rng() % (target.size() + 1));
                    break;
                case 2: {  // plant a 32-bit value
                    if (target.size() >= 4) {
                        size_t at = rng() % (target.size() - 3);
                        uint32_t v = (rng() % 2) ? rng() : static_cast<uint32_t>(rng() % 400);
                        for (int i = 0; i < 4; ++i)
                            target[at + i] = static_cast<char>(v >> (8 * i));
                    }
                    break;
                }
                default:  // append junk
                    target.append(rng() % 64, static_cast<char>(rng()));
            }
        }
        test::WriteFile(path, data);
        test::WriteFile(dir / "m.orc", comp);
        CIndexReader r;
        if (!r.Open(path, OpenMode::ReadWriteShareAll)) {
            EXPECT_FALSE(r.LastError().empty());
            continue;
        }
        ++opened;
        uint64_t budget = r.MaxEntryCount();
        uint64_t seen = test::WalkAll(r, nullptr, budget, [&](const IndexEntry& e) {
            EXPECT_LE(e.Name().size(), kMaxNameBytes);
            if (e.IsDirectory()) r.HasSubdirectory(e);
        });
        EXPECT_LE(seen, r.MaxEntryCount());
        std::string remark;
        EXPECT_EQ(r.ReadRemark(remark), 1);
        EXPECT_LE(remark.size(), data.size());
        EXPECT_LE(r.Annotations().size(), comp.size() / 8);
        if (round % 7 == 0) r.WriteRemark("new remark");
        r.Close();
    }
    EXPECT_GT(opened, 1000);
}

}  // namespace
}  // namespace orb
