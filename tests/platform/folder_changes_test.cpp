// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/folder_changes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

class FolderChangesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char real[PATH_MAX];
        ASSERT_NE(::realpath(dir_.path().c_str(), real), nullptr);
        root_ = real;
        ASSERT_EQ(::mkdir((root_ + "/lib").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((root_ + "/lib/a").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((root_ + "/lib/b").c_str(), 0755), 0);
        Write(root_ + "/lib/a/disc.orb", "first");
    }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    // Whether the folder is still as it was at the look before the last Take.
    bool Quiet(const CFolderChanges::Watched& f) {
        const uint64_t before = changes_.Look();
        changes_.Take();
        return changes_.Unchanged(f, before);
    }
    TempDir dir_;
    std::string root_;
    CFolderChanges changes_;
};

// Whatever can change a file's bytes or which file its name leads to is reported
// for its folder alone; reading is not.
TEST_F(FolderChangesTest, ReportsChangesToFilesInTheirFolderOnly) {
    auto a = changes_.Watch(root_ + "/lib/a");
    auto b = changes_.Watch(root_ + "/lib/b/");  // a trailing separator is the same folder
    ASSERT_TRUE(a && b);
    EXPECT_EQ(changes_.Watch(root_ + "//lib/a"), a);
    const std::string disc = root_ + "/lib/a/disc.orb";
    EXPECT_TRUE(Quiet(*a));
    std::string text;
    std::ifstream(disc) >> text;
    EXPECT_EQ(text, "first");
    EXPECT_TRUE(Quiet(*a));

    // Each change is reported once: a later look vouches again.
    Write(disc, "second");
    EXPECT_FALSE(Quiet(*a));
    EXPECT_TRUE(Quiet(*a));
    EXPECT_TRUE(changes_.Unchanged(*b, 0));

    const struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, disc.c_str(), times, 0), 0);
    EXPECT_FALSE(Quiet(*a));
    Write(root_ + "/lib/a/new.tmp", "third");
    EXPECT_FALSE(Quiet(*a));
    ASSERT_EQ(::rename((root_ + "/lib/a/new.tmp").c_str(), disc.c_str()), 0);
    EXPECT_FALSE(Quiet(*a));
    ASSERT_EQ(::unlink(disc.c_str()), 0);
    EXPECT_FALSE(Quiet(*a));
    EXPECT_TRUE(changes_.Unchanged(*b, 0));

    // Written through a second name in another folder: only the file's own watch
    // hears of it.
    Write(disc, "fifth");
    auto file = changes_.WatchFile(disc);
    ASSERT_TRUE(file);
    ASSERT_EQ(::link(disc.c_str(), (root_ + "/lib/b/other-name").c_str()), 0);
    EXPECT_FALSE(Quiet(*file));
    EXPECT_TRUE(Quiet(*a) && Quiet(*file));
    Write(root_ + "/lib/b/other-name", "sixth");
    EXPECT_FALSE(Quiet(*file));
    EXPECT_TRUE(changes_.Unchanged(*a, changes_.Look() - 1));
    bool missing = false;
    EXPECT_EQ(changes_.WatchFile(root_ + "/lib/a/none", &missing), nullptr);
    EXPECT_TRUE(missing);
    // A link may lead where nothing is watched: not watched itself.
    ASSERT_EQ(::symlink(disc.c_str(), (root_ + "/lib/b/link").c_str()), 0);
    EXPECT_EQ(changes_.WatchFile(root_ + "/lib/b/link", &missing), nullptr);
    EXPECT_FALSE(missing);
    ASSERT_EQ(::unlink((root_ + "/lib/b/link").c_str()), 0);
    EXPECT_TRUE(Quiet(*a));
    // Replaced: the watch followed the old file, and is gone.
    Write(root_ + "/lib/a/new.tmp", "seventh");
    ASSERT_EQ(::rename((root_ + "/lib/a/new.tmp").c_str(), disc.c_str()), 0);
    ASSERT_EQ(::unlink((root_ + "/lib/b/other-name").c_str()), 0);
    EXPECT_FALSE(Quiet(*a));
    EXPECT_TRUE(file->Gone());

    // Not taken in yet: a caller must Take before it trusts a look.
    const uint64_t look = changes_.Look();
    Write(disc, "fourth");
    EXPECT_TRUE(changes_.Unchanged(*a, look));
    changes_.Take();
    EXPECT_FALSE(changes_.Unchanged(*a, look));
}

// A watched folder moved or deleted anywhere on the path, or its rights changed,
// leaves no path vouched for; other folders come and go freely. A folder behind a
// link is never vouched for.
TEST_F(FolderChangesTest, WatchedFoldersMovedReportEverything) {
    auto a = changes_.Watch(root_ + "/lib/a");
    auto b = changes_.Watch(root_ + "/lib/b");
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(Quiet(*b));
    ASSERT_EQ(::mkdir((root_ + "/lib/c").c_str(), 0755), 0);
    ASSERT_EQ(::rename((root_ + "/lib/c").c_str(), (root_ + "/lib/d").c_str()), 0);
    ASSERT_EQ(::rmdir((root_ + "/lib/d").c_str()), 0);
    EXPECT_TRUE(Quiet(*b));

    ASSERT_EQ(::chmod((root_ + "/lib/a").c_str(), 0700), 0);
    EXPECT_FALSE(Quiet(*b));
    EXPECT_TRUE(Quiet(*b));

    // Elsewhere now: what was said under the old name no longer holds, and every
    // watch is gone until watched again, as the paths are now.
    ASSERT_EQ(::rename((root_ + "/lib").c_str(), (root_ + "/moved").c_str()), 0);
    EXPECT_FALSE(Quiet(*b));
    EXPECT_TRUE(a->Gone() && b->Gone());
    EXPECT_FALSE(Quiet(*b));
    EXPECT_EQ(changes_.Watch(root_ + "/lib/a"), nullptr);
    ASSERT_EQ(::rename((root_ + "/moved").c_str(), (root_ + "/lib").c_str()), 0);
    a = changes_.Watch(root_ + "/lib/a");
    b = changes_.Watch(root_ + "/lib/b");
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(Quiet(*a));
    ASSERT_EQ(::rmdir((root_ + "/lib/b").c_str()), 0);
    EXPECT_FALSE(Quiet(*a));
    EXPECT_TRUE(b->Gone());

    // Something mounted over a watched folder reports nothing there; the mount
    // table tells (where this process may mount at all).
    a = changes_.Watch(root_ + "/lib/a");
    ASSERT_TRUE(a);
    EXPECT_TRUE(Quiet(*a));
    ASSERT_EQ(::mkdir((root_ + "/other").c_str(), 0755), 0);
    if (::mount((root_ + "/other").c_str(), (root_ + "/lib/a").c_str(), nullptr, MS_BIND,
                nullptr) == 0) {
        EXPECT_FALSE(Quiet(*a));
        EXPECT_TRUE(a->Gone());
        ASSERT_EQ(::umount((root_ + "/lib/a").c_str()), 0);
    }

    ASSERT_EQ(::symlink((root_ + "/lib").c_str(), (root_ + "/link").c_str()), 0);
    EXPECT_EQ(changes_.Watch(root_ + "/link/a"), nullptr);
    EXPECT_EQ(changes_.Watch("relative/a"), nullptr);
    EXPECT_EQ(changes_.Watch(root_ + "/missing"), nullptr);
}

}  // namespace
}  // namespace orb
