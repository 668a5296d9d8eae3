// SPDX-License-Identifier: GPL-3.0-or-later
// The search engine: matching rules, walk order and ids, progress, stops, damaged
// indexes and the lifetime of the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "platform/text.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::BuildIndex;
using test::Bytes;
using test::RecordingTarget;
using test::TempDir;
using Hits = std::vector<std::string>;

// Opens path, searches it and waits for the end; the recorded events stay in t.
void RunSearch(const std::string& path, const std::string& keyword, const std::string& filter,
               uint8_t options, RecordingTarget& t) {
    CIndexReader r;
    ASSERT_EQ(r.Open(path, OpenMode::ReadShareAll), 1) << path;
    r.SetSearchOptions(&t, filter, options);
    ASSERT_NE(r.BeginSearch(keyword), nullptr);
    ASSERT_TRUE(t.WaitFinished());
}

Hits Search(const std::string& path, const std::string& keyword, const std::string& filter,
            uint8_t options) {
    RecordingTarget t;
    RunSearch(path, keyword, filter, options, t);
    return t.Hits();
}

const char kTwoChars[] = "\xB0\xA1\xB0\xA1";  // 啊啊; "\xA1\xB0" spans the boundary

class SearchMatching : public ::testing::Test {
protected:
    void SetUp() override {
        ids_ = BuildIndex(
            dir_ / "d.orb", "DATA",
            {"SETUP.EXE", "MySetup.exe", "Setup2.exe", "Setup.exe", "setup.exe", "exe.txt", "exe/",
             "archive.tar.gz", "README", ".profile", "tools/", "tools/install.exe", "tools/Setup/",
             "tools/Setup/inner.txt", std::string(kTwoChars) + ".txt", std::string(kTwoChars) + "/",
             "\x81\x41.dat"},
            {{"SETUP.EXE", "first entry note"},
             {"README", "Installer notes"},
             {"tools", std::string(kTwoChars) + " tools"},
             {"exe.txt", "setup"}});
        ASSERT_FALSE(ids_.empty());
    }
    TempDir dir_;
    std::map<std::string, int32_t> ids_;
};

