// SPDX-License-Identifier: GPL-3.0-or-later
#include "favorites/store/favorite_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;

const std::string kTools = "\xB9\xA4\xBE\xDF";  // 工具 in code page 936

std::string kToolsFileBytes() {
    return std::string("\xFB\xFD\x04\xB9\xA4\xBE\xDF\x01\xFC");
}

// One item as the file holds it.
Bytes& Category(Bytes& b, const std::string& name) {
    return b.u8(FAV_ITEM).u8(static_cast<uint8_t>(name.size())).str(name).u8(1);
}
Bytes& Software(Bytes& b, const std::string& name, const std::string& disc,
                const std::string& inDisc, const std::string& remark) {
    b.u8(FAV_ITEM).u8(static_cast<uint8_t>(name.size())).str(name).u8(0);
    b.u8(static_cast<uint8_t>(disc.size())).str(disc);
    b.u8(static_cast<uint8_t>(inDisc.size())).str(inDisc);
    return b.u32(static_cast<uint32_t>(remark.size())).str(remark);
}

// Two top-level categories, three levels deep, software with and without remarks
// and locations.
std::string SampleFile() {
    Bytes b;
    b.u8(FAV_BEGIN);
    Category(b, kTools).u8(FAV_DOWN);
    Software(b, "WinRAR", "\xC8\xED\xBC\xFE\\disc01.orb", "tools\\winrar.exe",
             "line one\r\nline two");
    Category(b, "net").u8(FAV_DOWN);
    Software(b, "ftp", "disc02.orb", "net\\ftp", "");
    Software(b, "no location", "", "", "x");
    b.u8(FAV_UP).u8(FAV_UP);
    Category(b, "empty");
    Software(b, "top", "a\\b.orb", "setup.exe", "");
    b.u8(FAV_END);
    return b.data();
}

TEST(FavoriteCodec, EmptyTreeAndOneCategoryHaveFixedBytes) {
    std::string out;
    ASSERT_EQ(EncodeFavorites({}, out), FavoriteStatus::Ok);
    EXPECT_EQ(out, "\xFB\xFC");

    FavoriteNode tools;
    tools.item.name = kTools;
    ASSERT_EQ(EncodeFavorites({tools}, out), FavoriteStatus::Ok);
    EXPECT_EQ(out, std::string("\xFB\xFD\x04\xB9\xA4\xBE\xDF\x01\xFC"));
}

TEST(FavoriteCodec, CategoryWithSoftwareChildIsNestedWithDownAndUp) {
    FavoriteNode cat;
    cat.item.name = "c";
    FavoriteNode sw;
    sw.item.name = "s";
    sw.item.kind = kFavoriteSoftware;
    sw.item.software = FavoriteSoftware{"d.orb", "p", ""};
    cat.children.push_back(sw);
    FavoriteNode next;
    next.item.name = "n";
    std::string out;
    ASSERT_EQ(EncodeFavorites({cat, next}, out), FavoriteStatus::Ok);
    Bytes b;
    b.u8(FAV_BEGIN);
    Category(b, "c").u8(FAV_DOWN);
    Software(b, "s", "d.orb", "p", "").u8(FAV_UP);  // remark length 00 00 00 00, no bytes
    Category(b, "n").u8(FAV_END);
    EXPECT_EQ(out, b.data());
}

TEST(FavoriteCodec, RoundTripIsByteIdentical) {
    std::string file = SampleFile();
    FavoriteReadResult read = DecodeFavorites(file);
    ASSERT_EQ(read.status, FavoriteStatus::Ok);
    ASSERT_EQ(read.items.size(), 3u);
    const FavoriteNode& tools = read.items[0];
    EXPECT_EQ(tools.item.name, kTools);
    EXPECT_TRUE(tools.item.IsCategory());
    ASSERT_EQ(tools.children.size(), 2u);
    const FavoriteItem& winrar = tools.children[0].item;
    ASSERT_TRUE(winrar.software);
    EXPECT_EQ(winrar.software->remark, "line one\r\nline two");
    EXPECT_EQ(winrar.software->pathInDisc, "tools\\winrar.exe");
    EXPECT_TRUE(winrar.software->HasLocation());
    ASSERT_EQ(tools.children[1].children.size(), 2u);
    EXPECT_FALSE(tools.children[1].children[1].item.software->HasLocation());
    EXPECT_TRUE(read.items[1].children.empty());
    EXPECT_EQ(read.items[2].item.name, "top");

    std::string again;
    ASSERT_EQ(EncodeFavorites(read.items, again), FavoriteStatus::Ok);
    EXPECT_EQ(again, file);
}

