// SPDX-License-Identifier: GPL-3.0-or-later
#include "library/store/library_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;
using test::WriteFile;

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(CompareLibraryItems, OrderTable) {
    struct Case {
        bool cat1;
        std::string label1;
        bool cat2;
        std::string label2;
        int expected;
    } cases[] = {
        {true, "zzz", false, "aaa", -1},  // categories before discs whatever the label
        {false, "aaa", true, "zzz", 1},
        {true, "alpha", true, "Zeta", -1},  // A-Z folded
        {false, "ABC", false, "abc", 0},
        {false, "ab", false, "abc", -1},      // shorter prefix first
        {false, "z", false, "\xB0\xA1", -1},  // unsigned bytes: 0xB0 after 'z'
        // Stored (GB) order, not UTF-8 order: 啊 (B0A1) before 一 (D2BB).
        {false, HostToStored("啊"), false, HostToStored("一"), -1},
        // A trailing byte that looks like 'A' is not folded.
        {false, "\x81\x41", false, "\x81\x61", -1},
        // Only A-Z fold: '[' (0x5B) stays below the folded 'a' (0x61).
        {false, "[", false, "A", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareLibraryItems(c.cat1, c.label1, c.cat2, c.label2)), c.expected)
            << c.label1 << " vs " << c.label2;
        EXPECT_EQ(Sign(CompareLibraryItems(c.cat2, c.label2, c.cat1, c.label1)), -c.expected);
    }
}

TEST(DiscFileName, Rule) {
    struct Case {
        const char* name;
        bool disc;
        const char* label;
    } cases[] = {
        {"b.orb", true, "b"},       {"A.ORB", true, "A"},     {"x.Orb", true, "x"},
        {".orb", true, ""},         {"a.orb.txt", false, ""}, {"orb", false, ""},
        {"notes.txt", false, ""},   {"a.or", false, ""},      {"a.orc", false, ""},
        {"光盘.orb", true, "光盘"}, {"a..orb", true, "a."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsDiscFileName(c.name), c.disc) << c.name;
        if (c.disc) {
            EXPECT_EQ(DiscLabelOfFileName(c.name), c.label) << c.name;
        }
    }
}

std::vector<std::string> Labels(const std::vector<LibraryItem>& items) {
    std::vector<std::string> out;
    for (const LibraryItem& i : items) out.push_back(StoredToHost(i.label));
    return out;
}

TEST(ListLibraryLevel, CategoriesFirstThenDiscsSkippingOtherFiles) {
    TempDir dir;
    WriteFile(dir / "b.orb", "");
    WriteFile(dir / "A.ORB", "");
    WriteFile(dir / "notes.txt", "");
    WriteFile(dir / "a.orb.txt", "");
    WriteFile(dir / ".orb", "");
    WriteFile(dir / "abc.orb", "");
    MakeDir(dir / "Zeta");
    MakeDir(dir / "alpha");
    MakeDir(dir / ".hidden");
    MakeDir(dir / "abc");
    auto items = ListLibraryLevel(dir.path());
    EXPECT_EQ(Labels(items),
              (std::vector<std::string>{".hidden", "abc", "alpha", "Zeta", "", "A", "abc", "b"}));
    ASSERT_EQ(items.size(), 8u);
    EXPECT_TRUE(items[1].isCategory);
    EXPECT_EQ(items[1].hostPath, dir.path() + "/abc/");
    EXPECT_FALSE(items[6].isCategory);
    EXPECT_EQ(items[6].hostPath, dir.path() + "/abc.orb");
    EXPECT_EQ(items[5].hostPath, dir.path() + "/A.ORB");

    EXPECT_EQ(Labels(ListLibraryLevel(dir.path(), false)),
              (std::vector<std::string>{".hidden", "abc", "alpha", "Zeta"}));
    EXPECT_TRUE(ListLibraryLevel(dir / "missing").empty());
}

