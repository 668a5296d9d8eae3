// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "index/disc_scanner.h"
#include "index/index_reader.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;
using test::TempDir;

// One message as the window saw it, with the block it pointed to copied out.
struct Seen {
    uint32_t msg;
    WPARAM status;
    uint64_t a = 0;  // capacity or total
    uint64_t b = 0;  // used or written
};

// A notify window that records every message and lets a test act inside the
// handler (on the worker's thread, like a window handling a sent message).
class Recorder {
public:
    Recorder()
        : target_([this](uint32_t msg, WPARAM w, LPARAM l) -> LRESULT {
              Seen s{msg, w};
              if (msg == WM_SCAN_SIZE_PROGRESS) {
                  auto* p = reinterpret_cast<const ScanSizeProgress*>(l);
                  s.a = p->capacity;
                  s.b = p->used;
              } else if (msg == WM_SCAN_WRITE_PROGRESS) {
                  auto* p = reinterpret_cast<const ScanWriteProgress*>(l);
                  s.a = static_cast<uint64_t>(p->total);
                  s.b = static_cast<uint64_t>(p->written);
              }
              std::function<void(const Seen&)> hook;
              {
                  std::lock_guard<std::mutex> lock(mutex_);
                  seen_.push_back(s);
                  hook = hook_;
              }
              if (hook) hook(s);
              if (msg == WM_SCAN_STATUS && w >= SCAN_DONE) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  finals_++;
                  cv_.notify_all();
              }
              return 0;
          }) {}
    IMessageTarget* target() { return &target_; }
    void OnMessage(std::function<void(const Seen&)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }
    // Waits for the n-th final status; returns it (0 on timeout).
    WPARAM WaitFinal(int n = 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(20), [&] { return finals_ >= n; })) return 0;
        for (auto it = seen_.rbegin(); it != seen_.rend(); ++it)
            if (it->msg == WM_SCAN_STATUS && it->status >= SCAN_DONE) return it->status;
        return 0;
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    std::vector<WPARAM> statuses() {
        std::vector<WPARAM> out;
        for (const Seen& s : seen())
            if (s.msg == WM_SCAN_STATUS) out.push_back(s.status);
        return out;
    }

private:
    CPlainMessageTarget target_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Seen> seen_;
    std::function<void(const Seen&)> hook_;
    int finals_ = 0;
};

