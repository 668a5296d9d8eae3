// SPDX-License-Identifier: GPL-3.0-or-later
// Library file operations: companions follow, nothing is overwritten, bad names
// are refused, half-done changes are reported.
#include "library/pane/library_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_support.h"

namespace orb {
namespace {

void MakeDir(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}

TEST(LibraryNames, RefusesEmptyDotsSlashAndNul) {
    EXPECT_NE(CheckNewItemName(""), "");
    EXPECT_NE(CheckNewItemName("."), "");
    EXPECT_NE(CheckNewItemName(".."), "");
    EXPECT_NE(CheckNewItemName("a/b"), "");
    EXPECT_NE(CheckNewItemName(std::string("a\0b", 3)), "");
    EXPECT_EQ(CheckNewItemName("..."), "");
    EXPECT_EQ(CheckNewItemName("新建光盘库(1)"), "");
    EXPECT_EQ(CheckNewItemName(".hidden"), "");
}

TEST(LibraryFiles, RenameDiscTakesItsCompanionAlong) {
    test::TempDir dir;
    test::WriteFile(dir / "D.orb", "index");
    test::WriteFile(dir / "D.orc", "notes");
    LibraryFileResult r = RenameLibraryDisc(dir / "D.orb", dir / "E.orb");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_FALSE(test::FileExists(dir / "D.orb"));
    EXPECT_FALSE(test::FileExists(dir / "D.orc"));
    EXPECT_EQ(test::ReadFile(dir / "E.orb"), "index");
    EXPECT_EQ(test::ReadFile(dir / "E.orc"), "notes");

    // An upper-case extension keeps its case; the companion is ".ORc" as the
    // reader looks for it.
    test::WriteFile(dir / "U.ORB", "u");
    test::WriteFile(dir / "U.ORc", "uc");
    ASSERT_TRUE(RenameLibraryDisc(dir / "U.ORB", dir / "V.ORB").ok);
    EXPECT_EQ(test::ReadFile(dir / "V.ORc"), "uc");
}

TEST(LibraryFiles, RenameNeverOverwritesIndexOrCompanion) {
    test::TempDir dir;
    test::WriteFile(dir / "A.orb", "a");
    test::WriteFile(dir / "A.orc", "ac");
    test::WriteFile(dir / "B.orb", "b");
    LibraryFileResult r = RenameLibraryDisc(dir / "A.orb", dir / "B.orb");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.partial);
    EXPECT_NE(r.message.find("B.orb"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir / "B.orb"), "b");
    EXPECT_EQ(test::ReadFile(dir / "A.orb"), "a");

    // A stray companion under the new name would hand its notes to this disc.
    test::WriteFile(dir / "C.orc", "stray");
    r = RenameLibraryDisc(dir / "A.orb", dir / "C.orb");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(test::FileExists(dir / "A.orb"));
    EXPECT_FALSE(test::FileExists(dir / "C.orb"));
    EXPECT_EQ(test::ReadFile(dir / "C.orc"), "stray");

