// SPDX-License-Identifier: GPL-3.0-or-later
// Saves that survive a crash: every file the program writes into a library (scan
// output, annotation companion, favorite.dat, converted indexes) is killed with
// SIGKILL at each fault point of its save in a child process and must then hold
// the complete old or the complete new content; an injected failed write, flush
// or rename must be reported and leave the old file untouched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>

#include "convert/converter.h"
#include "favorites/store/favorite_store.h"
#include "index/disc_scanner.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "library/store/library_store.h"
#include "platform/drives.h"
#include "platform/fault_point.h"
#include "tests/convert/old_layout.h"
#include "tests/support/test_support.h"

namespace {

// The fault points of this test program. Every call counts; the kill point and
// the failing site are set by the test before a save.
std::atomic<int> g_calls{0};
std::atomic<int> g_killAt{0};     // SIGKILL at this call (1-based), 0: never
std::atomic<int> g_failSite{0};   // this site fails ...
std::atomic<int> g_failErrno{0};  // ... with this errno

}  // namespace

extern "C" int OrbFaultHook(int site) {
    const int call = ++g_calls;
    if (g_killAt.load() == call) ::raise(SIGKILL);
    if (g_failSite.load() == site) return g_failErrno.load();
    return 0;
}

namespace orb {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

void ResetFaults() {
    g_calls = 0;
    g_killAt = 0;
    g_failSite = 0;
    g_failErrno = 0;
}

// One kind of save: where it writes, how to set up the old state and how to run
// the save itself (in the calling process).
struct SaveCase {
    const char* what;
    std::string target;                // the file that must be old or new
    std::function<void()> prepareOld;  // writes the old state
    std::function<bool()> save;        // true when the save reported success
};

CScanTree BigTree(int entries) {
    CScanTree tree;
    FILETIME t = U64ToFileTime(0x01D0000000000000ULL);
    ScanNodeId dir = kNoNode;
    for (int i = 0; i < entries; ++i) {
        if (i % 500 == 0)
            dir = tree.Append(kNoNode, kEntryDirectory, 0, t, "dir" + std::to_string(i));
        tree.Append(dir, 0, static_cast<uint64_t>(i), t,
                    "file-with-a-long-name-" + std::string(60, 'n') + std::to_string(i) + ".dat");
    }
    return tree;
}

std::vector<FavoriteNode> BigFavorites(const std::string& tag) {
    std::vector<FavoriteNode> top(1);
    top[0].item.name = "cat";
    for (int i = 0; i < 6; ++i) {
        FavoriteNode sw;
        sw.item.name = "sw" + std::to_string(i);
        sw.item.kind = kFavoriteSoftware;
        sw.item.software =
            FavoriteSoftware{"a\\d.orb", "x\\y.exe", std::string(1 << 20, 'a' + i) + tag};
        top[0].children.push_back(sw);
    }
    return top;
}

test::OldIndex BigOld() {
    test::OldIndex old;
    old.label = "OLDBIG";
    old.capacity = 650000000;
    old.remark = std::string(3 << 20, 'r');
    for (int d = 0; d < 40; ++d) {
        test::OldEntry dir{"dir" + std::to_string(d), true, 0, 1, {}};
        for (int f = 0; f < 500; ++f)
            dir.children.push_back(
                {"file" + std::to_string(f) + std::string(40, 'x'), false, 7, 2, {}});
        old.top.push_back(dir);
    }
    return old;
}

// The four saves, each in its own folder of dir.
std::vector<SaveCase> Saves(const TempDir& dir) {
    std::vector<SaveCase> cases;
    static CScanTree tree = BigTree(60000);

    const std::string index = dir / "scan/disc.orb";
    cases.push_back({"scan output", index,
                     [index] {
                         std::filesystem::create_directories(
                             std::filesystem::path(index).parent_path());
                         WriteFile(index, "ORBF old index bytes");
                     },
                     [index] {
                         IndexHeader h;
                         SetHeaderLabel(h, "NEW");
                         h.fileCount = tree.FileCount();
                         h.dirCount = tree.DirectoryCount();
                         IndexWriteOptions opt;
                         static const std::string remark(1 << 20, 'R');
                         opt.remark = remark;  // a view: the text must outlive the write
                         return WriteIndexFile(index, h, tree, opt) == WriteResult::Ok;
                     }});

    const std::string annotated = dir / "notes/a.orb";
    cases.push_back({"annotation companion", CompanionPath(annotated),
                     [annotated] {
                         std::filesystem::create_directories(
                             std::filesystem::path(annotated).parent_path());
                         CScanTree small;
                         small.Append(kNoNode, 0, 1, FILETIME{}, "f");
                         IndexHeader h;
                         h.fileCount = 1;
                         ASSERT_EQ(WriteIndexFile(annotated, h, small), WriteResult::Ok);
                         test::Bytes old;
                         old.i32(1).i32(88).i32(3).str("old");
                         WriteFile(CompanionPath(annotated), old.data());
                     },
                     [annotated] {
                         CIndexReader r;
                         if (!r.Open(annotated, OpenMode::ReadWriteShareAll)) return false;
                         for (int i = 0; i < 6; ++i)
                             r.SetAnnotation(1000 + i, std::string(1 << 20, 'a' + i));
                         return r.Close();
                     }});

    const std::string fav = dir / "fav/favorite.dat";
    cases.push_back(
        {"favorite.dat", fav,
         [fav] {
             std::filesystem::create_directories(std::filesystem::path(fav).parent_path());
             std::string data;
             ASSERT_EQ(EncodeFavorites(BigFavorites("old"), data), FavoriteStatus::Ok);
             WriteFile(fav, data);
         },
         [fav] { return WriteFavoritesFile(fav, BigFavorites("new")) == FavoriteStatus::Ok; }});

    // Remark and cover writes of an index with a cover of a few megabytes.
    static const std::string bigCover =
        std::string("GIF89a\x07\x00\x05\x00", 10) + std::string(3 << 20, 'c');
    for (bool coverWrite : {false, true}) {
        const std::string disc = dir / (coverWrite ? "cover/d.orb" : "remark/d.orb");
        const std::string picture = dir / "new-cover.gif";
        cases.push_back(
            {coverWrite ? "cover write" : "remark write", disc,
             [disc, picture] {
                 std::filesystem::create_directories(std::filesystem::path(disc).parent_path());
                 CScanTree small;
                 small.Append(kNoNode, 0, 1, FILETIME{}, "f");
                 IndexHeader h;
                 h.fileCount = 1;
                 IndexWriteOptions opt;
                 opt.remark = "old remark";
                 opt.cover = bigCover;
                 ASSERT_EQ(WriteIndexFile(disc, h, small, opt), WriteResult::Ok);
                 WriteFile(picture,
                           std::string("GIF89a\x09\x00\x05\x00", 10) + std::string(2 << 20, 'n'));
             },
             [disc, picture, coverWrite] {
                 CIndexReader r;
                 if (!r.Open(disc, OpenMode::ReadWriteShareAll)) return false;
                 return (coverWrite ? r.ReplaceCover(picture)
                                    : r.WriteRemark(std::string(1 << 20, 'R'))) == 1;
             }});
    }

    const std::string converted = dir / "conv/old.orb";
    cases.push_back(
        {"converted index", converted,
         [converted] {
             std::filesystem::create_directories(std::filesystem::path(converted).parent_path());
             WriteFile(converted, test::BuildOldIndex(BigOld()));
             WriteFile(converted + "r", "old notes");
         },
         [converted] { return ConvertIndexFile(converted).outcome == ConvertOutcome::Converted; }});
    return cases;
}

// Names in the save's folder that the program would take for an index.
std::set<std::string> IndexNames(const std::string& target) {
    std::set<std::string> names;
    const auto folder = std::filesystem::path(target).parent_path();
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (IsDiscFileName(name)) names.insert(name);
    }
    return names;
}

