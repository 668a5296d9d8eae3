// SPDX-License-Identifier: GPL-3.0-or-later
// Saves on a library shared by several windows or machines: publishing never
// replaces a file that appeared meanwhile, two writers lose nothing, a full disk
// or a moved disc never costs the old files. Run as on a local file system, as on
// NFS (renameat2 refuses RENAME_NOREPLACE) and as on SMB (link is refused too).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <string>

#include "favorites/store/favorite_store.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "platform/fault_point.h"
#include "platform/files.h"
#include "platform/lock_file.h"
#include "tests/support/test_support.h"

namespace {
std::atomic<int> g_siteErrno[8];  // per fault site: the errno it fails with, 0 to go on
}  // namespace

extern "C" int OrbFaultHook(int site) {
    return site > 0 && site < 8 ? g_siteErrno[site].load() : 0;
}

namespace orb {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

enum class Fs { Local, NfsLike, SmbLike };

std::string FsName(const ::testing::TestParamInfo<Fs>& info) {
    return info.param == Fs::Local ? "Local" : info.param == Fs::NfsLike ? "NfsLike" : "SmbLike";
}

void Fail(FaultSite site, int err) {
    g_siteErrno[static_cast<int>(site)] = err;
}

void SetFileSystem(Fs fs) {
    for (auto& e : g_siteErrno) e = 0;
    if (fs != Fs::Local) Fail(FaultSite::RenameNoReplace, EINVAL);
    if (fs == Fs::SmbLike) Fail(FaultSite::Link, EPERM);
}

CScanTree Tree(int files, const std::string& tag) {
    CScanTree tree;
    ScanNodeId d = tree.Append(kNoNode, kEntryDirectory, 0, FILETIME{}, "d");
    for (int i = 0; i < files; ++i)
        tree.Append(d, 0, static_cast<uint64_t>(i), FILETIME{},
                    tag + std::to_string(i) + std::string(80, 'n'));
    return tree;
}

std::string WriteDisc(const std::string& path, const std::string& remark = "rem",
                      const std::string& cover = "", bool replace = true) {
    CScanTree tree = Tree(3, "f");
    IndexHeader h;
    SetHeaderLabel(h, "DISC");
    h.capacity = 650000000;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    IndexWriteOptions opt;
    opt.remark = remark;
    opt.cover = cover;
    opt.replaceExisting = replace;
    EXPECT_EQ(WriteIndexFile(path, h, tree, opt), WriteResult::Ok);
    return path;
}

std::string Gif(int width, size_t size, char fill) {
    std::string g("GIF89a", 6);
    g += static_cast<char>(width);
    g += std::string("\x00\x05\x00", 3);
    return g + std::string(size, fill);
}

size_t TempCount(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().extension() == ".tmp";
    return n;
}

class SharedSaves : public ::testing::TestWithParam<Fs> {
protected:
    void SetUp() override { SetFileSystem(GetParam()); }
    void TearDown() override { SetFileSystem(Fs::Local); }
    TempDir dir;
};

TEST_P(SharedSaves, PublishingNeverReplacesWhatAppearedMeanwhile) {
    WriteFile(dir / "new", "new");
    WriteFile(dir / "there", "there");
    EXPECT_EQ(PublishNoReplace(dir / "new", dir / "there"), EEXIST);
    EXPECT_EQ(ReadFile(dir / "there"), "there");
    EXPECT_EQ(ReadFile(dir / "new"), "new");
    EXPECT_EQ(PublishNoReplace(dir / "new", dir / "free"), 0);
    EXPECT_EQ(ReadFile(dir / "free"), "new");
    EXPECT_FALSE(test::FileExists(dir / "new"));

    // Folders (categories) the same way.
    std::filesystem::create_directories(dir / "a/x");
    std::filesystem::create_directories(dir / "b/y");
    EXPECT_EQ(PublishNoReplace(dir / "a", dir / "b"), EEXIST);
    EXPECT_TRUE(std::filesystem::exists(dir / "a/x"));
    EXPECT_TRUE(std::filesystem::exists(dir / "b/y"));
    EXPECT_EQ(PublishNoReplace(dir / "a", dir / "c"), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "c/x"));