TEST_F(SearchMatching, RuleTable) {
    const uint8_t F = SF_FILES, D = SF_DIRECTORIES, A = SF_ANNOTATIONS, C = SF_MATCHCASE,
                  W = SF_WHOLENAME;
    const std::string two = kTwoChars;
    struct Case {
        const char* what;
        std::string keyword;
        std::string filter;
        uint8_t options;
        Hits expected;
    } cases[] = {
        {"substring, any case",
         "setup",
         "*",
         F,
         {"DATA:\\SETUP.EXE", "DATA:\\MySetup.exe", "DATA:\\Setup2.exe", "DATA:\\Setup.exe",
          "DATA:\\setup.exe"}},
        {"match case", "setup", "*", uint8_t(F | C), {"DATA:\\setup.exe"}},
        {"whole name",
         "setup",
         "*",
         uint8_t(F | W),
         {"DATA:\\SETUP.EXE", "DATA:\\Setup.exe", "DATA:\\setup.exe"}},
        {"extension never matches", "exe", "*", F, {"DATA:\\exe.txt"}},
        {"directory named exe", "exe", "*", uint8_t(F | D), {"DATA:\\exe.txt", "DATA:\\exe"}},
        {"base keeps inner dots", "archive.tar", "*", uint8_t(F | W), {"DATA:\\archive.tar.gz"}},
        {"last extension only", "gz", "*", F, {}},
        {"no dot: whole name is base", "readme", "", uint8_t(F | W), {"DATA:\\README"}},
        {"leading dot: empty base", "profile", "*", F, {}},
        {"directories only", "setup", "*", D, {"DATA:\\tools\\Setup"}},
        {"whole, case, both kinds", "setup", "*", uint8_t(F | D | W | C), {"DATA:\\setup.exe"}},
        {"types fold even with match case", "setup", "EXE", uint8_t(F | C), {"DATA:\\setup.exe"}},
        {"file base: whole characters only", "\xA1\xB0", "*", uint8_t(F | D), {"DATA:\\" + two}},
        {"file base: on a boundary", "\xB0\xA1", "*", F, {"DATA:\\" + two + ".txt"}},
        {"trailing byte is not folded", "\x81\x61", "*", F, {}},
        {"keyword's trailing byte kept", "\x81\x41", "*", F, {"DATA:\\\x81\x41.dat"}},
        {"annotations only", "installer", "*", A, {"DATA:\\README"}},
        {"annotation, whole", "setup", "*", uint8_t(A | W), {"DATA:\\exe.txt"}},
        {"annotation, whole, no partial", "setu", "*", uint8_t(A | W), {}},
        {"annotation of entry id 88", "first entry", "*", A, {"DATA:\\SETUP.EXE"}},
        {"annotation: bytes across a boundary", "\xA1\xB0", "*", A, {"DATA:\\tools"}},
        {"annotation ignores the type list", "setup", "jpg", uint8_t(F | A), {"DATA:\\exe.txt"}},
        {"annotation case folded", "INSTALLER", "*", A, {"DATA:\\README"}},
        {"annotation match case", "installer", "*", uint8_t(A | C), {}},
        {"a dot: the full name too",
         "setup.exe",
         "*",
         F,
         {"DATA:\\SETUP.EXE", "DATA:\\MySetup.exe", "DATA:\\Setup.exe", "DATA:\\setup.exe"}},
        {"a dot, whole name",
         "setup.exe",
         "*",
         uint8_t(F | W),
         {"DATA:\\SETUP.EXE", "DATA:\\Setup.exe", "DATA:\\setup.exe"}},
        {"a dot, match case",
         "Setup.exe",
         "*",
         uint8_t(F | C),
         {"DATA:\\MySetup.exe", "DATA:\\Setup.exe"}},
        {"a dot still meets the type list", "setup.exe", "txt", F, {}},
        {"a dot, double-byte name", two + ".txt", "*", uint8_t(F | W), {"DATA:\\" + two + ".txt"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Search(dir_ / "d.orb", c.keyword, c.filter, c.options), c.expected) << c.what;
}

TEST_F(SearchMatching, HitCarriesItsAnnotationAndPaths) {
    RecordingTarget t;
    RunSearch(dir_ / "d.orb", "SETUP", "*", SF_FILES, t);
    std::vector<test::SearchEvent> found;
    for (const auto& e : t.Events())
        if (e.code == SEARCH_FOUND) found.push_back(e);
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0].name, "SETUP.EXE");
    EXPECT_EQ(found[0].annotation, "first entry note");  // found by name, id 88
    EXPECT_EQ(found[0].indexPath, dir_ / "d.orb");
    EXPECT_EQ(found[1].annotation, "");
    EXPECT_EQ(ids_.at("SETUP.EXE"), kFirstEntryId);
}

// Random names and keywords against the plain definition of the file test: fold
// the base character by character, then search it character by character.
TEST(SearchMatchingRandom, FileBaseAgreesWithTheDefinition) {
    const char* pieces[] = {
        "a", "A", "z",        "Z",        ".",        "/",    "s",
        "S", "e", "\xB0\xA1", "\x81\x41", "\x81\x61", "\xA1", "\x81\x30\x81\x30",
        "0", "~", "\x7F",     "\xFF"};
    std::mt19937 rng(1234);
    auto text = [&](int maxPieces) {
        std::string t;
        int n = static_cast<int>(rng() % (maxPieces + 1));
        for (int i = 0; i < n; ++i) t += pieces[rng() % std::size(pieces)];
        return t.substr(0, 255);
    };
    std::vector<std::string> names;
    for (int i = 0; i < 1500; ++i) names.push_back(text(i % 10 == 0 ? 120 : 12));
    TempDir dir;
    {
        CScanTree tree;
        for (const std::string& n : names) tree.Append(kNoNode, 0, 0, FILETIME{}, n);
        IndexHeader h;
        SetHeaderLabel(h, "R");
        h.fileCount = tree.FileCount();
        ASSERT_EQ(WriteIndexFile(dir / "r.orb", h, tree), WriteResult::Ok);
    }
    for (int round = 0; round < 60; ++round) {
        std::string keyword = text(3);
        if (keyword.empty()) keyword = "a";
        for (uint8_t options : {SF_FILES, uint8_t(SF_FILES | SF_MATCHCASE)}) {
            bool matchCase = options & SF_MATCHCASE;
            std::string k = matchCase ? keyword : LowerAZCopy(keyword);
            Hits expected;
            for (const std::string& n : names) {
                size_t dot = n.rfind('.');
                std::string base = dot == std::string::npos ? n : n.substr(0, dot);
                if (!matchCase) base = LowerAZCopy(base);
                // A keyword with a dot is also looked for in the full name.
                const std::string full = matchCase ? n : LowerAZCopy(n);
                if (FindChars(base, k) != std::string::npos ||
                    (k.find('.') != std::string::npos && dot != std::string::npos &&
                     FindChars(full, k) != std::string::npos))
                    expected.push_back("R:\\" + n);
            }
            EXPECT_EQ(Search(dir / "r.orb", keyword, "*", options), expected)
                << "keyword " << ::testing::PrintToString(keyword) << " options " << int(options);
        }
    }
}