    MakeDir(dir / "X");
    MakeDir(dir / "Y");
    test::WriteFile(dir / "Y/keep", "k");
    EXPECT_FALSE(RenameLibraryCategory(dir / "X/", dir / "Y/").ok);
    EXPECT_EQ(test::ReadFile(dir / "Y/keep"), "k");
    EXPECT_TRUE(RenameLibraryCategory(dir / "X/", dir / "Z/").ok);
    EXPECT_EQ(RenameNoReplace(dir / "Z", dir / "Y"), EEXIST);
}

TEST(LibraryFiles, MoveDiscPairAndCategoryIntoTarget) {
    test::TempDir dir;
    MakeDir(dir / "B");
    test::WriteFile(dir / "X.orb", "x");
    test::WriteFile(dir / "X.orc", "xc");
    ASSERT_TRUE(MoveLibraryDisc(dir / "X.orb", dir / "B/").ok);
    EXPECT_EQ(test::ReadFile(dir / "B/X.orb"), "x");
    EXPECT_EQ(test::ReadFile(dir / "B/X.orc"), "xc");
    EXPECT_FALSE(test::FileExists(dir / "X.orb"));
    EXPECT_FALSE(test::FileExists(dir / "X.orc"));

    MakeDir(dir / "A");
    MakeDir(dir / "A/Sub");
    test::WriteFile(dir / "A/Sub/D.orb", "d");
    ASSERT_TRUE(MoveLibraryCategory(dir / "A/", dir / "B/").ok);
    EXPECT_EQ(test::ReadFile(dir / "B/A/Sub/D.orb"), "d");
    EXPECT_FALSE(test::FileExists(dir / "A"));

    // Into itself: refused by the system, nothing moves.
    LibraryFileResult r = MoveLibraryCategory(dir / "B/", dir / "B/A/");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(test::FileExists(dir / "B/A/Sub/D.orb"));
}

TEST(LibraryFiles, MoveOntoExistingNameFailsAndKeepsBothSides) {
    test::TempDir dir;
    MakeDir(dir / "B");
    test::WriteFile(dir / "X.orb", "mine");
    test::WriteFile(dir / "X.orc", "mine-notes");
    test::WriteFile(dir / "B/X.orb", "theirs");
    LibraryFileResult r = MoveLibraryDisc(dir / "X.orb", dir / "B");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.partial);
    EXPECT_EQ(test::ReadFile(dir / "B/X.orb"), "theirs");
    EXPECT_FALSE(test::FileExists(dir / "B/X.orc"));
    EXPECT_EQ(test::ReadFile(dir / "X.orb"), "mine");
    EXPECT_EQ(test::ReadFile(dir / "X.orc"), "mine-notes");

    // Only the companion's name is taken: the index does not move either.
    ::unlink((dir / "B/X.orb").c_str());
    test::WriteFile(dir / "B/X.orc", "theirs-notes");
    EXPECT_FALSE(MoveLibraryDisc(dir / "X.orb", dir / "B").ok);
    EXPECT_TRUE(test::FileExists(dir / "X.orb"));
    EXPECT_FALSE(test::FileExists(dir / "B/X.orb"));
    EXPECT_EQ(test::ReadFile(dir / "B/X.orc"), "theirs-notes");

    MakeDir(dir / "C");
    MakeDir(dir / "B/C");
    test::WriteFile(dir / "C/in", "1");
    test::WriteFile(dir / "B/C/other", "2");
    EXPECT_FALSE(MoveLibraryCategory(dir / "C", dir / "B/").ok);
    EXPECT_EQ(test::ReadFile(dir / "C/in"), "1");
    EXPECT_FALSE(test::FileExists(dir / "B/C/in"));
    EXPECT_EQ(test::ReadFile(dir / "B/C/other"), "2");
}

TEST(LibraryFiles, CompanionThatCannotFollowTakesTheIndexBack) {
    test::TempDir dir;
    // The companion's name is a directory, and the target is that very directory:
    // the index moves in, the companion cannot move into itself.
    MakeDir(dir / "X.orc");
    test::WriteFile(dir / "X.orb", "x");
    LibraryFileResult r = MoveLibraryDisc(dir / "X.orb", dir / "X.orc");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.partial);
    EXPECT_NE(r.message.find("X.orc"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir / "X.orb"), "x");
    EXPECT_FALSE(test::FileExists(dir / "X.orc/X.orb"));
}

TEST(LibraryFiles, DeleteDiscWithCompanionAndCategoryWithContents) {
    test::TempDir dir;
    test::WriteFile(dir / "X.orb", "x");
    test::WriteFile(dir / "X.orc", "xc");
    test::WriteFile(dir / "Y.orb", "y");
    ASSERT_TRUE(DeleteLibraryDisc(dir / "X.orb").ok);
    ASSERT_TRUE(DeleteLibraryDisc(dir / "Y.orb").ok);
    EXPECT_FALSE(test::FileExists(dir / "X.orb"));
    EXPECT_FALSE(test::FileExists(dir / "X.orc"));
    EXPECT_FALSE(DeleteLibraryDisc(dir / "Y.orb").ok);

    MakeDir(dir / "C");
    MakeDir(dir / "C/D");
    test::WriteFile(dir / "C/D/Z.orb", "z");
    ASSERT_TRUE(DeleteLibraryCategory(dir / "C/").ok);
    EXPECT_FALSE(test::FileExists(dir / "C"));
    EXPECT_FALSE(DeleteLibraryCategory(dir / "C/").ok);
}

}  // namespace
}  // namespace orb