    // A scan to a new name: a disc catalogued there meanwhile is kept whole.
    const std::string disc = WriteDisc(dir / "disc.orb", "first", "", false);
    const std::string first = ReadFile(disc);
    CScanTree other = Tree(2000, "other");
    IndexHeader h;
    h.fileCount = other.FileCount();
    h.dirCount = other.DirectoryCount();
    IndexWriteOptions opt;
    opt.replaceExisting = false;
    EXPECT_EQ(WriteIndexFile(disc, h, other, opt), WriteResult::WriteFailed);
    EXPECT_EQ(ReadFile(disc), first);
    EXPECT_EQ(TempCount(dir.path()), 0u);
}

// Two processes catalogue different discs to one new name at once: one wins, the
// other reports failure, and the file is the winner's, whole.
TEST_P(SharedSaves, ConcurrentScansToOneNameNeverSplice) {
    CScanTree trees[2] = {Tree(20000, "a"), Tree(20000, "b")};
    std::string expected[2];
    for (int k = 0; k < 2; ++k) {
        IndexHeader h;
        h.fileCount = trees[k].FileCount();
        h.dirCount = trees[k].DirectoryCount();
        ASSERT_EQ(WriteIndexFile(dir / ("ref" + std::to_string(k)), h, trees[k]), WriteResult::Ok);
        expected[k] = ReadFile(dir / ("ref" + std::to_string(k)));
    }
    for (int round = 0; round < 5; ++round) {
        const std::string out = dir / ("r" + std::to_string(round) + ".orb");
        pid_t kids[2];
        for (int k = 0; k < 2; ++k) {
            kids[k] = ::fork();
            ASSERT_GE(kids[k], 0);
            if (kids[k] == 0) {
                IndexHeader h;
                h.fileCount = trees[k].FileCount();
                h.dirCount = trees[k].DirectoryCount();
                IndexWriteOptions opt;
                opt.replaceExisting = false;
                ::_exit(WriteIndexFile(out, h, trees[k], opt) == WriteResult::Ok ? 0 : 1);
            }
        }
        int ok[2];
        for (int k = 0; k < 2; ++k) {
            int status = 0;
            ASSERT_EQ(::waitpid(kids[k], &status, 0), kids[k]);
            ASSERT_TRUE(WIFEXITED(status));
            ok[k] = WEXITSTATUS(status) == 0;
        }
        ASSERT_EQ(ok[0] + ok[1], 1) << "round " << round;
        EXPECT_EQ(ReadFile(out), expected[ok[0] ? 0 : 1]) << "round " << round;
    }
    EXPECT_EQ(TempCount(dir.path()), 0u);
}

// A full disk during each save: the save says so, the old files stay whole, and
// the disc takes the next edit once there is room again.
TEST_P(SharedSaves, FullDiskLeavesOldFilesWholeAndTheDiscWritable) {
    const std::string disc = WriteDisc(dir / "d.orb", "old remark", Gif(7, 200000, 'o'));
    WriteFile(CompanionPath(disc), std::string("\x01\0\0\0\x58\0\0\0\x03\0\0\0old", 15));
    WriteFile(dir / "new.gif", Gif(9, 300000, 'n'));
    std::string favorites;
    ASSERT_EQ(EncodeFavorites({FavoriteNode{{"cat", kFavoriteCategory, {}}, {}}}, favorites),
              FavoriteStatus::Ok);
    WriteFile(dir / "favorite.dat", favorites);
    const std::string oldIndex = ReadFile(disc);
    const std::string oldNotes = ReadFile(CompanionPath(disc));

    Fail(FaultSite::Write, ENOSPC);
    {
        CIndexReader r;
        ASSERT_EQ(r.Open(disc, OpenMode::ReadWriteShareAll), 1);
        EXPECT_EQ(r.WriteRemark(std::string(100000, 'R')), 0);
        EXPECT_EQ(r.LastError(), "写入文件失败!");
        EXPECT_EQ(r.ReplaceCover(dir / "new.gif"), 0);
        EXPECT_EQ(r.LastError(), "写入文件失败!");
        std::string remark;
        ASSERT_EQ(r.ReadRemark(remark), 1);
        EXPECT_EQ(remark, "old remark");
        r.SetAnnotation(88, "new note");
        EXPECT_FALSE(r.SaveAnnotations());
        EXPECT_EQ(r.LastError(), "注释文件保存失败!");
        EXPECT_TRUE(r.AnnotationsChanged());  // the edit is kept for the next save
        EXPECT_EQ(ReadFile(disc), oldIndex);
        EXPECT_EQ(ReadFile(CompanionPath(disc)), oldNotes);

        Fail(FaultSite::Write, 0);
        EXPECT_TRUE(r.SaveAnnotations());
        EXPECT_EQ(*r.FindAnnotation(88), "new note");
    }
    Fail(FaultSite::Write, ENOSPC);
    EXPECT_EQ(WriteFavoritesFile(dir / "favorite.dat", {}), FavoriteStatus::CannotWrite);
    EXPECT_EQ(ReadFile(dir / "favorite.dat"), favorites);
    Fail(FaultSite::Write, 0);

    CIndexReader r;
    ASSERT_EQ(r.Open(disc, OpenMode::ReadWriteShareAll), 1);
    EXPECT_EQ(r.WriteRemark("later"), 1);
    EXPECT_EQ(r.ReplaceCover(dir / "new.gif"), 1);
    std::string remark;
    ASSERT_EQ(r.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "later");
    EXPECT_EQ(ReadFile(disc).substr(r.Header().coverOffset), ReadFile(dir / "new.gif"));
    EXPECT_EQ(TempCount(dir.path()), 0u);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, SharedSaves,
                         ::testing::Values(Fs::Local, Fs::NfsLike, Fs::SmbLike), FsName);