TEST(SearchTypes, FilterTable) {
    TempDir dir;
    ASSERT_FALSE(BuildIndex(dir / "t.orb", "T",
                            {"t_a.exe", "t_b.EXE", "t_c.jpg", "t_d.JPEG", "t_e.gif", "t_f.bmp",
                             "t_g.png", "t_h"})
                     .empty());
    struct Case {
        std::string filter;
        std::string expected;  // letters of the accepted files
    } cases[] = {
        {"*", "abcdefgh"},
        {"EXE", "ab"},
        {" exe", ""},
        {"", "h"},
        {"jpg|jpeg|gif|bmp", "cdef"},
        {"exe|", "abh"},
        {"htm|html", ""},
        {"png|*", "abcdefgh"},
        {"|", "h"},
    };
    for (const Case& c : cases) {
        std::string got;
        for (const std::string& h : Search(dir / "t.orb", "t_", c.filter, SF_FILES))
            got += h[h.find('_') + 1];
        EXPECT_EQ(got, c.expected) << "filter '" << c.filter << "'";
    }
}

TEST(SearchWalk, DepthFirstWithParentPathsAndEvents) {
    TempDir dir;
    BuildIndex(dir / "w.orb", "W",
               {"qa/", "qa/qb/", "qa/qb/qc.txt", "qa/qd.txt", "qa/qempty/", "qe.txt"});
    RecordingTarget t;
    RunSearch(dir / "w.orb", "q", "*", SF_FILES | SF_DIRECTORIES, t);
    EXPECT_EQ(t.Hits(), (Hits{"W:\\qa", "W:\\qa\\qb", "W:\\qa\\qb\\qc.txt", "W:\\qa\\qd.txt",
                              "W:\\qa\\qempty", "W:\\qe.txt"}));
    EXPECT_EQ(t.Progress(), (std::vector<LPARAM>{16, 33, 50, 66, 83, 100}));
    auto events = t.Events();
    ASSERT_EQ(events.size(), 14u);
    EXPECT_EQ(events.front().code, SEARCH_STARTED);
    EXPECT_FALSE(events.front().posted);
    // Each hit comes right before its entry's progress.
    for (size_t i = 1; i + 1 < events.size(); i += 2) {
        EXPECT_EQ(events[i].code, SEARCH_FOUND);
        EXPECT_EQ(events[i + 1].code, SEARCH_PROGRESS);
    }
    EXPECT_EQ(events.back().code, SEARCH_FINISHED);
    EXPECT_TRUE(events.back().posted);

    // A level without hits still reports progress for every entry.
    RecordingTarget none;
    RunSearch(dir / "w.orb", "absent", "*", SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS, none);
    EXPECT_TRUE(none.Hits().empty());
    EXPECT_EQ(none.Progress().size(), 6u);
}

