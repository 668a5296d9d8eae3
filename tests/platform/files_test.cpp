// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "platform/picture.h"
#include "platform/text.h"
#include "tests/platform/fifo_guard.h"
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
    // Whatever stands under a fixed temporary name is neither used nor in the way:
    // each save makes a new file of its own.
    ASSERT_EQ(::mkdir((f + ".tmp").c_str(), 0755), 0);
    test::WriteFile(dir / "victim", "keep");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (f + ".orb.tmp").c_str()), 0);
    EXPECT_TRUE(ReplaceFileAtomically(f, "third", true));
    EXPECT_EQ(test::ReadFile(f), "third");
    EXPECT_EQ(test::ReadFile(dir / "victim"), "keep");
    // A directory in the target's place makes the write fail, with nothing left.
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    std::string err;
    EXPECT_FALSE(ReplaceFileAtomically(dir / "folder", "fourth", false, &err));
    EXPECT_FALSE(err.empty());
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 5u);  // data, data.tmp, the link, victim, folder
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

TEST(HostileFiles, FifosAndDevicesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir / "x.orb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (OpenMode mode : {OpenMode::ReadShareAll, OpenMode::ReadWriteShareAll}) {
        int fd = 0;
        EXPECT_TRUE(test::ReturnsWithoutBlockingOn(fifo, [&] { fd = OpenShared(fifo, mode); }));
        EXPECT_EQ(fd, -1);
        if (fd >= 0) ::close(fd);
    }
    std::string data = "unchanged";
    bool read = true;
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(fifo, [&] { read = ReadWholeFile(fifo, data); }));
    EXPECT_FALSE(read);
    EXPECT_TRUE(
        test::ReturnsWithoutBlockingOn(fifo, [&] { EXPECT_FALSE(DecodePictureHeader(fifo)); }));
    // A device and a directory are no regular files either.
    EXPECT_EQ(OpenRegularFile("/dev/null", false), -1);
    EXPECT_EQ(OpenRegularFile(dir.path(), false), -1);
    EXPECT_EQ(errno, EISDIR);
    test::WriteFile(dir / "plain", "abc");
    int fd = OpenRegularFile(dir / "plain", true);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);
}

TEST(SaveTargets, ReadOnlyAndSpecialFilesAreRefusedAndLinksLeadToTheirTarget) {
    TempDir dir;
    SaveTarget t;
    int err = 0;
    ASSERT_TRUE(ResolveSaveTarget(dir / "new", t, err));
    EXPECT_EQ(t.path, dir / "new");
    EXPECT_FALSE(t.exists);

    test::WriteFile(dir / "ro", "keep");
    ASSERT_EQ(::chmod((dir / "ro").c_str(), 0444), 0);
    EXPECT_FALSE(ResolveSaveTarget(dir / "ro", t, err));
    EXPECT_EQ(err, EACCES);
    std::string why;
    EXPECT_FALSE(ReplaceFileAtomically(dir / "ro", "new", true, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(test::ReadFile(dir / "ro"), "keep");

    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_FALSE(ResolveSaveTarget(dir / "fifo", t, err));
    EXPECT_EQ(err, EINVAL);

    // A chain of two links, the second one relative, ends at the real file, whose
    // permissions the new content keeps.
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    test::WriteFile(dir / "sub/real", "old");
    ASSERT_EQ(::chmod((dir / "sub/real").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("real", (dir / "sub/rel").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "sub/rel").c_str(), (dir / "abs").c_str()), 0);
    ASSERT_TRUE(ResolveSaveTarget(dir / "abs", t, err));
    EXPECT_EQ(t.path, dir / "sub/real");
    EXPECT_TRUE(t.exists);
    ASSERT_TRUE(ReplaceFileAtomically(dir / "abs", "new", true));
    EXPECT_EQ(test::ReadFile(dir / "sub/real"), "new");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "abs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat((dir / "sub/real").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A dangling link creates its target; a loop is refused.
    ASSERT_EQ(::symlink("made", (dir / "dangling").c_str()), 0);
    ASSERT_TRUE(ReplaceFileAtomically(dir / "dangling", "x", false));
    EXPECT_EQ(test::ReadFile(dir / "made"), "x");
    ASSERT_EQ(::symlink("loop", (dir / "loop").c_str()), 0);
    EXPECT_FALSE(ResolveSaveTarget(dir / "loop", t, err));
    EXPECT_EQ(err, ELOOP);
}

TEST(StoredNames, RawBytesLeadBackToTheirFile) {
    TempDir dir;
    const std::string latin1 = "caf\xE9";
    ASSERT_EQ(::mkdir((dir / latin1).c_str(), 0755), 0);
    test::WriteFile(dir / (latin1 + "/\xE9t\xE9.txt"), "");
    ASSERT_EQ(::mkdir((dir / "软件").c_str(), 0755), 0);
    test::WriteFile(dir / "软件/a.txt", "");
    // Each stored path as the program makes it from the host path.
    for (const std::string& host : {latin1 + "/\xE9t\xE9.txt", std::string("软件/a.txt"), latin1}) {
        EXPECT_EQ(HostRelativePathOfStored(dir.path(), HostPathToStored(host)), host);
    }
    EXPECT_EQ(HostRelativePathOfStored(dir.path(), "\xC8\xED\xBC\xFE\\none"), "软件/none");
}

TEST(WholeFiles, ReadToTheEndWhateverTheSizeSaysAndWithinTheLimit) {
    std::string text;
    // /proc reports a size of 0.
    ASSERT_TRUE(ReadWholeFile("/proc/self/mountinfo", text, 16 << 20));
    EXPECT_NE(text.find(" / "), std::string::npos);
    TempDir dir;
    test::WriteFile(dir / "f", std::string(10000, 'x'));
    ASSERT_TRUE(ReadWholeFile(dir / "f", text));
    EXPECT_EQ(text, std::string(10000, 'x'));
    EXPECT_TRUE(ReadWholeFile(dir / "f", text, 10000));
    EXPECT_FALSE(ReadWholeFile(dir / "f", text, 9999));
    EXPECT_TRUE(text.empty());
    test::WriteFile(dir / "empty", "");
    ASSERT_TRUE(ReadWholeFile(dir / "empty", text));
    EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace orb