// Runs body in a child process; true when it exited with 0.
template <typename Body>
pid_t Spawn(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    return pid;
}

bool ExitedOk(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Two windows (processes) annotate different entries of one disc, each saving
// after every edit: every note is there at the end and every save told the truth.
TEST(TwoWriters, InterleavedAnnotationEditsAreAllKept) {
    TempDir dir;
    const std::string disc = WriteDisc(dir / "d.orb");
    constexpr int kEach = 100;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = Spawn([&, k] {
            CIndexReader r;
            if (!r.Open(disc, OpenMode::ReadShareAll)) return false;
            for (int i = 0; i < kEach; ++i) {
                r.SetAnnotation(1000 + k * kEach + i, "note " + std::to_string(k * kEach + i));
                if (!r.SaveAnnotations()) return false;
            }
            return r.Close();
        });
    }
    EXPECT_TRUE(ExitedOk(kids[0]));
    EXPECT_TRUE(ExitedOk(kids[1]));
    CIndexReader r;
    ASSERT_EQ(r.Open(disc, OpenMode::ReadShareAll), 1);
    ASSERT_EQ(r.Annotations().size(), 2u * kEach);
    for (int i = 0; i < 2 * kEach; ++i) {
        const std::string* note = r.FindAnnotation(1000 + i);
        ASSERT_NE(note, nullptr) << i;
        EXPECT_EQ(*note, "note " + std::to_string(i));
    }
}

FavoriteNode Software(const std::string& name, const std::string& remark = "") {
    FavoriteNode n;
    n.item.name = name;
    n.item.kind = kFavoriteSoftware;
    n.item.software = FavoriteSoftware{"d.orb", "x\\y.exe", remark};
    return n;
}

FavoriteNode Category(const std::string& name, std::vector<FavoriteNode> children = {}) {
    FavoriteNode n;
    n.item.name = name;
    n.children = std::move(children);
    return n;
}

// Two windows each add 100 favourites, saving after every add, each merging
// against what it last read: all 200 are in the file.
TEST(TwoWriters, InterleavedFavouriteAddsAreAllKept) {
    TempDir dir;
    const std::string path = dir / "favorite.dat";
    ASSERT_EQ(WriteFavoritesFile(path, {Category("cat")}), FavoriteStatus::Ok);
    constexpr int kEach = 100;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = Spawn([&, k] {
            std::vector<FavoriteNode> base = ReadFavoritesFile(path).items;
            for (int i = 0; i < kEach; ++i) {
                std::vector<FavoriteNode> mine = base;
                mine[0].children.push_back(Software("sw" + std::to_string(k * kEach + i)));
                std::vector<FavoriteNode> merged;
                if (SaveFavoritesMerged(path, base, mine, merged) != FavoriteStatus::Ok)
                    return false;
                base = merged;
            }
            return true;
        });
    }
    EXPECT_TRUE(ExitedOk(kids[0]));
    EXPECT_TRUE(ExitedOk(kids[1]));
    FavoriteReadResult now = ReadFavoritesFile(path);
    ASSERT_EQ(now.items.size(), 1u);
    std::set<std::string> names;
    for (const FavoriteNode& n : now.items[0].children) names.insert(n.item.name);
    EXPECT_EQ(names.size(), 2u * kEach);
    EXPECT_EQ(now.items[0].children.size(), 2u * kEach);
}