TEST(FavoriteCodec, ReaderRules) {
    // Any kind byte but 0 is a category; stray bytes between items are ignored;
    // FAV_DOWN before any item and FAV_UP at the top level change nothing.
    Bytes b;
    b.u8(FAV_BEGIN).u8(FAV_DOWN).u8(FAV_UP).u8(0x41);
    b.u8(FAV_ITEM).u8(1).str("k").u8(7);
    b.u8(0x00).u8(FAV_UP);
    Category(b, "z").u8(FAV_END);
    FavoriteReadResult read = DecodeFavorites(b.data());
    ASSERT_EQ(read.status, FavoriteStatus::Ok);
    ASSERT_EQ(read.items.size(), 2u);
    EXPECT_EQ(read.items[0].item.kind, kFavoriteCategory);
    EXPECT_EQ(read.items[1].item.name, "z");

    // FAV_DOWN descends into the last item created, even after climbing out of it.
    Bytes c;
    c.u8(FAV_BEGIN);
    Category(c, "a").u8(FAV_DOWN);
    Category(c, "b").u8(FAV_UP).u8(FAV_DOWN);
    Category(c, "c").u8(FAV_UP).u8(FAV_UP).u8(FAV_END);
    read = DecodeFavorites(c.data());
    ASSERT_EQ(read.status, FavoriteStatus::Ok);
    ASSERT_EQ(read.items.size(), 1u);
    ASSERT_EQ(read.items[0].children.size(), 1u);
    ASSERT_EQ(read.items[0].children[0].children.size(), 1u);
    EXPECT_EQ(read.items[0].children[0].children[0].item.name, "c");
}

TEST(FavoriteCodec, EveryTruncationKeepsOnlyCompleteItems) {
    std::string file = SampleFile();
    size_t previous = 0;
    for (size_t n = 1; n < file.size(); ++n) {
        FavoriteReadResult read = DecodeFavorites(std::string_view(file).substr(0, n));
        ASSERT_EQ(read.status, FavoriteStatus::Damaged) << n;
        EXPECT_LE(read.damageOffset, n);
        // The items kept grow with the prefix and never contain a half item.
        size_t count = 0;
        std::vector<const FavoriteNode*> stack;
        for (auto& node : read.items) stack.push_back(&node);
        while (!stack.empty()) {
            const FavoriteNode* node = stack.back();
            stack.pop_back();
            ++count;
            if (node->item.kind == kFavoriteSoftware) {
                ASSERT_TRUE(node->item.software);
            }
            for (auto& child : node->children) stack.push_back(&child);
        }
        EXPECT_GE(count, previous) << n;
        previous = count;
    }
    EXPECT_EQ(previous, 7u);  // the last cut loses only the end marker
}

TEST(FavoriteCodec, DamageIsReportedNotFollowed) {
    struct Case {
        const char* what;
        std::string data;
        FavoriteStatus status;
        size_t kept;
    };
    auto withFirst = [](Bytes tail) {
        Bytes b;
        b.u8(FAV_BEGIN);
        Category(b, "ok");
        return b.data() + tail.data();
    };
    std::vector<Case> cases = {
        {"empty file", "", FavoriteStatus::NotFavorites, 0},
        {"wrong first byte", "\xFA\xFC", FavoriteStatus::NotFavorites, 0},
        {"no end marker", withFirst(Bytes()), FavoriteStatus::Damaged, 1},
        {"name past the end", withFirst(Bytes().u8(FAV_ITEM).u8(50).str("abc")),
         FavoriteStatus::Damaged, 1},
        {"huge remark length",
         withFirst(Bytes().u8(FAV_ITEM).u8(1).str("s").u8(0).u8(0).u8(0).u32(0x7FFFFFFF).str("r")),
         FavoriteStatus::Damaged, 1},
        {"negative remark length",
         withFirst(Bytes()
                       .u8(FAV_ITEM)
                       .u8(1)
                       .str("s")
                       .u8(0)
                       .u8(0)
                       .u8(0)
                       .u32(0x80000000)
                       .str(std::string(64, 'r'))),
         FavoriteStatus::Damaged, 1},
        {"remark length cut",
         withFirst(Bytes().u8(FAV_ITEM).u8(1).str("s").u8(0).u8(0).u8(0).u8(3)),
         FavoriteStatus::Damaged, 1},
    };
    for (const Case& c : cases) {
        FavoriteReadResult read = DecodeFavorites(c.data);
        EXPECT_EQ(read.status, c.status) << c.what;
        EXPECT_EQ(read.items.size(), c.kept) << c.what;
    }
}