TEST(WalkLibrary, DepthFirstInLibraryOrder) {
    TempDir dir;
    MakeDir(dir / "b");
    MakeDir(dir / "a");
    MakeDir(dir / "a/inner");
    WriteFile(dir / "a/inner/deep.orb", "");
    WriteFile(dir / "a/Two.orb", "");
    WriteFile(dir / "a/one.orb", "");
    WriteFile(dir / "b/x.orb", "");
    WriteFile(dir / "top.orb", "");
    MakeDir(dir / "discsonly");
    WriteFile(dir / "discsonly/d.orb", "");

    std::vector<std::string> seen;
    EXPECT_TRUE(WalkLibrary(dir.path(), true, [&](const LibraryItem& i) {
        seen.push_back(std::string(i.depth, '>') + i.label + (i.isCategory ? "/" : ""));
        return true;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"a/", ">inner/", ">>deep", ">one", ">Two", "b/", ">x",
                                              "discsonly/", ">d", "top"}));

    EXPECT_EQ(
        LibraryDiscPaths(dir.path()),
        (std::vector<std::string>{dir / "a/inner/deep.orb", dir / "a/one.orb", dir / "a/Two.orb",
                                  dir / "b/x.orb", dir / "discsonly/d.orb", dir / "top.orb"}));

    // Categories only: a directory of index files is a category without children.
    seen.clear();
    WalkLibrary(dir.path(), false, [&](const LibraryItem& i) {
        seen.push_back(i.label);
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "inner", "b", "discsonly"}));

    // Stopping early.
    int count = 0;
    EXPECT_FALSE(WalkLibrary(dir.path(), true, [&](const LibraryItem&) { return ++count < 3; }));
    EXPECT_EQ(count, 3);

    // A missing library root has no items.
    EXPECT_TRUE(LibraryDiscPaths(dir / "missing").empty());
}

// The walk the library order defines, one level at a time.
void ReferenceWalk(const std::string& dir, int depth, std::vector<std::string>& out) {
    for (const LibraryItem& item : ListLibraryLevel(dir, true, depth)) {
        out.push_back(std::to_string(item.depth) + " " + item.hostPath);
        if (item.isCategory && !item.isLink) ReferenceWalk(item.hostPath, depth + 1, out);
    }
}

TEST(WalkLibrary, ManyCategoriesAndADeepChainComeInTheOrderOfOneLevelAtATime) {
    // Enough categories at the top to share them among threads, and a chain
    // deeper than the levels whose directories are kept open.
    TempDir dir;
    for (int i = 0; i < 30; ++i) {
        const std::string category = dir / ("分类" + std::to_string(i));
        MakeDir(category);
        MakeDir(category + "/sub");
        WriteFile(category + "/sub/d" + std::to_string(i) + ".orb", "");
        WriteFile(category + "/光盘.orb", "");
    }
    std::string deep = dir / "chain";
    MakeDir(deep);
    for (int level = 1; level < 80; ++level) MakeDir(deep += "/c");
    WriteFile(deep + "/bottom.orb", "");

    std::vector<std::string> expected;
    ReferenceWalk(dir.path() + "/", 0, expected);
    ASSERT_EQ(expected.size(), 30u * 4 + 80 + 1);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::string> seen;
        EXPECT_TRUE(WalkLibrary(dir.path(), true, [&](const LibraryItem& i) {
            seen.push_back(std::to_string(i.depth) + " " + i.hostPath);
            return true;
        }));
        EXPECT_EQ(seen, expected);
    }
    // Stopping inside a category handed to a thread.
    int count = 0;
    EXPECT_FALSE(WalkLibrary(dir.path(), true, [&](const LibraryItem&) { return ++count < 50; }));
    EXPECT_EQ(count, 50);
}

