// SPDX-License-Identifier: GPL-3.0-or-later
// Duplicates across discs over a generated library with known groups.
#include "audit/duplicates.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "audit/index_walk.h"
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

TEST_F(DuplicatesTest, AnIndexWhoseRecordsDoNotAddUpIsWalkedAsATree) {
    // Disc B's header now counts one entry more than its records hold: the file
    // order scan cannot vouch for every entry, so the tree walk decides.
    std::string b = test::ReadFile(tmp_ / "B.orb");
    b[kMagicSize + 64] = static_cast<char>(b[kMagicSize + 64] + 1);
    test::WriteFile(tmp_ / "B.orb", b);
    DupeResult r = FindDuplicates(paths_, DupeOptions{});
    ASSERT_EQ(r.groups.size(), 2u);
    EXPECT_EQ(Describe(r, r.groups[0]),
              "1000: A|A:\\tools\\setup.exe B|B:\\SETUP.EXE C|C:\\setup.exe C|C:\\x\\setup.exe");
    EXPECT_EQ(Describe(r, r.groups[1]), "10: A|A:\\readme.txt B|B:\\readme.txt");
}

// The file-order scan must know every entry and its directory exactly as the
// tree walk does, on a disc with directories nested at random.
TEST(FlatRecordsTest, SameEntriesAndDirectoriesAsTheTreeWalk) {
    TempDir tmp;
    std::mt19937 rng(7);
    CScanTree tree;
    std::vector<ScanNodeId> dirs{kNoNode};
    for (int i = 0; i < 600; ++i) {
        const ScanNodeId parent = dirs[rng() % dirs.size()];
        const bool dir = rng() % 4 == 0;
        const ScanNodeId n =
            tree.Append(parent, dir ? kEntryDirectory : 0, rng() % 5000,
                        FILETIME{static_cast<uint32_t>(i), 1}, "n" + std::to_string(i));
        if (dir) dirs.push_back(n);
    }
    IndexHeader h;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    const std::string path = tmp / "t.orb";
    ASSERT_EQ(WriteIndexFile(path, h, tree), WriteResult::Ok);

    using Seen = std::map<int32_t, std::string>;
    Seen walked, scanned;
    CIndexReader reader;
    ASSERT_TRUE(reader.Open(path, OpenMode::ReadShareAll));
    WalkIndex(reader, [&](const IndexEntry& e, int32_t id, const std::string& dirPath) {
        walked[id] = dirPath + std::string(e.Name()) + "|" + std::to_string(e.Size()) + "|" +
                     std::to_string(e.writeTime.dwLowDateTime);
        return true;
    });
    CFlatRecords flat;
    ASSERT_TRUE(flat.Open(path));
    ASSERT_TRUE(flat.TrackDirectories());
    FlatRecord r;
    while (flat.Next(r)) {
        ASSERT_NE(r.dir, kFlatUnreached);
        scanned[r.id] = flat.DirPath(r.dir) + std::string(r.name) + "|" + std::to_string(r.size) +
                        "|" + std::to_string(r.writeTime.dwLowDateTime);
    }
    EXPECT_TRUE(flat.Whole());
    EXPECT_EQ(walked.size(), 600u);
    EXPECT_EQ(scanned, walked);

    // Cut inside the records: the scan stops, and says it did not see them all.
    std::string bytes = test::ReadFile(path);
    test::WriteFile(path, bytes.substr(0, bytes.size() / 2));
    CFlatRecords cut;
    ASSERT_TRUE(cut.Open(path));
    uint64_t n = 0;
    while (cut.Next(r)) ++n;
    EXPECT_LT(n, 600u);
    EXPECT_FALSE(cut.Whole());
}

}  // namespace
}  // namespace orb