TEST(FavoriteCodec, NestingIsBoundedOnReadAndWrite) {
    Bytes b;
    b.u8(FAV_BEGIN);
    for (int i = 0; i < 100000; ++i) Category(b, "d").u8(FAV_DOWN);
    b.u8(FAV_END);
    FavoriteReadResult read = DecodeFavorites(b.data());
    EXPECT_EQ(read.status, FavoriteStatus::Damaged);
    size_t depth = 0;
    for (const FavoriteNode* n = read.items.empty() ? nullptr : &read.items[0]; n;
         n = n->children.empty() ? nullptr : &n->children[0])
        ++depth;
    EXPECT_EQ(depth, kFavoriteMaxDepth);
    std::string out;
    EXPECT_EQ(EncodeFavorites(read.items, out), FavoriteStatus::Ok);

    FavoriteNode deeper;
    deeper.item.name = "top";
    deeper.children = std::move(read.items);
    EXPECT_EQ(EncodeFavorites({deeper}, out), FavoriteStatus::TooDeep);
}

TEST(FavoriteCodec, RecordsThatCannotBeStoredAreRefused) {
    FavoriteNode longName;
    longName.item.name = std::string(256, 'n');
    FavoriteNode longPath;
    longPath.item.name = "s";
    longPath.item.kind = kFavoriteSoftware;
    longPath.item.software = FavoriteSoftware{std::string(256, 'p'), "x", ""};
    std::string out = "unchanged";
    EXPECT_EQ(EncodeFavorites({longName}, out), FavoriteStatus::NameTooLong);
    EXPECT_EQ(EncodeFavorites({longPath}, out), FavoriteStatus::PathTooLong);
    EXPECT_EQ(out, "unchanged");
}

TEST(FavoriteFile, WritesThroughATemporaryFile) {
    test::TempDir dir;
    std::string path = dir / "favorite.dat";
    test::WriteFile(path, "old contents");
    FavoriteNode tools;
    tools.item.name = kTools;
    ASSERT_EQ(WriteFavoritesFile(path, {tools}), FavoriteStatus::Ok);
    EXPECT_EQ(test::ReadFile(path), std::string("\xFB\xFD\x04\xB9\xA4\xBE\xDF\x01\xFC"));
    EXPECT_FALSE(test::FileExists(path + ".tmp"));

    FavoriteReadResult read = ReadFavoritesFile(path);
    EXPECT_EQ(read.status, FavoriteStatus::Ok);
    EXPECT_EQ(read.items.size(), 1u);
    EXPECT_EQ(ReadFavoritesFile(dir / "missing.dat").status, FavoriteStatus::CannotOpen);

    // A record that cannot be written leaves the old file alone.
    FavoriteNode bad;
    bad.item.name = std::string(300, 'x');
    EXPECT_EQ(WriteFavoritesFile(path, {bad}), FavoriteStatus::NameTooLong);
    EXPECT_EQ(read.items.size(), 1u);
    EXPECT_EQ(ReadFavoritesFile(path).items.size(), 1u);
    EXPECT_EQ(WriteFavoritesFile(dir / "no/such/dir/favorite.dat", {}),
              FavoriteStatus::CannotWrite);
}