void SetMtime(const std::string& path, int64_t sec, long nsec) {
    struct timespec ts[2] = {{sec, nsec}, {sec, nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        disc_ = tmp_ / "disc";
        empty_ = tmp_ / "empty";
        ::mkdir(disc_.c_str(), 0755);
        ::mkdir(empty_.c_str(), 0755);
        drives_ = std::make_shared<CVirtualDriveSystem>(
            std::vector<VirtualDrive>{{disc_, "DATA", 2048 * 1000, false}, {empty_, "", 0, true}});
        SetDriveSystem(drives_);
        scanner_.SetNotifyWindow(rec_.target());
    }
    void TearDown() override { SetDriveSystem(nullptr); }

    TempDir tmp_;
    std::string disc_, empty_;
    std::shared_ptr<CVirtualDriveSystem> drives_;
    Recorder rec_;
    CDiscScanner scanner_;
};

TEST_F(ScannerTest, StartChecksRefuseWithTheirTextsAndStartNothing) {
    struct Case {
        std::string root;
        const char* error;
    } cases[] = {
        {tmp_.path(), "目标盘不是光盘!"},
        {"/", "目标盘不是光盘!"},
        {empty_, "驱动器中没有磁盘"},
        {empty_ + "/", "驱动器中没有磁盘"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scanner_.StartScan(c.root, tmp_ / "out.orb"), 0) << c.root;
        EXPECT_EQ(scanner_.LastError(), c.error) << c.root;
        EXPECT_EQ(scanner_.IsRunning(), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(rec_.seen().empty());
    EXPECT_FALSE(test::FileExists(tmp_ / "out.orb"));
}

TEST_F(ScannerTest, SingleFileGivesTheExactMessagesAndBytes) {
    const std::string file = disc_ + "/A.TXT";
    test::WriteFile(file, std::string(3000, 'x'));
    SetMtime(file, 1000000000, 500);  // 2001-09-09, plus 5 units of 100 ns
    const std::string out = tmp_ / "a.orb";
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    EXPECT_EQ(scanner_.IsRunning(), 0);

    auto seen = rec_.seen();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].msg, WM_SCAN_STATUS);
    EXPECT_EQ(seen[0].status, SCAN_COLLECTING);
    EXPECT_EQ(seen[1].msg, WM_SCAN_SIZE_PROGRESS);
    EXPECT_EQ(seen[1].a, 2048u * 1000);
    EXPECT_EQ(seen[1].b, 4096u);
    EXPECT_EQ(seen[2].status, SCAN_SAVING);
    EXPECT_EQ(seen[3].msg, WM_SCAN_WRITE_PROGRESS);
    EXPECT_EQ(seen[3].a, 1u);
    EXPECT_EQ(seen[3].b, 1u);
    EXPECT_EQ(seen[4].status, SCAN_DONE);

    // 1000000000 s after 1970 = 116444736000000000 + 10^16 units since 1601, + 5.
    const uint64_t ft = 116444736000000000ULL + 10000000000000000ULL + 5;
    Bytes want;
    want.str("ORBF")
        .u8(0x20)
        .fixed("DATA", 50)
        .zeros(5)
        .u64(2048 * 1000)
        .u32(1)
        .u32(0)
        .u32(126)
        .u32(0)
        .u32(126)
        .u32(0)
        .i32(-1)
        .i32(-1)
        .u32(0)
        .u32(0)
        .u32(3000)
        .u32(static_cast<uint32_t>(ft))
        .u32(static_cast<uint32_t>(ft >> 32))
        .u8(5)
        .str("A.TXT");
    ASSERT_EQ(want.size(), 92u + 29 + 5);
    EXPECT_EQ(test::ReadFile(out), want.data());
    EXPECT_FALSE(test::FileExists(out + ".tmp"));
}

// Walks an index back into "path|kind|size|mtime" lines in index order, checking
// the layout rules on the way.
void WalkIndex(CIndexReader& r, const IndexEntry* parent, int32_t parentOffset,
               const std::string& prefix, std::vector<std::string>& out, uint32_t& files,
               uint32_t& dirs) {
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return;
    do {
        if (parent) {
            // A directory's contents follow its record directly.
            EXPECT_EQ(parent->firstChild,
                      parentOffset + 29 + static_cast<int32_t>(std::string(parent->Name()).size()));
        }
        std::string name(e.Name());
        out.push_back(prefix + name + "|" + (e.IsDirectory() ? "d" : "f") + "|" +
                      std::to_string(e.Size()) + "|" + std::to_string(FileTimeToU64(e.writeTime)));
        (e.IsDirectory() ? dirs : files)++;
        if (e.IsDirectory()) {
            IndexEntry copy = e;
            WalkIndex(r, &copy, e.recordOffset, prefix + name + "\\", out, files, dirs);
        }
    } while (r.ReadNextEntry(e, e));
}

// The same lines from the host tree, in the file system's order.
void WalkHost(const std::string& path, const std::string& prefix, std::vector<std::string>& out) {
    std::vector<DirEntry> entries;
    ListDirectory(path, [&](const DirEntry& e) {
        if (e.name != "." && e.name != "..") entries.push_back(e);
        return true;
    });
    for (const DirEntry& e : entries) {
        std::string name(CutAtCharBoundary(HostToStored(e.name), 255));
        out.push_back(prefix + name + "|" + (e.isDirectory ? "d" : "f") + "|" +
                      std::to_string(e.size) + "|" + std::to_string(FileTimeToU64(e.writeTime)));
        if (e.isDirectory) WalkHost(JoinPath(path, e.name), prefix + name + "\\", out);
    }
}

TEST_F(ScannerTest, TreeReadsBackWithNamesSizesTimesKindsAndOrder) {
    ::mkdir((disc_ + "/setup").c_str(), 0755);
    ::mkdir((disc_ + "/setup/tools").c_str(), 0755);
    ::mkdir((disc_ + "/setup/empty").c_str(), 0755);
    ::mkdir((disc_ + "/音乐").c_str(), 0755);
    test::WriteFile(disc_ + "/setup/tools/x.exe", std::string(5000, 'a'));
    test::WriteFile(disc_ + "/setup/readme.txt", "hello");
    test::WriteFile(disc_ + "/音乐/歌曲.mp3", std::string(2049, 'b'));
    test::WriteFile(disc_ + "/.hidden", "");
    // A character outside GBK (U+1F600) must survive as GB18030, not as '?'.
    test::WriteFile(disc_ + "/smile\xF0\x9F\x98\x80.txt", "s");
    // A long name: two characters outside GBK (4 stored bytes each) and 125 Greek
    // letters (2 each) are 254 host bytes but 258 stored bytes; the cut must fall
    // before the last whole character (254), not inside one (255).
    std::string longName = "\xC3\x80\xC3\x80";             // "ÀÀ"
    for (int i = 0; i < 125; ++i) longName += "\xCE\xB1";  // "α"
    test::WriteFile(disc_ + "/" + longName, "L");
    // A link loop and a dangling link are stored as files and never followed.
    ASSERT_EQ(::symlink("..", (disc_ + "/setup/loop").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (disc_ + "/dangling").c_str()), 0);
    // A file over 4 GiB (sparse): its whole size counts.
    {
        int fd = ::open((disc_ + "/big.iso").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, (5ULL << 30) + 1), 0);
        ::close(fd);
    }

    const std::string out = tmp_ / "t.orb";
    ASSERT_EQ(scanner_.StartScan(disc_ + "/", out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);

    CIndexReader r;
    ASSERT_EQ(r.Open(out, OpenMode::ReadShareAll), 1);
    std::vector<std::string> got, want;
    uint32_t files = 0, dirs = 0;
    WalkIndex(r, nullptr, 0, "", got, files, dirs);
    WalkHost(disc_, "", want);
    EXPECT_EQ(got, want);
    EXPECT_EQ(r.GetFileCount(), files);
    EXPECT_EQ(r.GetDirectoryCount(), dirs);
    EXPECT_EQ(dirs, 4u);
    EXPECT_EQ(files, 9u);

    bool sawLong = false, sawSmile = false;
    for (const std::string& line : got) {
        if (line.rfind("\x81\x30", 0) == 0) {
            sawLong = true;
            std::string stored = line.substr(0, line.find('|'));
            EXPECT_EQ(stored.size(), 254u);
            std::string want = "\xC3\x80\xC3\x80";
            for (int i = 0; i < 123; ++i) want += "\xCE\xB1";
            EXPECT_EQ(StoredToHost(stored), want);
        }
        if (line.rfind("smile", 0) == 0) {
            sawSmile = true;
            EXPECT_EQ(StoredToHost(line.substr(0, line.find('|'))), "smile\xF0\x9F\x98\x80.txt");
        }
    }
    EXPECT_TRUE(sawLong);
    EXPECT_TRUE(sawSmile);
    // The stored Chinese directory name is GBK.
    EXPECT_NE(
        std::find_if(got.begin(), got.end(),
                     [](const std::string& l) { return l.rfind("\xD2\xF4\xC0\xD6|d", 0) == 0; }),
        got.end());

    // Messages: collecting, a size message whenever the shown percentage of the used
    // bytes changes, saving, a write message whenever the shown percentage of the
    // written records changes, done. Replaying the files in the order the file system
    // gave them yields exactly the used bytes of the size messages.
    std::vector<uint64_t> wantUsed;
    uint64_t used = 0;
    int shown = -1;
    for (const std::string& line : want) {
        const size_t bar = line.find('|');
        if (line.compare(bar, 3, "|f|") != 0) continue;
        const uint64_t size = std::stoull(line.substr(bar + 3));
        used += (size + 2047) / 2048 * 2048;
        if (ShownPercent(used, 2048 * 1000) != shown) {
            shown = ShownPercent(used, 2048 * 1000);
            wantUsed.push_back(used);
        }
    }
    auto seen = rec_.seen();
    std::vector<uint64_t> gotUsed;
    size_t i = 1;
    ASSERT_EQ(seen.front().status, SCAN_COLLECTING);
    for (; i < seen.size() && seen[i].msg == WM_SCAN_SIZE_PROGRESS; ++i)
        gotUsed.push_back(seen[i].b);
    EXPECT_EQ(gotUsed, wantUsed);
    EXPECT_LT(gotUsed.size(), files);
    ASSERT_LT(i, seen.size());
    EXPECT_EQ(seen[i++].status, SCAN_SAVING);
    // 13 records: every one moves the shown percentage.
    for (uint32_t n = 1; n <= files + dirs; ++n, ++i) {
        ASSERT_LT(i, seen.size());
        EXPECT_EQ(seen[i].msg, WM_SCAN_WRITE_PROGRESS);
        EXPECT_EQ(seen[i].b, n);
        EXPECT_EQ(seen[i].a, files + dirs);
    }
    ASSERT_EQ(i + 1, seen.size());
    EXPECT_EQ(seen.back().status, SCAN_DONE);
}

TEST_F(ScannerTest, DirectoryThatCannotBeListedIsStoredEmptyAndTheScanGoesOn) {
    // A chain of directories whose full path passes PATH_MAX: the innermost cannot be
    // opened by path, also not as root.
    const std::string seg(200, 'd');
    int fd = ::open(disc_.c_str(), O_RDONLY | O_DIRECTORY);
    int depth = 0;
    for (; depth < 25; ++depth) {
        ASSERT_EQ(::mkdirat(fd, seg.c_str(), 0755), 0);
        int next = ::openat(fd, seg.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(::openat(fd, "deep.txt", O_CREAT | O_WRONLY, 0644));
    ::close(fd);
    test::WriteFile(disc_ + "/after.txt", "z");

    const std::string out = tmp_ / "deep.orb";
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    CIndexReader r;
    ASSERT_EQ(r.Open(out, OpenMode::ReadShareAll), 1);
    std::vector<std::string> got;
    uint32_t files = 0, dirs = 0;
    WalkIndex(r, nullptr, 0, "", got, files, dirs);
    EXPECT_EQ(files, 1u);  // after.txt; deep.txt lies beyond the unlistable level
    EXPECT_GT(dirs, 10u);
    EXPECT_LT(dirs, 25u);
    EXPECT_EQ(r.GetDirectoryCount(), dirs);
    // The scan says what it missed: one directory, by its path.
    const ScanUnreadable missed = scanner_.Unreadable();
    EXPECT_EQ(missed.directories, 1u);
    EXPECT_EQ(missed.files, 0u);
    ASSERT_EQ(missed.paths.size(), 1u);
    EXPECT_EQ(missed.paths[0].rfind(disc_ + "/" + seg + "/", 0), 0u);
    EXPECT_GT(missed.paths[0].size(), size_t{PATH_MAX});
    // A scan that reads everything reports nothing.
    drives_->SetDrives({{empty_, "DATA", 2048 * 1000, false}});
    ASSERT_EQ(scanner_.StartScan(empty_, tmp_ / "empty.orb"), 1);
    ASSERT_EQ(rec_.WaitFinal(2), SCAN_DONE);
    EXPECT_FALSE(scanner_.Unreadable().Any());
}

TEST_F(ScannerTest, AbortWhileListingWritesNothingAndKeepsAnExistingFile) {
    // Each file is one percent of the disc, so each one sends its size message.
    drives_->SetDrives({{disc_, "DATA", 2048 * 100, false}});
    for (int i = 0; i < 20; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    const std::string out = tmp_ / "keep.orb";
    test::WriteFile(out, "old contents");
    rec_.OnMessage([&](const Seen& s) {
        if (s.msg == WM_SCAN_SIZE_PROGRESS && s.b == 2048 * 3) scanner_.AbortScan();
    });
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_ABORTED);
    EXPECT_EQ(scanner_.LastError(), "任务己被用户中止");
    EXPECT_EQ(scanner_.IsRunning(), 0);
    EXPECT_EQ(test::ReadFile(out), "old contents");
    EXPECT_FALSE(test::FileExists(out + ".tmp"));
    // The stop took effect at the next entry, and nothing was saved.
    std::vector<WPARAM> st = rec_.statuses();
    EXPECT_EQ(st, (std::vector<WPARAM>{SCAN_COLLECTING, SCAN_ABORTED}));
    size_t sizes = 0;
    for (const Seen& s : rec_.seen()) sizes += s.msg == WM_SCAN_SIZE_PROGRESS;
    EXPECT_EQ(sizes, 3u);
}

TEST_F(ScannerTest, AbortWhileSavingStillCompletesTheFileAndKeepsTheScannerBusyUntilThen) {
    for (int i = 0; i < 10; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    const std::string out = tmp_ / "full.orb";
    int secondStart = -1;
    std::string secondError;
    rec_.OnMessage([&](const Seen& s) {
        if (s.msg == WM_SCAN_WRITE_PROGRESS && s.b == 2) {
            scanner_.AbortScan();
            EXPECT_EQ(scanner_.IsRunning(), 0);
            // The worker is still saving into the scanner's blocks: no new scan yet.
            secondStart = scanner_.StartScan(disc_, tmp_ / "other.orb");
            secondError = scanner_.LastError();
        }
    });
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    EXPECT_EQ(secondStart, 0);
    EXPECT_EQ(secondError, "程序正忙，请稍后再试!");
    CIndexReader r;
    ASSERT_EQ(r.Open(out, OpenMode::ReadShareAll), 1);
    EXPECT_EQ(r.GetFileCount(), 10u);
    EXPECT_EQ(test::ReadFile(out).size(), 92u + 10 * (29 + 2));
}

TEST_F(ScannerTest, SecondStartWhileRunningIsBusy) {
    test::WriteFile(disc_ + "/a", "x");
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    rec_.OnMessage([&](const Seen& s) {
        if (s.msg == WM_SCAN_STATUS && s.status == SCAN_COLLECTING) {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return release; });
        }
    });
    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "one.orb"), 1);
    EXPECT_EQ(scanner_.IsRunning(), 1);
    EXPECT_EQ(scanner_.StartScan(disc_, tmp_ / "two.orb"), 0);
    EXPECT_EQ(scanner_.LastError(), "程序正忙，请稍后再试!");
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    EXPECT_TRUE(test::FileExists(tmp_ / "one.orb"));
    EXPECT_FALSE(test::FileExists(tmp_ / "two.orb"));
}