TEST(FavouritesMerge, AppliesOnlyTheChangesMadeHere) {
    const std::vector<FavoriteNode> base = {
        Category("tools", {Software("a"), Software("b"), Software("c", "old")})};
    // Here: b removed, c's remark changed, d added, a new category.
    const std::vector<FavoriteNode> mine = {
        Category("tools", {Software("a"), Software("c", "new"), Software("d")}), Category("games")};
    // There meanwhile: a removed, e added, and a category of the same name made.
    const std::vector<FavoriteNode> theirs = {
        Category("tools", {Software("b"), Software("c", "old"), Software("e")}),
        Category("games", {Software("g")})};
    const std::vector<FavoriteNode> merged = MergeFavorites(base, mine, theirs);
    const std::vector<FavoriteNode> expected = {
        Category("tools", {Software("c", "new"), Software("e"), Software("d")}),
        Category("games", {Software("g")})};
    EXPECT_TRUE(merged == expected);
    // Nothing changed here: theirs unchanged; nothing there: mine.
    EXPECT_TRUE(MergeFavorites(base, base, theirs) == theirs);
    EXPECT_TRUE(MergeFavorites(base, mine, base) == mine);
}

// One window rewrites the remark, the other the cover, 50 times each at once:
// every write succeeds, the file is always whole and ends with both last values.
TEST(TwoWriters, RemarkAndCoverWritesAtOnceBothSurvive) {
    TempDir dir;
    const std::string disc = WriteDisc(dir / "d.orb", "r", Gif(7, 1 << 20, 'c'));
    constexpr int kEach = 50;
    for (int i = 0; i < kEach; ++i)
        WriteFile(dir / ("c" + std::to_string(i) + ".gif"), Gif(8, (1 << 20) + i, 'a' + i % 26));
    pid_t remarks = Spawn([&] {
        CIndexReader r;
        if (!r.Open(disc, OpenMode::ReadWriteShareAll)) return false;
        for (int i = 0; i < kEach; ++i)
            if (!r.WriteRemark("remark " + std::to_string(i))) return false;
        return true;
    });
    pid_t covers = Spawn([&] {
        CIndexReader r;
        if (!r.Open(disc, OpenMode::ReadWriteShareAll)) return false;
        for (int i = 0; i < kEach; ++i)
            if (!r.ReplaceCover(dir / ("c" + std::to_string(i) + ".gif"))) return false;
        return true;
    });
    EXPECT_TRUE(ExitedOk(remarks));
    EXPECT_TRUE(ExitedOk(covers));
    CIndexReader r;
    ASSERT_EQ(r.Open(disc, OpenMode::ReadWriteShareAll), 1);
    std::string remark;
    ASSERT_EQ(r.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "remark " + std::to_string(kEach - 1));
    const std::string file = ReadFile(disc);
    EXPECT_EQ(file.size(), uint64_t{r.Header().coverOffset} + r.Header().coverSize);
    EXPECT_EQ(file.substr(r.Header().coverOffset),
              ReadFile(dir / ("c" + std::to_string(kEach - 1) + ".gif")));
    EXPECT_EQ(r.WriteRemark("x"), 1);  // layout whole: the next write is accepted
}