TEST(SearchWalk, ShortcutEndsAtOnceOnlyWhenNothingCanMatch) {
    TempDir dir;
    ASSERT_FALSE(BuildIndex(dir / "s.orb", "S", {"ab/", "ab/Note.txt", "cd.txt"},
                            {{"cd.txt", "Remember ME"}})
                     .empty());
    auto run = [&](const std::string& keyword, uint8_t options, bool shortcut, RecordingTarget& t) {
        CIndexReader r;
        ASSERT_EQ(r.Open(dir / "s.orb", OpenMode::ReadShareAll), 1);
        r.SetSearchShortcut(shortcut);
        r.SetSearchOptions(&t, "*", options);
        ASSERT_NE(r.BeginSearch(keyword), nullptr);
        ASSERT_TRUE(t.WaitFinished());
    };
    const uint8_t all = SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS;
    struct Case {
        std::string keyword;
        uint8_t options;
        bool walks;
    } cases[] = {{"absent", all, false},
                 {"NOTE", all, true},
                 {"note", uint8_t(all | SF_MATCHCASE), false},
                 {"me", all, true},  // in an annotation only
                 {"me", SF_FILES, false}};
    for (const Case& c : cases) {
        RecordingTarget with, without;
        run(c.keyword, c.options, true, with);
        run(c.keyword, c.options, false, without);
        EXPECT_EQ(with.Hits(), without.Hits()) << c.keyword;
        EXPECT_EQ(without.Progress().size(), 3u) << c.keyword;
        if (c.walks)
            EXPECT_EQ(with.Progress().size(), 3u) << c.keyword;
        else
            EXPECT_EQ(with.Progress(), std::vector<LPARAM>{100}) << c.keyword;
    }
}

// The keyword's bytes are looked for in chunks of 64 KiB: a keyword whose only
// occurrence lies across the first chunk boundary is still found.
TEST(SearchWalk, ByteTestKeepsAMatchAcrossChunks) {
    TempDir dir;
    const int64_t boundary = kFirstEntryOffset + 64 * 1024;
    for (size_t length = 40; length < 60; ++length) {
        // Names of one length: the layout is the same whatever their letters.
        std::vector<std::string> names;
        for (int i = 0; i < 2000; ++i) {
            std::string n = std::to_string(i) + "_";
            names.push_back(n + std::string(length - n.size(), 'b'));
        }
        auto ids = BuildIndex(dir / "c.orb", "C", names);
        ASSERT_EQ(ids.size(), names.size());
        for (std::string& name : names) {
            int32_t id = ids.at(name);
            int64_t start = (id == kFirstEntryId ? kFirstEntryOffset : id) + kRecordFixedSize;
            int64_t at = boundary - 4 - start;  // the keyword's place in this name
            if (at < 6 || at + 8 > static_cast<int64_t>(length)) continue;
            name.replace(static_cast<size_t>(at), 8, "MiXeDkey");
            std::string hit = name;
            ASSERT_EQ(BuildIndex(dir / "c.orb", "C", names).at(hit), id);
            EXPECT_EQ(Search(dir / "c.orb", "mixedkey", "*", SF_FILES), Hits{"C:\\" + hit});
            EXPECT_EQ(Search(dir / "c.orb", "MiXeDkey", "*", SF_FILES | SF_MATCHCASE),
                      Hits{"C:\\" + hit});
            return;
        }
    }
    FAIL() << "no layout put a name across the boundary";
}