TEST_F(ScannerTest, FailedCreateLeavesTheScannerIdleAndReady) {
    test::WriteFile(disc_ + "/a", "x");
    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "missing/dir/x.orb"), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_FAILED);
    EXPECT_EQ(scanner_.LastError(), "打开指定的文件时出错！");
    EXPECT_EQ(scanner_.IsRunning(), 0);
    EXPECT_EQ(rec_.statuses(), (std::vector<WPARAM>{SCAN_COLLECTING, SCAN_SAVING, SCAN_FAILED}));
    for (const Seen& s : rec_.seen()) EXPECT_NE(s.msg, WM_SCAN_WRITE_PROGRESS);

    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "ok.orb"), 1);
    ASSERT_EQ(rec_.WaitFinal(2), SCAN_DONE);
    EXPECT_TRUE(test::FileExists(tmp_ / "ok.orb"));
}

TEST_F(ScannerTest, FailedWriteIsReportedAsFailureAndLeavesTheTargetAlone) {
    test::WriteFile(disc_ + "/a", "x");
    // The output path is a directory: the temporary is written, the rename fails.
    const std::string out = tmp_ / "isdir.orb";
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_FAILED);
    EXPECT_EQ(scanner_.LastError(), "写入指定的文件时出错！");
    EXPECT_EQ(scanner_.IsRunning(), 0);
    EXPECT_FALSE(test::FileExists(out + ".tmp"));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ScannerTest, PauseGateHoldsTheWorkerAndAbortReleasesIt) {
    for (int i = 0; i < 5; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    rec_.OnMessage([&](const Seen& s) {
        if (s.msg == WM_SCAN_STATUS && s.status == SCAN_COLLECTING) scanner_.SuspendScan();
    });
    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "p.orb"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Held before the first entry.
    EXPECT_EQ(rec_.seen().size(), 1u);
    EXPECT_EQ(scanner_.IsRunning(), 1);
    // Stopping a paused scan needs no separate resume.
    scanner_.AbortScan();
    ASSERT_EQ(rec_.WaitFinal(), SCAN_ABORTED);
    EXPECT_FALSE(test::FileExists(tmp_ / "p.orb"));
}

TEST_F(ScannerTest, ProgressIsSentOnlyWhenTheShownPercentageChanges) {
    // 500 one-cluster files on a 1000-cluster disc: the used bytes reach 50 %.
    for (int i = 0; i < 500; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "p.orb"), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    std::vector<int> sizePercents, writePercents;
    uint64_t lastWritten = 0;
    for (const Seen& s : rec_.seen()) {
        if (s.msg == WM_SCAN_SIZE_PROGRESS) sizePercents.push_back(ShownPercent(s.b, s.a));
        if (s.msg == WM_SCAN_WRITE_PROGRESS) {
            writePercents.push_back(ShownPercent(s.b, s.a));
            lastWritten = s.b;
        }
    }
    std::vector<int> wantSize(51), wantWrite(101);
    for (int p = 0; p <= 50; ++p) wantSize[p] = p;
    for (int p = 0; p <= 100; ++p) wantWrite[p] = p;
    EXPECT_EQ(sizePercents, wantSize);
    EXPECT_EQ(writePercents, wantWrite);
    EXPECT_EQ(lastWritten, 500u);
}

TEST_F(ScannerTest, PauseAndResumeCompleteTheScan) {
    drives_->SetDrives({{disc_, "DATA", 2048 * 100, false}});
    for (int i = 0; i < 5; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    rec_.OnMessage([&](const Seen& s) {
        if (s.msg == WM_SCAN_SIZE_PROGRESS && s.b == 2048) scanner_.SuspendScan();
    });
    ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "p.orb"), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rec_.seen().size(), 2u);
    scanner_.ResumeScan();
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    EXPECT_EQ(rec_.seen().size(), 1u + 5 + 1 + 5 + 1);
}