// A disc renamed or deleted by someone else while it is annotated here: no
// companion is left where it was, the save says so, and the notes can follow it.
TEST(MovedDisc, SaveRefusesAnOrphanCompanionAndCanFollowTheIndex) {
    TempDir dir;
    const std::string disc = WriteDisc(dir / "a.orb");
    CIndexReader r;
    ASSERT_EQ(r.Open(disc, OpenMode::ReadShareAll), 1);
    r.SetAnnotation(88, "kept note");
    ASSERT_EQ(::rename(disc.c_str(), (dir / "b.orb").c_str()), 0);
    EXPECT_FALSE(r.SaveAnnotations());
    EXPECT_TRUE(r.IndexMoved());
    EXPECT_EQ(r.MovedIndexPath(), dir / "b.orb");
    EXPECT_FALSE(test::FileExists(dir / "a.orc"));
    // Another disc catalogued under the old name inherits nothing.
    WriteFile(dir / "other.orb", "ORBF");
    ASSERT_EQ(::rename((dir / "other.orb").c_str(), disc.c_str()), 0);
    EXPECT_FALSE(r.SaveAnnotations());
    EXPECT_FALSE(test::FileExists(dir / "a.orc"));
    // Beside the moved index, on request; a different disc is refused.
    EXPECT_FALSE(r.SaveAnnotationsBeside(disc));
    ASSERT_TRUE(r.SaveAnnotationsBeside(dir / "b.orb"));
    EXPECT_FALSE(r.AnnotationsChanged());
    EXPECT_TRUE(r.Close());
    CIndexReader moved;
    ASSERT_EQ(moved.Open(dir / "b.orb", OpenMode::ReadShareAll), 1);
    ASSERT_NE(moved.FindAnnotation(88), nullptr);
    EXPECT_EQ(*moved.FindAnnotation(88), "kept note");

    // Deleted: nothing is written and no new place is known.
    ASSERT_EQ(moved.Open(dir / "b.orb", OpenMode::ReadShareAll), 1);
    moved.SetAnnotation(88, "changed");
    ASSERT_EQ(::unlink((dir / "b.orb").c_str()), 0);
    ASSERT_EQ(::unlink((dir / "b.orc").c_str()), 0);
    EXPECT_FALSE(moved.Close());
    EXPECT_TRUE(moved.IndexMoved());
    EXPECT_EQ(moved.MovedIndexPath(), "");
    EXPECT_FALSE(test::FileExists(dir / "b.orc"));
}

// Notes saved by another window are shown here when next looked at, with this
// window's unsaved edit kept on top; nothing is reread while the file stays.
TEST(SharedNotes, RefreshRereadsAChangedCompanionKeepingOwnEdits) {
    TempDir dir;
    const std::string disc = WriteDisc(dir / "a.orb");
    CIndexReader here;
    CIndexReader there;
    ASSERT_EQ(here.Open(disc, OpenMode::ReadShareAll), 1);
    ASSERT_EQ(there.Open(disc, OpenMode::ReadShareAll), 1);
    EXPECT_FALSE(here.RefreshAnnotations());
    here.SetAnnotation(6, "mine");
    there.SetAnnotation(5, "theirs");
    there.SetAnnotation(6, "overwritten by mine");
    ASSERT_TRUE(there.SaveAnnotations());
    ASSERT_TRUE(here.RefreshAnnotations());
    ASSERT_NE(here.FindAnnotation(5), nullptr);
    EXPECT_EQ(*here.FindAnnotation(5), "theirs");
    EXPECT_EQ(*here.FindAnnotation(6), "mine");
    EXPECT_FALSE(here.RefreshAnnotations());
    // Its own save is no outside change.
    ASSERT_TRUE(here.SaveAnnotations());
    EXPECT_FALSE(here.RefreshAnnotations());
    // Notes deleted elsewhere go here too.
    ASSERT_EQ(::unlink((dir / "a.orc").c_str()), 0);
    ASSERT_TRUE(here.RefreshAnnotations());
    EXPECT_TRUE(here.Annotations().empty());
}

// Another window rewriting the remark replaces the index file; that is the same
// disc, so annotations are still saved beside it.
TEST(MovedDisc, ARemarkWriteElsewhereIsNotAMove) {
    TempDir dir;
    const std::string disc = WriteDisc(dir / "a.orb");
    CIndexReader viewer, pane;
    ASSERT_EQ(viewer.Open(disc, OpenMode::ReadShareAll), 1);
    ASSERT_EQ(pane.Open(disc, OpenMode::ReadWriteShareAll), 1);
    ASSERT_EQ(pane.WriteRemark("new remark"), 1);
    viewer.SetAnnotation(88, "note");
    EXPECT_TRUE(viewer.SaveAnnotations()) << viewer.LastError();
    std::string remark;
    ASSERT_EQ(viewer.ReadRemark(remark), 1);
    EXPECT_EQ(remark, "new remark");
    EXPECT_EQ(ReadFile(dir / "a.orc").size(), 4u + 8u + 4u);
}

