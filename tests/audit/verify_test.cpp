// SPDX-License-Identifier: GPL-3.0-or-later
// Verifying a folder disc against its index: each kind of difference is named
// exactly, reads retry and fail as a scratched disc shows it, nothing is written.
#include "audit/verify.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

#include "audit/export.h"
#include "tests/audit/audit_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;
using test::WriteFile;

// Fails every read of the files named, a given number of times per read (or
// always), and notes the largest read asked for.
class CFlakySource : public CFolderDiscSource {
public:
    using CFolderDiscSource::CFolderDiscSource;
    std::unique_ptr<IDiscFile> Open(const std::string& relPath, std::string& error) override {
        std::unique_ptr<IDiscFile> inner = CFolderDiscSource::Open(relPath, error);
        if (!inner) return inner;
        auto it = failures.find(relPath);
        return std::make_unique<File>(std::move(inner), it == failures.end() ? 0 : it->second,
                                      *this);
    }
    std::map<std::string, int> failures;  // -1: every attempt
    int failedAttempts = 0;
    size_t largestRead = 0;

private:
    struct File : IDiscFile {
        File(std::unique_ptr<IDiscFile> in, int fails, CFlakySource& owner)
            : inner(std::move(in)), left(fails), source(owner) {}
        int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) override {
            source.largestRead = std::max(source.largestRead, n);
            if (left != 0) {
                if (left > 0) --left;
                ++source.failedAttempts;
                error = "Input/output error";
                return -1;
            }
            return inner->Read(buf, n, offset, error);
        }
        std::unique_ptr<IDiscFile> inner;
        int left;
        CFlakySource& source;
    };
};

struct Recorder : IVerifyListener {
    void OnItem(const VerifyItem& item) override {
        items.push_back(item);
        if (stopAfter && items.size() >= stopAfter) stop = true;
    }
    void OnProgress(const VerifyProgress& p) override { progress.push_back(p); }
    // "kind path" of every item that is not identical.
    std::set<std::string> Problems() const {
        std::set<std::string> out;
        for (const VerifyItem& i : items)
            if (i.kind != VerifyKind::Identical)
                out.insert(std::string(VerifyKindWord(i.kind)) + " " + ExportPath(i.path));
        return out;
    }
    std::vector<VerifyItem> items;
    std::vector<VerifyProgress> progress;
    size_t stopAfter = 0;
    std::atomic<bool> stop{false};
};

class VerifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        disc_ = tmp_ / "disc";
        test::MakeDir(disc_);
        test::MakeDir(disc_ + "/sub");
        test::MakeDir(disc_ + "/old");
        WriteFile(disc_ + "/same.txt", "same");
        WriteFile(disc_ + "/grow.bin", std::string(3000, 'g'));
        WriteFile(disc_ + "/touch.txt", "touch");
        WriteFile(disc_ + "/gone.txt", "gone");
        WriteFile(disc_ + "/scratched.dat", std::string(3 << 20, 's'));
        WriteFile(disc_ + "/sub/文档.txt", "文档");
        WriteFile(disc_ + "/sub/bad\xff.txt", "raw name");
        WriteFile(disc_ + "/old/inside.txt", "inside");
        for (const char* p : {"/same.txt", "/grow.bin", "/touch.txt", "/gone.txt", "/scratched.dat",
                              "/sub/文档.txt", "/sub/bad\xff.txt", "/old/inside.txt"})
            test::SetMtime(disc_ + p, 1700000000);
        index_ = tmp_ / "disc.orb";
        ASSERT_TRUE(test::CatalogueFolder(disc_, index_));
        ASSERT_TRUE(reader_.Open(index_, OpenMode::ReadShareAll));
    }

    void ChangeDisc() {
        WriteFile(disc_ + "/grow.bin", std::string(4000, 'g'));
        test::SetMtime(disc_ + "/grow.bin", 1700000000);
        test::SetMtime(disc_ + "/touch.txt", 1700003600);
        ::unlink((disc_ + "/gone.txt").c_str());
        WriteFile(disc_ + "/added.txt", "added");
        ::unlink((disc_ + "/old/inside.txt").c_str());
        ::rmdir((disc_ + "/old").c_str());
    }

    TempDir tmp_;
    std::string disc_, index_;
    CIndexReader reader_;
};

TEST_F(VerifyTest, UnchangedDiscIsIdenticalInBothModes) {
    for (bool full : {false, true}) {
        CFolderDiscSource source(disc_);
        Recorder rec;
        VerifyOptions o;
        o.full = full;
        VerifySummary s = VerifyDisc(reader_, source, o, rec);
        EXPECT_TRUE(s.AllIdentical()) << full;
        EXPECT_TRUE(rec.Problems().empty()) << *rec.Problems().begin();
        // 8 files and 2 directories.
        EXPECT_EQ(s.Count(VerifyKind::Identical), 10u);
        EXPECT_EQ(s.bytesRead, full ? 4 + 3000 + 5 + 4 + (3u << 20) + 6 + 8 + 6 : 0u);
    }
}