TEST(FavoritePaths, DiscPathInLibrary) {
    struct Case {
        const char* library;
        std::string index;
        FavoriteStatus status;
        std::string disc;
    };
    std::string longName(240, 'x');
    std::vector<Case> cases = {
        {"/home/u/Kelvane光盘库/", "/home/u/Kelvane光盘库/软件/disc01.orb", FavoriteStatus::Ok,
         "\xC8\xED\xBC\xFE\\disc01.orb"},
        {"/home/u/lib", "/home/u/lib/a/b.orb", FavoriteStatus::Ok, "a\\b.orb"},
        {"/home/u/lib/", "/home/u/LIB/x.orb", FavoriteStatus::OutsideLibrary, ""},
        {"/home/u/lib", "/home/u/lib2/x.orb", FavoriteStatus::OutsideLibrary, ""},
        {"/home/u/lib/", "/home/u/lib/../x.orb", FavoriteStatus::OutsideLibrary, ""},
        {"/home/u/lib/", "/home/u/lib/", FavoriteStatus::OutsideLibrary, ""},
        {"", "/x.orb", FavoriteStatus::OutsideLibrary, ""},
        // A full path past 260 bytes is fine while the part kept fits the record.
        {"/home/u/lib/", "/home/u/lib/" + longName + "/x.orb", FavoriteStatus::Ok,
         longName + "\\x.orb"},
        {"/home/u/lib/", "/home/u/lib/" + longName + "/" + std::string(20, 'y') + ".orb",
         FavoriteStatus::PathTooLong, ""},
    };
    for (const Case& c : cases) {
        std::string disc;
        EXPECT_EQ(DiscPathInLibrary(c.library, c.index, disc), c.status) << c.index;
        EXPECT_EQ(disc, c.disc) << c.index;
    }
}

TEST(FavoritePaths, MovedDiscPathFollowsADiscOrEverythingBelowACategory) {
    std::string out = "untouched";
    EXPECT_TRUE(MovedDiscPath("A\\X.orb", "A\\X.orb", "B\\X.orb", out));
    EXPECT_EQ(out, "B\\X.orb");
    EXPECT_TRUE(MovedDiscPath("A\\Sub\\S.orb", "A", "C\\A", out));
    EXPECT_EQ(out, "C\\A\\Sub\\S.orb");
    out = "untouched";
    EXPECT_FALSE(MovedDiscPath("AB\\X.orb", "A", "C", out));  // a sibling sharing a prefix
    EXPECT_FALSE(MovedDiscPath("a\\X.orb", "A", "C", out));   // letter case counts
    EXPECT_FALSE(MovedDiscPath("X.orb", "", "C", out));
    // A category whose last character ends in the byte 5C; and a result past
    // 255 bytes, which does not fit a record.
    EXPECT_TRUE(MovedDiscPath("\x81\x5C\\X.orb", "\x81\x5C", "N", out));
    EXPECT_EQ(out, "N\\X.orb");
    out = "untouched";
    EXPECT_FALSE(MovedDiscPath(std::string(200, 'a') + "\\X.orb", std::string(200, 'a'),
                               std::string(250, 'b'), out));
    EXPECT_EQ(out, "untouched");
}

TEST(FavoritePaths, IndexPathOfDiscStaysInTheLibrary) {
    EXPECT_EQ(IndexPathOfDisc("/lib", "\xC8\xED\xBC\xFE\\disc01.orb"), "/lib/软件/disc01.orb");
    EXPECT_EQ(IndexPathOfDisc("/lib/", "..\\etc\\x.orb"), "");
    EXPECT_EQ(IndexPathOfDisc("/lib/", "a\\.\\x.orb"), "");
    EXPECT_EQ(IndexPathOfDisc("/lib/", "\\x.orb"), "");
    EXPECT_EQ(IndexPathOfDisc("/lib/", ""), "");
}