TEST(CrashSafeSaves, KilledAtEveryFaultPointLeavesOldOrNewContent) {
    TempDir dir;
    for (SaveCase& c : Saves(dir)) {
        // The new content and the number of fault points of one whole save.
        c.prepareOld();
        const std::string oldContent = ReadFile(c.target);
        ResetFaults();
        ASSERT_TRUE(c.save()) << c.what;
        const int points = g_calls.load();
        const std::string newContent = ReadFile(c.target);
        ASSERT_NE(oldContent, newContent) << c.what;
        ASSERT_GT(points, 3) << c.what << ": a save of megabytes is several writes";

        // Killed at each point, and once right after the save returned.
        int sawOld = 0, sawNew = 0;
        for (int k = 1; k <= points + 1; ++k) {
            c.prepareOld();
            ASSERT_EQ(ReadFile(c.target), oldContent);
            const std::set<std::string> indexesBefore = IndexNames(c.target);
            ResetFaults();
            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                g_killAt = k;
                c.save();
                ::raise(SIGKILL);
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << c.what << " at " << k;
            const std::string now = ReadFile(c.target);
            const bool isOld = now == oldContent;
            const bool isNew = now == newContent;
            EXPECT_TRUE(isOld || isNew) << c.what << " killed at point " << k << " of " << points
                                        << ": " << now.size() << " bytes, neither old nor new";
            sawOld += isOld;
            sawNew += isNew;
            // No temporary file the library would list as a disc.
            EXPECT_EQ(IndexNames(c.target), indexesBefore) << c.what << " at " << k;
        }
        // Before the rename the old content stands, after it the new.
        EXPECT_GE(sawOld, points - 1) << c.what;
        EXPECT_GE(sawNew, 1) << c.what;
    }
}

