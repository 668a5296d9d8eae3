// SPDX-License-Identifier: GPL-3.0-or-later
// kill -9 at a random moment of a remark or cover write on a disc with a 17 MB
// cover, 50 times each: the index is always the whole old file or the whole new
// one, and the next write is accepted. Slow (hundreds of megabytes written and
// flushed), so it carries the ctest label "long".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "index/index_reader.h"
#include "index/index_writer.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr int kRounds = 50;

const std::string& BigCover() {
    static const std::string cover =
        std::string("GIF89a\x07\x00\x05\x00", 10) + std::string(17 << 20, 'c');
    return cover;
}

void WriteOld(const std::string& disc) {
    CScanTree small;
    small.Append(kNoNode, 0, 1, FILETIME{}, "f");
    IndexHeader h;
    SetHeaderLabel(h, "BIG");
    h.fileCount = 1;
    IndexWriteOptions opt;
    opt.remark = "old remark";
    opt.cover = BigCover();
    ASSERT_EQ(WriteIndexFile(disc, h, small, opt), WriteResult::Ok);
}

// One write; the reason when it failed.
std::string Save(const std::string& disc, const std::string& picture, bool cover) {
    CIndexReader r;
    if (!r.Open(disc, OpenMode::ReadWriteShareAll)) return "open failed";
    if ((cover ? r.ReplaceCover(picture) : r.WriteRemark(std::string(1 << 20, 'R'))) == 1)
        return "";
    return r.LastError().empty() ? "failed" : r.LastError();
}

// How long one whole write takes in a child process, as the kills below see it.
std::chrono::microseconds TimeInChild(const std::string& disc, const std::string& picture,
                                      bool cover) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(Save(disc, picture, cover).empty() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

TEST(KillDuringWrite, SeventeenMegabyteCoverIsOldOrNewWhole) {
    TempDir dir;
    const std::string disc = dir / "d.orb";
    const std::string picture = dir / "new.gif";
    WriteFile(picture, std::string("GIF89a\x09\x00\x05\x00", 10) + std::string(2 << 20, 'n'));
    std::mt19937 random(20261207);
    for (bool cover : {false, true}) {
        const char* what = cover ? "cover write" : "remark write";
        WriteOld(disc);
        const std::string oldContent = ReadFile(disc);
        const auto took = TimeInChild(disc, picture, cover);
        const std::string newContent = ReadFile(disc);
        ASSERT_NE(oldContent, newContent);

        int sawOld = 0, sawNew = 0;
        for (int round = 0; round < kRounds; ++round) {
            WriteOld(disc);
            // Anywhere from before the open to a little after the rename.
            const auto delay = std::chrono::microseconds(
                std::uniform_int_distribution<int64_t>(0, took.count() * 6 / 5)(random));
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                Save(disc, picture, cover);
                ::pause();  // killed here at the latest
                ::_exit(0);
            }
            std::this_thread::sleep_for(delay);
            ::kill(child, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            const std::string now = ReadFile(disc);
            const bool isOld = now == oldContent;
            const bool isNew = now == newContent;
            ASSERT_TRUE(isOld || isNew) << what << " round " << round << ": " << now.size()
                                        << " bytes, neither old nor new";
            sawOld += isOld;
            sawNew += isNew;
            // Not locked: the next write goes through (a dead writer's lock is
            // taken over at once on this host).
            ASSERT_EQ(Save(disc, picture, cover), "") << what << " after round " << round;
            EXPECT_EQ(ReadFile(disc), newContent) << what << " after round " << round;
        }
        // Both outcomes occur, so the kills did land inside the write.
        EXPECT_GT(sawOld, 0) << what;
        EXPECT_GT(sawNew, 0) << what;
        std::printf("%s: %d old, %d new of %d (one write %.0f ms)\n", what, sawOld, sawNew, kRounds,
                    took.count() / 1000.0);
    }
}

}  // namespace
}  // namespace orb