TEST(FavoritePaths, SplitCategoryPath) {
    std::vector<std::string> a, b;
    ASSERT_EQ(SplitCategoryPath("a\\b", a), FavoriteStatus::Ok);
    ASSERT_EQ(SplitCategoryPath("a\\b\\", b), FavoriteStatus::Ok);
    EXPECT_EQ(a, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(a, b);
    EXPECT_EQ(SplitCategoryPath("", a), FavoriteStatus::NameEmpty);
    EXPECT_EQ(SplitCategoryPath("\\\\", a), FavoriteStatus::NameEmpty);
    // 0x5C as the trailing byte of a double-byte character is no separator.
    ASSERT_EQ(SplitCategoryPath("a\\\x95\x5C"
                                "b\\c",
                                a),
              FavoriteStatus::Ok);
    EXPECT_EQ(a, (std::vector<std::string>{"a",
                                           "\x95\x5C"
                                           "b",
                                           "c"}));
    EXPECT_EQ(SplitCategoryPath("ok\\" + std::string(99, 'n'), a), FavoriteStatus::Ok);
    EXPECT_EQ(SplitCategoryPath("ok\\" + std::string(100, 'n'), a), FavoriteStatus::NameTooLong);
}

// Runs fn on a thread and reports whether it returned within 10 s; a FIFO that
// fn blocked on is opened for writing to set it free before failing.
bool ReturnsWithoutBlocking(const std::function<void()>& fn, const std::string& fifo) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        fn();
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool returned = done;
    if (!returned) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    t.join();
    return returned;
}

TEST(FavoriteFile, HostileFilesAreNeitherWaitedOnNorReplaced) {
    test::TempDir dir;
    const std::string path = dir / "favorite.dat";

    // A FIFO under the name: reading does not block and is not "missing"; a save
    // does not replace it.
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    FavoriteReadResult read;
    EXPECT_TRUE(ReturnsWithoutBlocking([&] { read = ReadFavoritesFile(path); }, path));
    EXPECT_EQ(read.status, FavoriteStatus::CannotOpen);
    EXPECT_FALSE(read.missing);
    EXPECT_TRUE(ReturnsWithoutBlocking(
        [&] { EXPECT_EQ(WriteFavoritesFile(path, {}), FavoriteStatus::CannotWrite); }, path));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ::unlink(path.c_str());

    read = ReadFavoritesFile(path);
    EXPECT_EQ(read.status, FavoriteStatus::CannotOpen);
    EXPECT_TRUE(read.missing);

    // A read-only file (another user's in a shared folder) is kept as it is.
    test::WriteFile(path, kToolsFileBytes());
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    std::string error;
    EXPECT_EQ(WriteFavoritesFile(path, {}, &error), FavoriteStatus::CannotWrite);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(test::ReadFile(path), kToolsFileBytes());
    EXPECT_FALSE(test::FileExists(path + ".tmp"));
    ::unlink(path.c_str());

    // A link is saved through: it stays a link and its target gets the new tree.
    const std::string target = dir / "elsewhere.dat";
    test::WriteFile(target, "\xFB\xFC");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("elsewhere.dat", path.c_str()), 0);
    FavoriteNode tools;
    tools.item.name = kTools;
    ASSERT_EQ(WriteFavoritesFile(path, {tools}), FavoriteStatus::Ok);
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test::ReadFile(target), kToolsFileBytes());
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFavoritesFile(path).items.size(), 1u);
}

TEST(FavoritePaths, IndexPathOfDiscFindsARawFileName) {
    // A Latin-1 "café.orb" is no UTF-8: its bytes are stored as they are, and must
    // lead back to the same file, also inside a UTF-8 category.
    test::TempDir lib;
    const std::string raw = "caf\xE9.orb";
    ASSERT_EQ(::mkdir((lib / "软件").c_str(), 0755), 0);
    test::WriteFile(lib / raw, "");
    test::WriteFile(lib / ("软件/" + raw), "");
    test::WriteFile(lib / "软件/disc01.orb", "");
    for (const std::string& relative : {raw, "软件/" + raw, std::string("软件/disc01.orb")}) {
        std::string disc;
        ASSERT_EQ(DiscPathInLibrary(lib.path(), lib / relative, disc), FavoriteStatus::Ok);
        EXPECT_EQ(IndexPathOfDisc(lib.path(), disc), lib.path() + "/" + relative);
    }
    // A stored path that leads nowhere is still decoded the usual way.
    EXPECT_EQ(IndexPathOfDisc(lib.path(), "\xC8\xED\xBC\xFE\\gone.orb"),
              lib.path() + "/软件/gone.orb");
}

}  // namespace
}  // namespace orb
