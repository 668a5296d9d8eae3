#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

TEST(FileTime, ConvertsFromUnixTime) {
    FILETIME ft = UnixToFileTime(0, 0);
    EXPECT_EQ(FileTimeToU64(ft), 116444736000000000ULL);
    ft = UnixToFileTime(1, 500);
    EXPECT_EQ(FileTimeToU64(ft), 116444736000000000ULL + 10000000ULL + 5);
    EXPECT_EQ(FileTimeToUnixSeconds(UnixToFileTime(1700000000, 0)), 1700000000);
    FILETIME split = U64ToFileTime(0x0123456789ABCDEFULL);
    EXPECT_EQ(split.dwHighDateTime, 0x01234567u);
    EXPECT_EQ(split.dwLowDateTime, 0x89ABCDEFu);
}

TEST(TempFiles, AreNewEmptyAndUnique) {
    TempDir dir;
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        std::string p = MakeTempFile("orb");
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.rfind(dir.path() + "/orb", 0), 0u) << p;
        EXPECT_TRUE(test::FileExists(p));
        EXPECT_EQ(test::ReadFile(p), "");
        EXPECT_TRUE(seen.insert(p).second);
    }
    unsetenv("TMPDIR");
}

TEST(ShareModes, DenyWriteIsHonouredBetweenOpeners) {
    TempDir dir;
    std::string f = dir / "a.orb";
    test::WriteFile(f, "ORBF");

    int exclusive = OpenShared(f, OpenMode::ReadWriteShareRead);
    ASSERT_GE(exclusive, 0);
    // Others may still read, but not write.
    int reader = OpenShared(f, OpenMode::ReadShareAll);
    EXPECT_GE(reader, 0);
    EXPECT_LT(OpenShared(f, OpenMode::ReadWriteShareAll), 0);
    EXPECT_LT(OpenShared(f, OpenMode::ReadWriteShareRead), 0);
    ::close(exclusive);
    int writer = OpenShared(f, OpenMode::ReadWriteShareAll);
    EXPECT_GE(writer, 0);
    // While a writer has it open, nobody may deny writing.
    EXPECT_LT(OpenShared(f, OpenMode::ReadWriteShareRead), 0);
    int writer2 = OpenShared(f, OpenMode::ReadWriteShareAll);
    EXPECT_GE(writer2, 0);
    ::close(writer);
    ::close(writer2);
    ::close(reader);
    int again = OpenShared(f, OpenMode::ReadWriteShareRead);
    EXPECT_GE(again, 0);
    ::close(again);
    EXPECT_LT(OpenShared(dir / "missing.orb", OpenMode::ReadShareAll), 0);
    EXPECT_LT(OpenShared(dir.path(), OpenMode::ReadShareAll), 0);
}

TEST(AtomicReplace, LeavesOldFileOnFailure) {
    TempDir dir;
    std::string f = dir / "data";
    ASSERT_TRUE(ReplaceFileAtomically(f, "first", true));
    EXPECT_EQ(test::ReadFile(f), "first");
    ASSERT_TRUE(ReplaceFileAtomically(f, "second", false));
    EXPECT_EQ(test::ReadFile(f), "second");
    EXPECT_FALSE(test::FileExists(f + ".tmp"));
    // A directory where the temporary file must go makes the write fail.
    ASSERT_EQ(::mkdir((f + ".tmp").c_str(), 0755), 0);
    std::string err;
    EXPECT_FALSE(ReplaceFileAtomically(f, "third", true, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(test::ReadFile(f), "second");
    // A link under the temporary name is not written through.
    ASSERT_EQ(::rmdir((f + ".tmp").c_str()), 0);
    test::WriteFile(dir / "victim", "keep");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (f + ".tmp").c_str()), 0);
    EXPECT_FALSE(ReplaceFileAtomically(f, "fourth", false));
    EXPECT_EQ(test::ReadFile(dir / "victim"), "keep");
    EXPECT_EQ(test::ReadFile(f), "second");
}

TEST(DirectoryListing, ReportsKindsSizesAndDoesNotFollowLinks) {
    TempDir dir;
    test::WriteFile(dir / "f.bin", std::string(3000, 'x'));
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(".", (dir / "loop").c_str()), 0);
    std::map<std::string, DirEntry> got;
    ASSERT_TRUE(ListDirectory(dir.path(), [&](const DirEntry& e) {
        got[e.name] = e;
        return true;
    }));
    ASSERT_EQ(got.size(), 5u);  // . .. f.bin sub loop
    EXPECT_TRUE(got["."].isDirectory);
    EXPECT_EQ(got["f.bin"].size, 3000u);
    EXPECT_FALSE(got["f.bin"].isDirectory);
    EXPECT_GT(FileTimeToU64(got["f.bin"].writeTime), 116444736000000000ULL);
    EXPECT_TRUE(got["sub"].isDirectory);
    EXPECT_TRUE(got["loop"].isSymlink);
    EXPECT_FALSE(got["loop"].isDirectory);
    EXPECT_FALSE(ListDirectory(dir / "missing", [](const DirEntry&) { return true; }));
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

}  // namespace
}  // namespace orb