// A walk stopped from outside while its threads are inside categories ends,
// whenever the stop comes, and never calls itself complete unless it was.
TEST(SharedLibraryWalk, AStopFromOutsideEndsTheWalkAtAnyMoment) {
    TempDir dir;
    size_t total = 0;
    for (int c = 0; c < 6; ++c) {
        const std::string cat = dir / ("c" + std::to_string(c));
        MakeDir(cat);
        ++total;
        for (int d = 0; d < 150; ++d, ++total) MakeDir(cat + "/d" + std::to_string(d));
    }
    for (int round = 0; round < 30; ++round) {
        std::atomic<bool> stop{false};
        auto walk = std::async(std::launch::async,
                               [&] { return RecordLibraryWalk(dir.path(), true, &stop); });
        if (round % 3) std::this_thread::yield();
        stop = true;
        ASSERT_EQ(walk.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        const CSharedLibraryWalk::Recording r = walk.get();
        // A walk stopped part way never counts as complete.
        if (r.complete) {
            EXPECT_EQ(r.items.size(), total);
        }
    }
}

TEST(SharedLibraryWalk, AnAdoptedWalkIsReplayedWithoutReadingTheLibrary) {
    TempDir dir;
    MakeDir(dir / "a");
    WriteFile(dir / "a/x.orb", "");
    CSharedLibraryWalk::Recording walk = RecordLibraryWalk(dir.path(), true);
    EXPECT_TRUE(walk.complete);
    EXPECT_EQ(walk.items.size(), 2u);
    std::atomic<bool> stop{true};
    EXPECT_FALSE(RecordLibraryWalk(dir.path(), true, &stop).complete);

    WriteFile(dir / "later.orb", "");
    CSharedLibraryWalk once;
    once.Adopt(walk);
    // The root with or without its final '/' is the same library.
    EXPECT_EQ(LibraryDiscPaths(dir.path() + "/"), std::vector<std::string>{dir / "a/x.orb"});
    EXPECT_EQ(once.DirectoryWalks(), 0);
}

TEST(WalkLibrary, SymlinkLoopIsShownButNotEntered) {
    TempDir dir;
    MakeDir(dir / "a");
    WriteFile(dir / "a/disc.orb", "");
    ASSERT_EQ(::symlink((dir / "a").c_str(), (dir / "a/back").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "a/disc.orb").c_str(), (dir / "link.orb").c_str()), 0);
    std::vector<std::string> seen;
    WalkLibrary(dir.path(), true, [&](const LibraryItem& i) {
        seen.push_back(std::string(i.depth, '>') + i.label + (i.isCategory ? "/" : ""));
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"a/", ">back/", ">disc", "link"}));
}

TEST(WalkLibrary, ChainsOfDirectoryLinksAreWalkedOnce) {
    // Each level holds two links to the next one: followed, they would double the
    // walk per level (2^16 visits here).
    TempDir dir;
    constexpr int kLevels = 16;
    for (int i = 0; i <= kLevels; ++i) {
        MakeDir(dir / ("d" + std::to_string(i)));
        WriteFile(dir / ("d" + std::to_string(i) + "/disc.orb"), "");
    }
    for (int i = 0; i < kLevels; ++i) {
        const std::string next = dir / ("d" + std::to_string(i + 1));
        for (const char* name : {"/x", "/y"})
            ASSERT_EQ(::symlink(next.c_str(), (dir / ("d" + std::to_string(i)) + name).c_str()), 0);
    }
    size_t items = 0;
    size_t discs = 0;
    WalkLibrary(dir.path(), true, [&](const LibraryItem& i) {
        ++items;
        if (!i.isCategory) ++discs;
        return true;
    });
    // Every real directory once with its disc, every link once as a category.
    EXPECT_EQ(discs, static_cast<size_t>(kLevels + 1));
    EXPECT_EQ(items, static_cast<size_t>(2 * (kLevels + 1) + 2 * kLevels));
    EXPECT_EQ(LibraryDiscPaths(dir.path()).size(), static_cast<size_t>(kLevels + 1));
}

// A link to a folder outside the library, or to "/", is listed but not followed:
// searching would otherwise read every index on the machine.
TEST(WalkLibrary, LinkOutOfTheLibraryIsListedButNotEntered) {
    TempDir lib;
    TempDir outside;
    MakeDir(outside / "shared");
    WriteFile(outside / "shared/ext.orb", "");
    ASSERT_EQ(::symlink((outside / "shared").c_str(), (lib / "one").c_str()), 0);
    ASSERT_EQ(::symlink("/", (lib / "root").c_str()), 0);
    WriteFile(lib / "own.orb", "");
    std::vector<std::string> seen;
    WalkLibrary(lib.path(), true, [&](const LibraryItem& i) {
        seen.push_back(std::string(i.depth, '>') + i.label + (i.isCategory ? "/" : ""));
        return true;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"one/", "root/", "own"}));
    EXPECT_EQ(LibraryDiscPaths(lib.path()), (std::vector<std::string>{lib / "own.orb"}));
}

}  // namespace
}  // namespace orb