TEST(CrashSafeSaves, FailedWriteFlushOrRenameIsReportedAndLeavesTheOldFile) {
    TempDir dir;
    struct Fault {
        FaultSite site;
        int err;
    } faults[] = {{FaultSite::Write, EIO},
                  {FaultSite::Write, ENOSPC},
                  {FaultSite::Sync, EIO},
                  {FaultSite::Rename, EXDEV}};
    for (SaveCase& c : Saves(dir)) {
        for (const Fault& f : faults) {
            c.prepareOld();
            const std::string oldContent = ReadFile(c.target);
            ResetFaults();
            g_failErrno = f.err;
            g_failSite = static_cast<int>(f.site);
            const bool ok = c.save();
            const int calls = g_calls.load();
            ResetFaults();
            // Only saves that flush can fail there.
            if (f.site == FaultSite::Sync && ok) continue;
            EXPECT_FALSE(ok) << c.what << " site " << static_cast<int>(f.site);
            EXPECT_GT(calls, 0);
            EXPECT_EQ(ReadFile(c.target), oldContent) << c.what;
            for (const auto& e :
                 std::filesystem::directory_iterator(std::filesystem::path(c.target).parent_path()))
                EXPECT_NE(e.path().extension(), ".tmp") << c.what << ": " << e.path();
        }
    }
}

TEST(CrashSafeSaves, ScannerReportsAFailedWriteOrRename) {
    TempDir dir;
    const std::string disc = dir / "disc";
    ::mkdir(disc.c_str(), 0755);
    for (int i = 0; i < 5; ++i) WriteFile(disc + "/f" + std::to_string(i), "x");
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{disc, "DATA", 2048 * 1000, false}}));
    const std::string out = dir / "out.orb";
    for (FaultSite site : {FaultSite::Write, FaultSite::Rename}) {
        WriteFile(out, "old index");
        ResetFaults();
        g_failErrno = EIO;
        g_failSite = static_cast<int>(site);
        CDiscScanner scanner;
        std::mutex m;
        std::condition_variable cv;
        WPARAM final = 0;
        CPlainMessageTarget target([&](uint32_t msg, WPARAM w, LPARAM) -> LRESULT {
            if (msg == WM_SCAN_STATUS && w >= SCAN_DONE) {
                std::lock_guard<std::mutex> lock(m);
                final = w;
                cv.notify_all();
            }
            return 0;
        });
        scanner.SetNotifyWindow(&target);
        ASSERT_EQ(scanner.StartScan(disc, out), 1);
        {
            std::unique_lock<std::mutex> lock(m);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return final != 0; }));
        }
        EXPECT_EQ(final, SCAN_FAILED);
        EXPECT_EQ(scanner.LastError(), "写入指定的文件时出错！");
        EXPECT_EQ(ReadFile(out), "old index");
        EXPECT_FALSE(test::FileExists(out + ".tmp"));
        for (int i = 0; i < 1000 && scanner.IsRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ResetFaults();
    }
    SetDriveSystem(nullptr);
}

}  // namespace
}  // namespace orb
