// SPDX-License-Identifier: GPL-3.0-or-later
// Duplicates across discs over a generated library with known groups.
#include "audit/duplicates.h"

#include <gtest/gtest.h>

#include "index/index_writer.h"
#include "library/store/library_store.h"
#include "tests/audit/audit_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

struct FileSpec {
    const char* dir;  // "" or one directory name
    const char* name;
    uint64_t size;
};

void WriteDisc(const std::string& path, const std::string& label,
               const std::vector<FileSpec>& files) {
    CScanTree tree;
    std::vector<std::pair<std::string, ScanNodeId>> dirs;
    for (const FileSpec& f : files) {
        ScanNodeId parent = kNoNode;
        if (*f.dir) {
            for (auto& d : dirs)
                if (d.first == f.dir) parent = d.second;
            if (parent == kNoNode) {
                parent = tree.Append(kNoNode, kEntryDirectory, 0, FILETIME{}, f.dir);
                dirs.emplace_back(f.dir, parent);
            }
        }
        tree.Append(parent, 0, f.size, UnixToFileTime(1700000000, 0), f.name);
    }
    IndexHeader h;
    SetHeaderLabel(h, label);
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    ASSERT_EQ(WriteIndexFile(path, h, tree), WriteResult::Ok);
}

class DuplicatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::MakeDir(tmp_ / "软件");
        WriteDisc(tmp_ / "软件/A.orb", "A",
                  {{"tools", "setup.exe", 1000},
                   {"", "readme.txt", 10},
                   {"", "only-a", 500},
                   {"", "empty.txt", 0}});
        WriteDisc(tmp_ / "B.orb", "B",
                  {{"", "SETUP.EXE", 1000},
                   {"", "readme.txt", 10},
                   {"", "empty.txt", 0},
                   {"iso", "big.iso", 5000000},
                   {"", "readme.txt", 11}});
        WriteDisc(tmp_ / "C.orb", "C",
                  {{"", "setup.exe", 1000},
                   {"x", "setup.exe", 1000},
                   {"", "movie.avi", 5000000},
                   {"", "twice.txt", 7},
                   {"y", "twice.txt", 7}});
        // Many unique files: none of them may become a group.
        std::vector<FileSpec> many;
        static std::vector<std::string> names;
        for (int i = 0; i < 3000; ++i) names.push_back("f" + std::to_string(i));
        for (int i = 0; i < 3000; ++i) many.push_back({"", names[i].c_str(), 100u + i});
        WriteDisc(tmp_ / "D.orb", "D", many);
        test::WriteFile(tmp_ / "broken.orb", "ORB");
        paths_ = LibraryDiscPaths(tmp_.path());
        ASSERT_EQ(paths_.size(), 5u);
    }
    TempDir tmp_;
    std::vector<std::string> paths_;
};

std::string Describe(const DupeResult& r, const DupeGroup& g) {
    std::string s = std::to_string(g.size) + ":";
    for (const DupeCopy& c : g.copies) s += " " + r.discs[c.disc].label + "|" + c.dirPath + c.name;
    return s;
}

TEST_F(DuplicatesTest, SameNameAndSizeOnTwoDiscsMostWastedFirst) {
    DupeResult r = FindDuplicates(paths_, DupeOptions{});
    ASSERT_EQ(r.groups.size(), 2u);
    // Names compare with A-Z folded; copies on one disc count once the group
    // spans two discs; the walk order is kept within a group.
    EXPECT_EQ(Describe(r, r.groups[0]),
              "1000: A|A:\\tools\\setup.exe B|B:\\SETUP.EXE C|C:\\setup.exe C|C:\\x\\setup.exe");
    EXPECT_EQ(r.groups[0].Wasted(), 3000u);
    EXPECT_EQ(Describe(r, r.groups[1]), "10: A|A:\\readme.txt B|B:\\readme.txt");
    EXPECT_EQ(r.failed, std::vector<std::string>{tmp_ / "broken.orb"});
    // The first pass leaves only the real copies as candidates.
    EXPECT_LE(r.candidates, 10u);
    EXPECT_GT(r.filesSeen, 3000u);
}

TEST_F(DuplicatesTest, SizeAloneAboveTheChosenSize) {
    DupeOptions o;
    o.sizeOnly = true;
    o.minSize = 1000000;
    DupeResult r = FindDuplicates(paths_, o);
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(Describe(r, r.groups[0]), "5000000: B|B:\\iso\\big.iso C|C:\\movie.avi");
    o.minSize = 5000001;
    EXPECT_TRUE(FindDuplicates(paths_, o).groups.empty());
}

TEST_F(DuplicatesTest, ProgressCountsBothPassesAndStopEnds) {
    std::vector<size_t> seen;
    FindDuplicates(paths_, DupeOptions{}, [&](size_t done, size_t total) {
        EXPECT_EQ(total, 10u);
        seen.push_back(done);
    });
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen.back(), 10u);
    std::atomic<bool> stop{true};
    DupeResult r = FindDuplicates(paths_, DupeOptions{}, {}, &stop);
    EXPECT_TRUE(r.stopped);
    EXPECT_TRUE(r.groups.empty());
}

}  // namespace
}  // namespace orb