TEST(SearchWalk, ReaderCanSearchAgainAndRefusesMisuse) {
    TempDir dir;
    BuildIndex(dir / "a.orb", "A", {"one.txt", "two.txt"});
    RecordingTarget t;
    CIndexReader r;
    EXPECT_EQ(r.BeginSearch("x"), nullptr);  // nothing open
    ASSERT_TRUE(r.Open(dir / "a.orb", OpenMode::ReadShareAll));
    for (int round = 0; round < 3; ++round) {
        RecordingTarget each;
        r.SetSearchOptions(&each, "*", SF_FILES);
        ASSERT_NE(r.BeginSearch("o"), nullptr);
        ASSERT_TRUE(each.WaitFinished());
        EXPECT_EQ(each.Hits(), (Hits{"A:\\one.txt", "A:\\two.txt"}));
        EXPECT_FALSE(r.SearchAborted());
    }
    // A second BeginSearch while the first still runs is refused.
    std::atomic<bool> release{false};
    t.hook = [&](const test::SearchEvent& e) {
        if (e.code == SEARCH_STARTED)
            while (!release) std::this_thread::yield();
    };
    r.SetSearchOptions(&t, "*", SF_FILES);
    ASSERT_NE(r.BeginSearch("o"), nullptr);
    EXPECT_TRUE(r.IsSearching());
    EXPECT_EQ(r.BeginSearch("o"), nullptr);
    release = true;
    ASSERT_TRUE(t.WaitFinished());
    EXPECT_EQ(t.Hits().size(), 2u);
}

// A tree of directories d0..d2 on each of four levels, 120 entries.
std::vector<std::string> DeepTree() {
    std::vector<std::string> paths;
    std::function<void(const std::string&, int)> add = [&](const std::string& prefix, int depth) {
        for (int i = 0; i < 3; ++i) {
            std::string p = prefix + "d" + std::to_string(i) + "/";
            paths.push_back(p);
            if (depth < 4) add(p, depth + 1);
        }
    };
    add("", 1);
    return paths;
}

TEST(SearchStop, DuringADeepWalkEndsAfterTheCurrentEntryOfEachLevel) {
    TempDir dir;
    BuildIndex(dir / "s.orb", "S", DeepTree());
    CIndexReader r;
    ASSERT_TRUE(r.Open(dir / "s.orb", OpenMode::ReadShareAll));
    RecordingTarget t;
    t.hook = [&](const test::SearchEvent& e) {
        if (e.code == SEARCH_FOUND && e.parent + e.name == "S:\\d0\\d1") r.StopSearch();
    };
    r.SetSearchOptions(&t, "*", SF_DIRECTORIES);
    ASSERT_NE(r.BeginSearch("d"), nullptr);
    ASSERT_TRUE(t.WaitFinished());
    Hits hits = t.Hits();
    ASSERT_GE(hits.size(), 2u);
    // After the stop only the first entry of each level opened below it is visited.
    EXPECT_EQ(Hits(hits.end() - 3, hits.end()),
              (Hits{"S:\\d0\\d1", "S:\\d0\\d1\\d0", "S:\\d0\\d1\\d0\\d0"}));
    EXPECT_EQ(hits.size(), 1u + 13 + 3);  // d0, d0\d0 with its 12 below, then the three
    EXPECT_EQ(t.Events().back().code, SEARCH_FINISHED);
    EXPECT_TRUE(r.SearchAborted());
    EXPECT_FALSE(r.IsSearching());
}

TEST(SearchStop, BeforeTheWorkerStartsIsNotLost) {
    TempDir dir;
    BuildIndex(dir / "s.orb", "S", DeepTree());
    CIndexReader r;
    ASSERT_TRUE(r.Open(dir / "s.orb", OpenMode::ReadShareAll));
    RecordingTarget t;
    std::mutex gate;
    t.hook = [&](const test::SearchEvent& e) {
        if (e.code == SEARCH_STARTED) {
            std::lock_guard<std::mutex> wait(gate);
        }
    };
    r.SetSearchOptions(&t, "*", SF_DIRECTORIES);
    {
        std::lock_guard<std::mutex> hold(gate);
        ASSERT_NE(r.BeginSearch("d"), nullptr);
        r.StopSearch();
    }
    ASSERT_TRUE(t.WaitFinished());
    EXPECT_TRUE(t.Progress().empty());
    EXPECT_TRUE(r.SearchAborted());

    // The next search starts with the flag cleared.
    RecordingTarget again;
    r.SetSearchOptions(&again, "*", SF_DIRECTORIES);
    ASSERT_NE(r.BeginSearch("d"), nullptr);
    ASSERT_TRUE(again.WaitFinished());
    EXPECT_EQ(again.Hits().size(), 120u);
}