void SetAge(const std::string& path, int seconds) {
    struct timeval tv[2];
    ::gettimeofday(&tv[0], nullptr);
    tv[0].tv_sec -= seconds;
    tv[1] = tv[0];
    ::utimes(path.c_str(), tv);
}

pid_t DeadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(LockFile, StaleLocksAreTakenOverLiveOnesWaitedFor) {
    TempDir dir;
    const std::string lockPath = LockPathFor(dir / "d.orb");
    const std::string host = HostNameForFiles();
    // A live holder on another host blocks until the wait ends.
    WriteFile(lockPath, "elsewhere\n123\nu\n0\n");
    CLockFile lock(lockPath);
    EXPECT_FALSE(lock.Lock(150));
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_EQ(ReadFile(lockPath), "elsewhere\n123\nu\n0\n");
    // ... unless it was not renewed for a minute.
    SetAge(lockPath, CLockFile::kStaleSeconds + 5);
    ASSERT_TRUE(lock.Lock(1000));
    const std::string mine = ReadFile(lockPath);
    EXPECT_EQ(mine.substr(0, host.size() + 1), host + "\n");
    EXPECT_NE(mine.find("\n" + std::to_string(::getpid()) + "\n"), std::string::npos);
    lock.Unlock();
    EXPECT_FALSE(test::FileExists(lockPath));

    // A process of this host that is gone holds nothing, however fresh its lock.
    WriteFile(lockPath, host + "\n" + std::to_string(DeadPid()) + "\nu\n0\n");
    ASSERT_TRUE(lock.Lock(1000));
    // One taken over from us while we stalled is not ours to remove.
    ASSERT_EQ(::unlink(lockPath.c_str()), 0);
    WriteFile(lockPath, "other\n1\nu\n0\n");
    lock.Unlock();
    EXPECT_EQ(ReadFile(lockPath), "other\n1\nu\n0\n");
    // A live local process keeps its lock.
    WriteFile(lockPath, host + "\n" + std::to_string(::getppid()) + "\nu\n0\n");
    EXPECT_FALSE(lock.Lock(100));

    // A lock left half made names no holder: waited for briefly, then taken over
    // long before a minute.
    WriteFile(lockPath, "");
    EXPECT_FALSE(lock.Lock(100));
    SetAge(lockPath, CLockFile::kHalfMadeSeconds + 1);
    ASSERT_TRUE(lock.Lock(1000));
    // A lock appears whole: no other locker ever reads it empty.
    EXPECT_EQ(std::count(mine.begin(), mine.end(), '\n'), 4);
}

TEST(LeftOverTemporaries, DeadLocalAndDayOldForeignOnesAreRemoved) {
    TempDir dir;
    const std::string host = HostNameForFiles();
    const std::string dead = dir / ("d.orb." + host + "." + std::to_string(DeadPid()) + ".0.tmp");
    const std::string live = dir / ("d.orb." + host + "." + std::to_string(::getppid()) + ".1.tmp");
    const std::string foreignNew = dir / "d.orb.otherhost.77.2.tmp";
    const std::string foreignOld = dir / "favorite.dat.otherhost.77.3.tmp";
    const std::string unrelated = dir / "notes.tmp";
    for (const std::string& p : {dead, live, foreignNew, foreignOld, unrelated}) WriteFile(p, "x");
    SetAge(foreignOld, 25 * 3600);
    SetAge(unrelated, 25 * 3600);
    WriteDisc(dir / "other.orb");  // the next save in that folder cleans up
    EXPECT_FALSE(test::FileExists(dead));
    EXPECT_FALSE(test::FileExists(foreignOld));
    EXPECT_TRUE(test::FileExists(live));
    EXPECT_TRUE(test::FileExists(foreignNew));
    EXPECT_TRUE(test::FileExists(unrelated));
}

}  // namespace
}  // namespace orb