TEST_F(VerifyTest, EachDifferenceIsNamedExactly) {
    ChangeDisc();
    CFlakySource source(disc_);
    source.failures["scratched.dat"] = -1;
    Recorder rec;
    VerifyOptions o;
    o.full = true;
    o.retries = 2;
    VerifySummary s = VerifyDisc(reader_, source, o, rec);
    const std::set<std::string> expected = {"changed-size grow.bin", "changed-time touch.txt",
                                            "missing gone.txt",      "missing old\\",
                                            "new added.txt",         "unreadable scratched.dat"};
    EXPECT_EQ(rec.Problems(), expected);
    EXPECT_FALSE(s.AllIdentical());
    // Three attempts at the failing read, and no more.
    EXPECT_EQ(source.failedAttempts, 3);
    EXPECT_EQ(source.largestRead, size_t{1} << 20);
    for (const VerifyItem& i : rec.items) {
        if (i.kind == VerifyKind::ChangedSize) {
            EXPECT_EQ(i.indexSize, 3000u);
            EXPECT_EQ(i.discSize, 4000u);
        }
        if (i.kind == VerifyKind::Unreadable) {
            EXPECT_EQ(i.error, "Input/output error");
            EXPECT_EQ(i.errorOffset, 0u);
        }
    }
    // The fast mode reads nothing, so the scratch goes unseen.
    CFolderDiscSource plain(disc_);
    Recorder fast;
    VerifyDisc(reader_, plain, VerifyOptions{}, fast);
    EXPECT_EQ(fast.Problems().count("unreadable scratched.dat"), 0u);
    EXPECT_EQ(fast.Problems().size(), 5u);
}

TEST_F(VerifyTest, ATransientReadErrorIsRetriedAway) {
    CFlakySource source(disc_);
    source.failures["scratched.dat"] = 2;
    Recorder rec;
    VerifyOptions o;
    o.full = true;
    o.retries = 2;
    EXPECT_TRUE(VerifyDisc(reader_, source, o, rec).AllIdentical());
    source.failures["scratched.dat"] = 3;
    source.failedAttempts = 0;
    Recorder rec2;
    EXPECT_EQ(VerifyDisc(reader_, source, o, rec2).Count(VerifyKind::Unreadable), 1u);
}

TEST_F(VerifyTest, UnreadableByPermissionsWhenNotRoot) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files of mode 000";
    ::chmod((disc_ + "/touch.txt").c_str(), 0);
    CFolderDiscSource source(disc_);
    Recorder rec;
    VerifyOptions o;
    o.full = true;
    VerifyDisc(reader_, source, o, rec);
    ::chmod((disc_ + "/touch.txt").c_str(), 0644);
    EXPECT_EQ(rec.Problems(), std::set<std::string>{"unreadable touch.txt"});
}

TEST_F(VerifyTest, NothingIsWrittenAndProgressEndsAtTheTotal) {
    ChangeDisc();
    const std::string before = test::ReadFile(index_);
    CFolderDiscSource source(disc_);
    Recorder rec;
    VerifyOptions o;
    o.full = true;
    VerifyDisc(reader_, source, o, rec);
    reader_.Close();
    EXPECT_EQ(test::ReadFile(index_), before);
    EXPECT_FALSE(test::FileExists(CompanionPath(index_)));
    ASSERT_FALSE(rec.progress.empty());
    const uint64_t catalogued = 4 + 3000 + 5 + 4 + (3u << 20) + 6 + 8 + 6;
    EXPECT_EQ(rec.progress.front().totalBytes, catalogued);
    EXPECT_EQ(rec.progress.back().doneBytes, rec.progress.back().totalBytes);
    for (size_t i = 1; i < rec.progress.size(); ++i)
        EXPECT_GE(rec.progress[i].doneBytes, rec.progress[i - 1].doneBytes);
}

TEST_F(VerifyTest, StopEndsTheWalkAndIsReported) {
    CFolderDiscSource source(disc_);
    Recorder rec;
    rec.stopAfter = 2;
    VerifyOptions o;
    o.full = true;
    VerifySummary s = VerifyDisc(reader_, source, o, rec, &rec.stop);
    EXPECT_TRUE(s.stopped);
    EXPECT_FALSE(s.AllIdentical());
    EXPECT_EQ(rec.items.size(), 2u);
}

TEST(VerifyEstimate, TimeLeftFollowsTheRateSoFar) {
    EXPECT_EQ(EstimateSecondsLeft(0, 100, 5), -1);
    EXPECT_EQ(EstimateSecondsLeft(25, 100, 10), 30);
    EXPECT_EQ(EstimateSecondsLeft(100, 100, 10), 0);
}

}  // namespace
}  // namespace orb