// The worker is blocked in a Send on the owner's thread's behalf while the owner
// destroys or reopens the reader: that must neither deadlock nor let the worker
// send anything afterwards.
// The threads of this process, from the kernel's count.
int ThreadCount() {
    std::string status = test::ReadFile("/proc/self/status");
    size_t at = status.find("Threads:");
    return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 8);
}

TEST(SearchStop, ClosingWhileTheWorkerIsBlockedInASend) {
    TempDir dir;
    BuildIndex(dir / "s.orb", "S", DeepTree());
    BuildIndex(dir / "o.orb", "O", {"other.txt"});
    // What a detached worker may still touch lives until the end of the test.
    struct Round {
        RecordingTarget t;
        std::atomic<int> blocked{0};
        std::atomic<bool> release{false};
        std::atomic<bool> left{false};
    };
    std::vector<std::unique_ptr<Round>> rounds;
    // 0: destroy the reader, 1: open another index through it, 2: close it.
    for (int reopen = 0; reopen < 3; ++reopen) {
        auto r = std::make_unique<CIndexReader>();
        ASSERT_TRUE(r->Open(dir / "s.orb", OpenMode::ReadShareAll));
        rounds.push_back(std::make_unique<Round>());
        Round& round = *rounds.back();
        round.t.hook = [&round](const test::SearchEvent& e) {
            if (e.code != SEARCH_PROGRESS || round.blocked.exchange(1)) return;
            while (!round.release) std::this_thread::yield();
            round.left = true;
        };
        const int threadsBefore = ThreadCount();
        r->SetSearchOptions(&round.t, "*", SF_DIRECTORIES);
        ASSERT_NE(r->BeginSearch("d"), nullptr);
        while (!round.blocked) std::this_thread::yield();

        std::atomic<bool> done{false};
        std::thread owner([&] {
            if (reopen == 1)
                r->Open(dir / "o.orb", OpenMode::ReadShareAll);
            else if (reopen == 2)
                r->Close();
            else
                r.reset();
            done = true;
        });
        for (int i = 0; i < 500 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(done) << "closing waited for a worker blocked in a Send";
        size_t before = round.t.Events().size();
        round.release = true;
        owner.join();
        // The detached worker ends on its own; wait for it to be gone.
        for (int i = 0; i < 1000 && (!round.left || ThreadCount() > threadsBefore); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(round.left);
        EXPECT_LE(ThreadCount(), threadsBefore);
        EXPECT_EQ(round.t.Events().size(), before) << "the worker sent after its reader was closed";

        if (reopen == 2) {
            EXPECT_FALSE(r->IsSearching());
        }
        if (reopen == 1) {
            RecordingTarget next;
            r->SetSearchOptions(&next, "*", SF_FILES);
            ASSERT_NE(r->BeginSearch("other"), nullptr);
            ASSERT_TRUE(next.WaitFinished());
            EXPECT_EQ(next.Hits(), (Hits{"O:\\other.txt"}));
        }
    }
}

// Hand-made indexes for damaged cases.
struct RawRecord {
    int32_t firstChild;
    int32_t nextSibling;
    bool dir;
    std::string name;
};
uint32_t RecordSize(const RawRecord& r) {
    return 29 + static_cast<uint32_t>(r.name.size());
}

std::string RawIndex(uint32_t files, uint32_t dirs, const std::vector<RawRecord>& records) {
    uint32_t end = 92;
    for (const RawRecord& r : records) end += RecordSize(r);
    Bytes b;
    b.str("ORBF").u8(0x20).fixed("BAD", 50).zeros(5).u64(0).u32(files).u32(dirs);
    b.u32(end).u32(0).u32(end).u32(0);
    for (const RawRecord& r : records) {
        b.i32(r.firstChild).i32(r.nextSibling).u32(r.dir ? 1 : 0).u32(0).u32(0).u64(0);
        b.u8(static_cast<uint8_t>(r.name.size())).str(r.name);
    }
    return b.data();
}

TEST(SearchDamaged, WalksEndAndTheSearchStillFinishes) {
    const int32_t second = 92 + 30;  // offset of the second one-letter record
    struct Case {
        const char* what;
        uint32_t files, dirs;
        std::vector<RawRecord> records;
        size_t visits;
        LPARAM lastPercent;
    } cases[] = {
        {"counts zero: no entries", 0, 0, {{-1, second, false, "a"}, {-1, -1, false, "b"}}, 0, -1},
        // Two entries walked, but the percentage is reported only when it changes.
        {"counts too small", 1, 0, {{-1, second, false, "a"}, {-1, -1, false, "b"}}, 1, 100},
        {"counts overflow 32 bits",
         0xFFFFFFFFu,
         1,
         {{-1, second, false, "a"}, {-1, -1, false, "b"}},
         1,
         0},
        {"links out of the file",
         1,
         1,
         {{0x7FFFFF00, second, true, "a"}, {-1, 0x40000000, false, "b"}},
         2,
         100},
        {"self loops", 0, 1, {{92, 92, true, "a"}}, 1, 100},
        {"link back to an ancestor", 1, 1, {{second, -1, true, "a"}, {-1, 92, false, "b"}}, 2, 100},
        {"negative link", 1, 1, {{-5, -7, true, "a"}}, 1, 50},
    };
    for (const Case& c : cases) {
        TempDir dir;
        test::WriteFile(dir / "x.orb", RawIndex(c.files, c.dirs, c.records));
        RecordingTarget t;
        RunSearch(dir / "x.orb", "zzz", "*", SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS, t);
        auto progress = t.Progress();
        EXPECT_EQ(progress.size(), c.visits) << c.what;
        for (LPARAM p : progress) EXPECT_LE(p, 100) << c.what;
        if (!progress.empty()) {
            EXPECT_EQ(progress.back(), c.lastPercent) << c.what;
        }
        EXPECT_EQ(t.Events().back().code, SEARCH_FINISHED) << c.what;
    }
}

TEST(SearchDamaged, SharedSubtreesCannotMultiplyTheWalk) {
    // Two directories per level whose first-child links both lead to the next
    // level: 2^40 paths, but every link leads forward, so only the visit budget
    // (the records the file can hold) ends it.
    const int levels = 40;
    std::vector<RawRecord> records;
    for (int i = 0; i < levels; ++i) {
        int32_t a = 92 + 2 * i * 30, b = a + 30, next = a + 60;
        bool last = i == levels - 1;
        records.push_back({last ? -1 : next, b, true, "a"});
        records.push_back({last ? -1 : next, -1, true, "b"});
    }
    TempDir dir;
    test::WriteFile(dir / "x.orb", RawIndex(0, 2 * levels, records));
    RecordingTarget t;
    RunSearch(dir / "x.orb", "zzz", "*", SF_DIRECTORIES, t);
    CIndexReader r;
    ASSERT_TRUE(r.Open(dir / "x.orb", OpenMode::ReadShareAll));
    EXPECT_LE(t.Progress().size(), r.MaxEntryCount());
    EXPECT_GE(t.Progress().size(), static_cast<size_t>(levels));
    EXPECT_EQ(t.Events().back().code, SEARCH_FINISHED);
}

TEST(SearchDamaged, ManyAnnotationsKeepTheFirstRecordOfAnId) {
    TempDir dir;
    auto ids = BuildIndex(dir / "n.orb", "N", {"a.txt", "b.txt", "c.txt"});
    // A companion with repeated ids and many records, written by hand.
    Bytes b;
    b.u32(40);
    for (int i = 0; i < 38; ++i) b.i32(1000 + i).u32(1).str("x");
    b.i32(ids.at("b.txt")).u32(5).str("first");
    b.i32(ids.at("b.txt")).u32(6).str("second");
    test::WriteFile(dir / "n.orc", b.data());
    RecordingTarget t;
    RunSearch(dir / "n.orb", "i", "*", SF_ANNOTATIONS, t);
    EXPECT_EQ(t.Hits(), (Hits{"N:\\b.txt"}));
    RecordingTarget second;
    RunSearch(dir / "n.orb", "second", "*", SF_ANNOTATIONS, second);
    EXPECT_TRUE(second.Hits().empty());
}

}  // namespace
}  // namespace orb