TEST_F(ScannerTest, LabelAndCapacityComeFromTheDrive) {
    drives_->SetDrives({{disc_, "工具盘 2024", 650000000, false}});
    test::WriteFile(disc_ + "/a", "x");
    const std::string out = tmp_ / "l.orb";
    ASSERT_EQ(scanner_.StartScan(disc_, out), 1);
    ASSERT_EQ(rec_.WaitFinal(), SCAN_DONE);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(out, h), 1);
    EXPECT_EQ(HeaderLabel(h), HostToStored("工具盘 2024"));
    EXPECT_EQ(h.capacity, 650000000u);
    EXPECT_EQ(h.space, 0x20);
    // 650000000 is not a multiple of 2048: clusters of 1 byte, no rounding.
    EXPECT_EQ(rec_.seen()[1].b, 1u);
}

TEST(RunScanToEnd, ReportsTheFinalStatusAStopAndARefusedStart) {
    TempDir tmp;
    const std::string disc = tmp / "disc";
    ::mkdir(disc.c_str(), 0755);
    for (int i = 0; i < 50; ++i) test::WriteFile(disc + "/f" + std::to_string(i), "x");
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{disc, "D", 2048 * 100, false}}));

    CDiscScanner scanner;
    int sizeMessages = 0;
    auto count = [&](uint32_t msg, WPARAM, LPARAM) {
        if (msg == WM_SCAN_SIZE_PROGRESS) ++sizeMessages;
    };
    EXPECT_EQ(RunScanToEnd(scanner, disc, tmp / "a.orb", count), SCAN_DONE);
    EXPECT_EQ(sizeMessages, 50);
    EXPECT_TRUE(test::FileExists(tmp / "a.orb"));

    // A stop asked for while listing: the first file's message waits until the
    // waiter has polled the request.
    std::atomic<bool> asked{false};
    auto hold = [&](uint32_t msg, WPARAM, LPARAM) {
        if (msg == WM_SCAN_SIZE_PROGRESS)
            for (int i = 0; i < 1000 && !asked.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    EXPECT_EQ(RunScanToEnd(scanner, disc, tmp / "b.orb", hold,
                           [&] {
                               asked = true;
                               return true;
                           }),
              SCAN_ABORTED);
    EXPECT_FALSE(test::FileExists(tmp / "b.orb"));

    EXPECT_EQ(RunScanToEnd(scanner, tmp.path(), tmp / "c.orb"), 0u);
    EXPECT_EQ(scanner.LastError(), "目标盘不是光盘!");
    SetDriveSystem(nullptr);
}

TEST_F(ScannerTest, StopFollowedAtOnceByStartFromTheWindowThread) {
    // The window stops a scan and starts the next one right away, while the
    // stopping worker is still ending: its error text must not race the window's.
    for (int i = 0; i < 30; ++i) test::WriteFile(disc_ + "/f" + std::to_string(i), "x");
    int finals = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(scanner_.StartScan(disc_, tmp_ / "a.orb"), 1);
        ++finals;
        scanner_.AbortScan();
        if (scanner_.StartScan(disc_, tmp_ / "b.orb"))
            ++finals;
        else
            EXPECT_EQ(scanner_.LastError(), "程序正忙，请稍后再试!");
        ASSERT_NE(rec_.WaitFinal(finals), 0u);
        // A scan may also have ended before the stop reached it.
        const std::string text = scanner_.LastError();
        EXPECT_TRUE(text.empty() || text == "任务己被用户中止" || text == "程序正忙，请稍后再试!")
            << text;
    }
    for (int i = 0; i < 1000 && scanner_.IsRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(scanner_.IsRunning(), 0);
}

TEST_F(ScannerTest, ReadOnlyOutputIsRefusedAndALinkedOutputIsWrittenThrough) {
    test::WriteFile(disc_ + "/a", "x");
    const std::string readOnly = tmp_ / "ro.orb";
    test::WriteFile(readOnly, "someone else's index");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(scanner_.StartScan(disc_, readOnly), 1);
    ASSERT_EQ(rec_.WaitFinal(1), SCAN_FAILED);
    EXPECT_EQ(scanner_.LastError(), "打开指定的文件时出错！");
    EXPECT_EQ(test::ReadFile(readOnly), "someone else's index");
    EXPECT_FALSE(test::FileExists(readOnly + ".tmp"));

    const std::string real = tmp_ / "real.orb";
    const std::string link = tmp_ / "link.orb";
    test::WriteFile(real, "old");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_EQ(scanner_.StartScan(disc_, link), 1);
    ASSERT_EQ(rec_.WaitFinal(2), SCAN_DONE);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    CIndexReader r;
    ASSERT_EQ(r.Open(real, OpenMode::ReadShareAll), 1);
    EXPECT_EQ(r.GetFileCount(), 1u);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Cataloguing onto an existing index on purpose replaces it and its notes, whose
// entry ids would land on the new disc's unrelated entries. A companion found
// alone under a new name is no more the new disc's.
TEST(RunScanToEnd, ScanningOverAnIndexRemovesItsCompanion) {
    TempDir tmp;
    const std::string disc = tmp / "disc";
    ::mkdir(disc.c_str(), 0755);
    test::WriteFile(disc + "/f", "x");
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{disc, "D", 2048 * 100, false}}));
    CDiscScanner scanner;
    ASSERT_EQ(RunScanToEnd(scanner, disc, tmp / "a.orb"), SCAN_DONE);
    test::WriteFile(tmp / "a.orc", std::string("\x01\0\0\0\x58\0\0\0\x01\0\0\0n", 13));
    ASSERT_EQ(RunScanToEnd(scanner, disc, tmp / "a.orb"), SCAN_DONE);
    EXPECT_FALSE(test::FileExists(tmp / "a.orc"));

    test::WriteFile(tmp / "b.orc", "stray");
    ASSERT_EQ(RunScanToEnd(scanner, disc, tmp / "b.orb"), SCAN_DONE);
    EXPECT_FALSE(test::FileExists(tmp / "b.orc"));
    SetDriveSystem(nullptr);
}

}  // namespace
}  // namespace orb
