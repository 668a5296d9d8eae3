// SPDX-License-Identifier: GPL-3.0-or-later
// The library name index: a search through it gives exactly the hits of the walk,
// its segments follow the library, and a damaged cache is rebuilt.
#include "search/index/name_index.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "index/index_format.h"
#include "library/store/library_store.h"
#include "platform/text.h"
#include "search/index/library_name_index.h"
#include "search/index/name_keys.h"
#include "search/index/segment_bits.h"
#include "search/index/segment_build.h"
#include "search/pinyin_match.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::BuildIndex;
using test::TempDir;
using Hits = std::vector<std::string>;

std::string HitText(const SearchResult& hit) {
    return hit.fullIndexPath + "|" + hit.fullParentPath + std::string(hit.entry.Name()) + "|" +
           hit.annotation + "|" + std::to_string(hit.entry.Size());
}

class Collect : public IDiscSearchSink {
public:
    Hits hits;
    void OnHit(const SearchResult& hit) override { hits.push_back(HitText(hit)); }
};

Hits Walk(const std::vector<std::string>& discs, const DiscSearchOptions& o) {
    Collect sink;
    SearchDiscs(discs, o, sink);
    return sink.hits;
}

// Through the index where it can narrow, the walk elsewhere; counts the discs the
// index answered.
Hits Indexed(const std::string& cache, const std::vector<std::string>& discs,
             const DiscSearchOptions& o, size_t& answered) {
    Hits hits;
    CIndexReader reader;
    for (const std::string& d : discs) {
        if (SearchDiscThroughIndex(cache, d, o, reader,
                                   [&](const SearchResult& h) { hits.push_back(HitText(h)); })) {
            ++answered;
        } else {
            Hits walked = Walk({d}, o);
            hits.insert(hits.end(), walked.begin(), walked.end());
        }
    }
    return hits;
}

// The same through an index held open across searches.
Hits Indexed(CNameIndex& index, const std::vector<std::string>& discs, const DiscSearchOptions& o,
             size_t& answered) {
    Hits hits;
    for (const std::string& d : discs) {
        if (index.SearchDisc(d, o, [&](const SearchResult& h) { hits.push_back(HitText(h)); })) {
            ++answered;
        } else {
            Hits walked = Walk({d}, o);
            hits.insert(hits.end(), walked.begin(), walked.end());
        }
    }
    return hits;
}

// A keyword spelling a run of a name in pinyin: each of up to mostChars
// characters by one of its readings, its initial, or itself; a reading maybe cut
// short.
std::string SpellInPinyin(const std::string& name, std::mt19937& rng, int mostChars = 4) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const auto* e = p + name.size();
    size_t at = rng() % name.size();
    while (at < name.size() && StoredCharLength(p + at, e) == 1 && rng() % 3) ++at;
    for (int chars = 1 + static_cast<int>(rng() % mostChars); chars > 0 && at < name.size();
         --chars) {
        const size_t n = StoredCharLength(p + at, e);
        std::vector<std::string_view> readings = PinyinReadings(name.substr(at, n));
        if (!readings.empty()) {
            std::string r(readings[rng() % readings.size()]);
            const int how = static_cast<int>(rng() % 3);
            out += how == 0 ? r.substr(0, 1) : how == 1 ? r : r.substr(0, 1 + rng() % r.size());
        } else if (n == 1 && std::isalnum(p[at])) {
            out += static_cast<char>(p[at]);
        } else {
            break;
        }
        at += n;
    }
    return out;
}

class NameIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
        ::mkdir(Lib().c_str(), 0755);
    }
    std::string Lib() const { return dir_ / "lib"; }
    std::string Cache() const { return NameIndexDirectory(Lib()); }
    std::vector<std::string> Discs() const { return LibraryDiscPaths(Lib()); }
    // Every hit of keyword through the index equals the walk's: searched afresh,
    // through an index opened now, and through the one held open since the test
    // began, across every change the test makes. True when the first answered
    // every disc.
    bool SameAsWalk(const std::string& keyword,
                    uint8_t flags = SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS) {
        DiscSearchOptions o;
        o.keyword = keyword;
        o.flags = flags;
        size_t answered = 0, ignored = 0;
        Hits walked = Walk(Discs(), o);
        EXPECT_EQ(Indexed(Cache(), Discs(), o, answered), walked) << keyword;
        CNameIndex opened(Cache());
        EXPECT_EQ(Indexed(opened, Discs(), o, ignored), walked) << keyword;
        // The held index trusts a disc whose folder reported nothing, and reads
        // the discs' lists ahead in one batch.
        Held().TakeChanges();
        const std::vector<std::string> discs = Discs();
        Held().ReadAhead(discs.data(), discs.size(), o);
        EXPECT_EQ(Indexed(Held(), discs, o, ignored), walked) << keyword;
        // What was read ahead for another keyword, or other options, never
        // stands in for this search's own candidates.
        for (int other = 0; other < 2; ++other) {
            DiscSearchOptions ahead = o;
            if (other == 0) ahead.keyword = "zqxj";
            if (other == 1) ahead.flags ^= SF_PINYIN;
            Held().ReadAhead(discs.data(), discs.size(), ahead);
            EXPECT_EQ(Indexed(Held(), discs, o, ignored), walked) << keyword << " after " << other;
        }
        if (!heldClosed_) heldClosed_ = std::make_unique<CNameIndex>(Cache(), 0);
        EXPECT_EQ(Indexed(*heldClosed_, Discs(), o, ignored), walked) << keyword << " files closed";
        return answered == Discs().size();
    }
    CNameIndex& Held() {
        if (!held_) held_ = std::make_unique<CNameIndex>(Cache());
        return *held_;
    }
    void HeldIndexNeverTrustsAChangedDisc(size_t keptOpen, bool takesChanges);
    TempDir dir_;
    std::unique_ptr<CNameIndex> held_;
    std::unique_ptr<CNameIndex> heldClosed_;  // keeps no disc's files open
};

TEST_F(NameIndexTest, GivesExactlyTheHitsOfTheWalk) {
    const char* pieces[] = {"a", "B", "c", "Se", "tup", ".", "x", "Z", "_", "Ab", "\xB0\xA1",
                            "\xB9\xA4", "\xBE\xDF", "\x81\x41", "\x81\x61", "\xA1\xB0", "exe",
                            "EXE", "1",
                            // 工具箱 银行 重庆 中期会: readings for pinyin keywords
                            "\xB9\xA4\xBE\xDF", "\xCF\xE4", "\xD2\xF8\xD0\xD0", "\xD6\xD8\xC7\xEC",
                            "\xD6\xD0\xC6\xDA\xBB\xE1", "g", "J"};
    std::mt19937 rng(2024);
    auto text = [&](int most) {
        std::string t;
        for (int n = 1 + static_cast<int>(rng() % most); n > 0; --n)
            t += pieces[rng() % std::size(pieces)];
        return t.substr(0, 200);
    };
    std::vector<std::string> samples;
    for (int d = 0; d < 6; ++d) {
        ::mkdir((Lib() + "/c" + std::to_string(d % 2)).c_str(), 0755);
        std::vector<std::string> paths;
        std::map<std::string, std::string> notes;
        std::vector<std::string> dirs{""};
        for (int i = 0; i < 250; ++i) {
            const std::string& parent = dirs[rng() % dirs.size()];
            std::string name = text(6) + std::to_string(i);
            bool isDir = rng() % 5 == 0;
            std::string path = parent + name;
            paths.push_back(path + (isDir ? "/" : ""));
            if (isDir) dirs.push_back(path + "/");
            if (rng() % 8 == 0) notes[path] = text(10);
            samples.push_back(name);
        }
        for (const auto& [path, note] : notes) samples.push_back(note);
        ASSERT_FALSE(
            BuildIndex(Lib() + "/c" + std::to_string(d % 2) + "/d" + std::to_string(d) + ".orb",
                       "L" + std::to_string(d), paths, notes)
                .empty());
    }
    NameIndexRefresh r = RefreshNameIndex(Lib(), false);
    ASSERT_EQ(r.built, 6u);
    ASSERT_EQ(r.failed, 0u);

    const uint8_t F = SF_FILES, D = SF_DIRECTORIES, A = SF_ANNOTATIONS, C = SF_MATCHCASE,
                  W = SF_WHOLENAME, P = SF_PINYIN;
    const uint8_t combos[] = {F | D | A,
                              F,
                              D,
                              A,
                              F | C,
                              D | C,
                              A | C,
                              F | D | W,
                              A | W,
                              F | D | A | C | W,
                              F | D | A | P,
                              F | P,
                              D | P | W,
                              F | P | C,
                              A | P,
                              F | D | P | C | W};
    const char* filters[] = {"*", "exe|txt", "", "1|*"};
    auto spell = [&](const std::string& name) { return SpellInPinyin(name, rng); };
    // Held open across every search; the second keeps only two discs open and
    // opens the others for each search.
    CNameIndex held(Cache()), fewOpen(Cache(), 2);
    size_t narrowed = 0, pinyinNarrowed = 0;
    for (int k = 0; k < 400; ++k) {
        const std::string& from = samples[rng() % samples.size()];
        size_t at = rng() % from.size();
        std::string keyword = k % 7 == 0 ? from : from.substr(at, 2 + rng() % 5);
        if (k % 3 == 0) keyword = LowerAZCopy(keyword);
        if (k % 11 == 0) keyword = text(2);
        if (k % 4 == 1) keyword = spell(from);
        if (keyword.empty()) continue;
        DiscSearchOptions o;
        o.keyword = keyword;
        // Spelled keywords mostly with pinyin on (the last six option sets).
        o.flags = combos[k % 4 == 1 && k % 5 ? 10 + k % 6 : k % std::size(combos)];
        o.typeFilter = filters[(k / 3) % std::size(filters)];
        size_t answered = 0, heldAnswered = 0, fewAnswered = 0;
        const Hits walked = Walk(Discs(), o);
        EXPECT_EQ(Indexed(Cache(), Discs(), o, answered), walked)
            << ::testing::PrintToString(keyword) << " flags " << int(o.flags) << " filter "
            << o.typeFilter;
        EXPECT_EQ(Indexed(held, Discs(), o, heldAnswered), walked)
            << ::testing::PrintToString(keyword) << " held open";
        EXPECT_EQ(Indexed(fewOpen, Discs(), o, fewAnswered), walked)
            << ::testing::PrintToString(keyword) << " few held open";
        EXPECT_EQ(heldAnswered, answered);
        EXPECT_EQ(fewAnswered, answered);
        narrowed += answered;
        if ((o.flags & P) && keyword.size() >= 3 && IsPinyinKeyword(keyword))
            pinyinNarrowed += answered;
    }
    // Most keywords are long enough to be narrowed by the index, pinyin ones too.
    EXPECT_GT(narrowed, 6u * 200);
    EXPECT_GT(pinyinNarrowed, 6u * 10);
}

// Whatever name a keyword finds by pinyin alone holds one of the keys the index
// looks the keyword up by: one of the first and one of the last of
// PinyinQueryEnds. (A library small enough for a test fills nearly
// every bucket of its blocks, so a missing key is seen here, not by the walk.)
TEST(NameKeysTest, NamesFoundByPinyinHoldTheirKeywordsKeys) {
    using namespace name_keys;
    const char* pieces[] = {"abc",
                            "Setup",
                            "x",
                            "Q",
                            "7",
                            "-",
                            ".",
                            "\xB9\xA4\xBE\xDF\xCF\xE4",
                            "\xD2\xF8\xD0\xD0",
                            "\xD6\xD8\xC7\xEC",
                            "\xD6\xD0\xC6\xDA\xBB\xE1",
                            "\xB0\xA1",
                            "\xBE\xDF",
                            "zh",
                            "ang"};
    std::mt19937 rng(7);
    size_t checked = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string name;
        for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n)
            name += pieces[rng() % std::size(pieces)];
        const std::string keyword = SpellInPinyin(name, rng, 7);
        if (keyword.size() < 3 || !IsPinyinKeyword(keyword) ||
            !CPinyinMatcher(keyword, false).Matches(name, false))
            continue;
        std::string folded = LowerAZCopy(name);
        if (folded.find(LowerAZCopy(keyword)) != std::string::npos) continue;  // literal
        std::set<uint32_t> held;
        auto add = [&](uint32_t key) { held.insert(key); };
        ForEachKey(name, add);
        ForEachPinyinKey(name, add);
        auto holdsOne = [&](const std::vector<uint32_t>& keys) {
            return std::any_of(keys.begin(), keys.end(),
                               [&](uint32_t k) { return held.count(k) != 0; });
        };
        std::vector<uint32_t> first, last;
        ASSERT_TRUE(PinyinQueryEnds(keyword, first, last));
        EXPECT_TRUE(holdsOne(first)) << keyword << " in " << StoredToHost(name);
        EXPECT_TRUE(holdsOne(last)) << keyword << " in " << StoredToHost(name);
        ++checked;
    }
    EXPECT_GT(checked, 500u);
}

// Whatever name holds a keyword, in any letter case, holds every key the index
// looks the keyword up by. (In a test-sized library nearly every bucket of a
// block is filled, so a key the names lack is seen here, not by the walk.)
TEST(NameKeysTest, NamesHoldingAKeywordHoldItsKeys) {
    using namespace name_keys;
    const char* pieces[] = {
        "abc",      "Setup",    "x",        "Q",        "7",   ".",  "\xB9\xA4\xBE\xDF",
        "\x81\x41", "\x81\x61", "\xCF\xE4", "\xD6\xD0", "exe", "EXE"};
    std::mt19937 rng(31);
    for (int i = 0; i < 3000; ++i) {
        std::string name;
        for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n)
            name += pieces[rng() % std::size(pieces)];
        const size_t at = rng() % name.size();
        std::string keyword = name.substr(at, 1 + rng() % 7);
        if (i % 2) keyword = LowerAZCopy(keyword);
        std::set<uint32_t> held;
        ForEachKey(name, [&](uint32_t key) { held.insert(key); });
        for (uint32_t key : NameIndexKeys(keyword))
            ASSERT_TRUE(held.count(key))
                << ::testing::PrintToString(keyword) << " in " << ::testing::PrintToString(name);
    }
    // A keyword with a double-byte character is narrowed by it.
    EXPECT_FALSE(NameIndexKeys("\xB9\xA4").empty());
    EXPECT_FALSE(NameIndexKeys("a\xB9\xA4").empty());
}

// Every key of every family falls among the segment's buckets, and keys of one
// family never share a bucket with another's.
TEST(NameKeysTest, EachFamilyHasBucketsOfItsOwn) {
    std::mt19937 rng(3);
    for (unsigned bits = 5; bits <= 22; ++bits) {
        std::map<uint32_t, uint32_t> familyOf;  // bucket: the family seen in it
        for (int i = 0; i < 4000; ++i) {
            const uint32_t family = rng() % 8;
            const uint32_t key = family << 24 | (rng() & 0xFFFFFF);
            const uint32_t bucket = segment_bits::BucketOf(key, bits);
            ASSERT_LT(bucket, 1u << bits) << bits;
            const uint32_t space = family >= 5 ? 0 : family;  // others go with the literal
            const auto [it, added] = familyOf.emplace(bucket, space);
            EXPECT_EQ(it->second, space) << bits << " " << bucket;
        }
    }
}

TEST_F(NameIndexTest, SegmentsFollowTheLibrary) {
    ::mkdir((Lib() + "/cat").c_str(), 0755);
    BuildIndex(Lib() + "/a.orb", "A", {"alpha.txt", "dir/", "dir/alphabet.doc"},
               {{"alpha.txt", "first note"}});
    BuildIndex(Lib() + "/b.orb", "B", {"beta.txt"});
    NameIndexRefresh r = RefreshNameIndex(Lib(), false);
    EXPECT_EQ(r.built, 2u);
    EXPECT_TRUE(SameAsWalk("alpha"));

    // Added: only the new disc is built.
    BuildIndex(Lib() + "/cat/c.orb", "C", {"alphorn.mp3"});
    r = RefreshNameIndex(Lib(), false);
    EXPECT_EQ(r.built, 1u);
    EXPECT_EQ(r.fresh, 2u);
    EXPECT_TRUE(SameAsWalk("alph"));

    // Renamed and moved: the segment goes with the file.
    ASSERT_EQ(::rename((Lib() + "/a.orb").c_str(), (Lib() + "/cat/renamed.orb").c_str()), 0);
    ::rename((Lib() + "/a.orc").c_str(), (Lib() + "/cat/renamed.orc").c_str());
    r = RefreshNameIndex(Lib(), false);
    EXPECT_EQ(r.built, 0u);
    EXPECT_TRUE(SameAsWalk("alpha"));

    // Replaced by another disc under the same name, and an annotation changed.
    BuildIndex(Lib() + "/b.orb", "B2", {"gamma/", "gamma/alpha-two.txt"});
    {
        CIndexReader w;
        ASSERT_EQ(w.Open(Lib() + "/cat/renamed.orb", OpenMode::ReadWriteShareAll), 1);
        w.SetAnnotation(kFirstEntryId, "second remark");
        ASSERT_TRUE(w.Close());
    }
    r = RefreshNameIndex(Lib(), false);
    EXPECT_EQ(r.built, 2u);
    EXPECT_TRUE(SameAsWalk("alpha"));
    EXPECT_TRUE(SameAsWalk("remark"));
    EXPECT_TRUE(SameAsWalk("note"));

    // Deleted: its segment goes too.
    ASSERT_EQ(::unlink((Lib() + "/cat/c.orb").c_str()), 0);
    r = RefreshNameIndex(Lib(), false);
    EXPECT_EQ(r.removed, 1u);
    EXPECT_EQ(r.discs, 2u);
    EXPECT_TRUE(SameAsWalk("alph"));
}

// A disc changed under an index held open is never answered from what was kept:
// the held index declines it (the walk answers) until its segment is rebuilt.
// Also when the disc's files are not kept open but opened again for each search,
// and when the files are looked at only after their folder reported a change.
TEST_F(NameIndexTest, HeldIndexNeverTrustsAChangedDisc) {
    for (const size_t keptOpen : {CNameIndex::kFromLimit, size_t{0}})
        for (const bool takesChanges : {false, true}) {
            SCOPED_TRACE(keptOpen ? "files kept open" : "files opened for each search");
            SCOPED_TRACE(takesChanges ? "folder reports taken" : "files looked at every time");
            HeldIndexNeverTrustsAChangedDisc(keptOpen, takesChanges);
            std::filesystem::remove_all(Lib());
            std::filesystem::remove_all(Cache());
            ::mkdir(Lib().c_str(), 0755);
        }
}

void NameIndexTest::HeldIndexNeverTrustsAChangedDisc(size_t keptOpen, bool takesChanges) {
    const std::string disc = Lib() + "/a.orb";
    // Enough names for buckets to stay mostly empty, so a keyword can miss them all,
    // and for a segment of several pages.
    std::vector<std::string> names{"needle.txt", "hay.txt"};
    for (int i = 0; i < 3000; ++i) names.push_back("straw" + std::to_string(i) + ".dat");
    std::map<std::string, int32_t> ids = BuildIndex(disc, "A", names, {{"hay.txt", "plain note"}});
    ASSERT_EQ(ids.count("hay.txt"), 1u);
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    CNameIndex index(Cache(), keptOpen);
    auto search = [&](const std::string& keyword, bool& answered) {
        DiscSearchOptions o;
        o.keyword = keyword;
        o.flags = SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS;
        size_t n = 0;
        const CNameIndex::Counts before = index.GetCounts();
        if (takesChanges) {
            index.TakeChanges();
            index.ReadAhead(&disc, 1, o);
        }
        Hits hits = Indexed(index, {disc}, o, n);
        EXPECT_EQ(hits, Walk({disc}, o)) << keyword;
        answered = n == 1;
        // What was read ahead served the search (a disc whose files are opened
        // for each search reads nothing ahead).
        const CNameIndex::Counts after = index.GetCounts();
        if (!takesChanges || !keptOpen) {
            EXPECT_EQ(after.ahead, before.ahead) << keyword;
        } else if (answered && after.looked == before.looked) {
            EXPECT_GT(after.ahead, before.ahead) << keyword;
        }
        return hits.size();
    };
    bool answered = false;
    EXPECT_EQ(search("needle", answered), 1u);
    EXPECT_TRUE(answered);
    // Only a disc whose files are kept open is taken on its folder's word (and
    // only on a path without links: a temporary folder may lie behind one).
    char real[PATH_MAX];
    const bool watchable = ::realpath(Lib().c_str(), real) && Lib() == real;
    uint64_t looked = index.GetCounts().looked;
    EXPECT_EQ(search("hay", answered), 1u);
    EXPECT_EQ(index.GetCounts().looked, looked + (takesChanges && keptOpen && watchable ? 0 : 1));

    // The segment cut short in place by someone else while it is held.
    ASSERT_EQ(::truncate(NameSegmentPath(Cache(), disc).c_str(), 64), 0);
    EXPECT_EQ(search("needle", answered), 1u);
    EXPECT_FALSE(answered);
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    EXPECT_EQ(search("needle", answered), 1u);
    EXPECT_TRUE(answered);

    // A note written beside the disc: the kept segment knows nothing of it.
    {
        CIndexReader w;
        ASSERT_EQ(w.Open(disc, OpenMode::ReadWriteShareAll), 1);
        w.SetAnnotation(ids["hay.txt"], "a needle in the jungle tonight");
        ASSERT_TRUE(w.Close());
    }
    // Nothing in the old segment leads to it: only the look at the files can tell.
    EXPECT_EQ(search("jungle tonight", answered), 1u);
    EXPECT_FALSE(answered);
    EXPECT_EQ(search("needle", answered), 2u);
    EXPECT_FALSE(answered);
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    EXPECT_EQ(search("needle", answered), 2u);
    EXPECT_TRUE(answered);

    // The index itself rewritten in place, same size: a name changed.
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(disc, bytes));
    const size_t at = bytes.find("needle.txt");
    ASSERT_NE(at, std::string::npos);
    // Six bytes of the name, written through path, at a later time than the segment
    // saw whatever the clock's resolution.
    auto writeName = [&](const std::string& path, const char* six, int later) {
        const int fd = ::open(path.c_str(), O_WRONLY);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + later, 0}};
        const bool written = fd >= 0 && ::pwrite(fd, six, 6, static_cast<off_t>(at)) == 6 &&
                             ::futimens(fd, times) == 0;
        if (fd >= 0) ::close(fd);
        return written;
    };
    ASSERT_TRUE(writeName(disc, "noodle", 10));
    EXPECT_EQ(search("needle", answered), 1u);  // the note's
    EXPECT_FALSE(answered);
    EXPECT_EQ(search("noodle", answered), 1u);
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    EXPECT_EQ(search("noodle", answered), 1u);
    EXPECT_TRUE(answered);

    // Written in place through a second name in a folder outside the library,
    // which its own folder hears nothing of.
    ::mkdir((dir_ / "elsewhere").c_str(), 0755);
    const std::string other = dir_ / "elsewhere/second-name";
    ASSERT_EQ(::link(disc.c_str(), other.c_str()), 0);
    EXPECT_EQ(search("noodle", answered), 1u);
    EXPECT_EQ(search("noodle", answered), 1u);
    EXPECT_TRUE(answered);
    ASSERT_TRUE(writeName(other, "nuudle", 20));
    EXPECT_EQ(search("noodle", answered), 0u);
    EXPECT_FALSE(answered);
    ASSERT_EQ(::unlink(other.c_str()), 0);
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    EXPECT_EQ(search("nuudle", answered), 1u);
    EXPECT_TRUE(answered);

    // Replaced by another disc, then gone.
    BuildIndex(disc, "B", {"other-needle.doc", "x/", "x/needles/"});
    EXPECT_EQ(search("needle", answered), 2u);
    EXPECT_FALSE(answered);
    ASSERT_EQ(::unlink(disc.c_str()), 0);
    EXPECT_EQ(search("needle", answered), 0u);
    EXPECT_FALSE(answered);
}

// A disc that leaves the held index gives up its place: with room for one disc's
// files, the disc kept next keeps its own open and, on its folder's word, is not
// looked at again (a disc opened for each search would be, every time).
TEST_F(NameIndexTest, KeepOnlyFreesThePlacesOfDiscsThatLeft) {
    const std::string a = Lib() + "/a.orb", b = Lib() + "/b.orb";
    ASSERT_FALSE(BuildIndex(a, "A", {"needle-a.txt", "hay.txt"}).empty());
    ASSERT_FALSE(BuildIndex(b, "B", {"needle-b.txt", "hay.txt"}).empty());
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 2u);
    char real[PATH_MAX];
    if (!::realpath(Lib().c_str(), real) || Lib() != real) GTEST_SKIP() << "behind a link";
    CNameIndex index(Cache(), 1);
    DiscSearchOptions o;
    o.keyword = "needle";
    o.flags = SF_FILES | SF_DIRECTORIES;
    size_t answered = 0;
    auto search = [&](const std::string& disc) {
        index.TakeChanges();
        return Indexed(index, {disc}, o, answered);
    };
    EXPECT_EQ(search(a), Walk({a}, o));
    index.KeepOnly({b});
    EXPECT_EQ(search(b), Walk({b}, o));
    const uint64_t looked = index.GetCounts().looked;
    EXPECT_EQ(search(b), Walk({b}, o));
    EXPECT_EQ(index.GetCounts().looked, looked);
    EXPECT_EQ(answered, 3u);
}

// One held index searched from several threads at once, each disc by several of
// them: every thread gets exactly the walk's hits.
TEST_F(NameIndexTest, HeldIndexServesSeveralThreads) {
    std::mt19937 rng(5);
    const char* parts[] = {"alpha", "Beta", "\xB9\xA4\xBE\xDF", "gamma", "_", "7", "delta"};
    for (int d = 0; d < 4; ++d) {
        std::vector<std::string> paths{"dir/"};
        for (int i = 0; i < 300; ++i)
            paths.push_back((i % 3 ? "dir/" : "") + std::string(parts[rng() % 7]) +
                            parts[rng() % 7] + std::to_string(i) + ".txt");
        ASSERT_FALSE(BuildIndex(Lib() + "/d" + std::to_string(d) + ".orb", "D", paths).empty());
    }
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 4u);
    const std::vector<std::string> keywords{"alpha", "betag", "mma1",   "\xB9\xA4\xBE\xDF",
                                            "gj",    "lta_",  "gongju", "a7d"};
    std::vector<Hits> expected;
    for (const std::string& k : keywords) {
        DiscSearchOptions o;
        o.keyword = k;
        o.flags = SF_FILES | SF_DIRECTORIES | SF_PINYIN;
        expected.push_back(Walk(Discs(), o));
    }
    CNameIndex index(Cache());
    std::vector<std::vector<Hits>> got(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round)
                for (size_t k = 0; k < keywords.size(); ++k) {
                    DiscSearchOptions o;
                    o.keyword = keywords[(k + t) % keywords.size()];
                    o.flags = SF_FILES | SF_DIRECTORIES | SF_PINYIN;
                    size_t answered = 0;
                    const std::vector<std::string> discs = Discs();
                    // Half the threads read ahead: a disc another thread holds is
                    // left out, and what landed serves only the next search.
                    if (t % 2) index.ReadAhead(discs.data(), discs.size(), o);
                    got[t].push_back(Indexed(index, discs, o, answered));
                }
        });
    for (std::thread& t : threads) t.join();
    for (size_t t = 0; t < got.size(); ++t)
        for (size_t i = 0; i < got[t].size(); ++i)
            EXPECT_EQ(got[t][i], expected[(i % keywords.size() + t) % keywords.size()])
                << "thread " << t << " search " << i;
    EXPECT_GT(index.GetCounts().answered, 0u);
}

// An index whose records are not stored in walk order (another writer may lay
// them out breadth first): the segment keeps every entry's offset.
TEST_F(NameIndexTest, RecordsOutOfWalkOrder) {
    // Top level: "sub" and 200 files; then sub's 200 files. Links all lead
    // forward. Several blocks, so neighbouring candidates are read together.
    constexpr int kEach = 200;
    std::vector<std::string> top{"sub"}, inner;
    for (int i = 0; i < kEach; ++i) {
        top.push_back("top-needle" + std::to_string(i) + ".txt");
        inner.push_back("in-needle" + std::to_string(i) + ".doc");
    }
    std::vector<uint32_t> topAt, innerAt;
    uint32_t pos = kFirstEntryOffset;
    for (const std::string& n : top)
        topAt.push_back(std::exchange(pos, pos + kRecordFixedSize + n.size()));
    for (const std::string& n : inner)
        innerAt.push_back(std::exchange(pos, pos + kRecordFixedSize + n.size()));
    std::string records;
    const FILETIME t{1, 2};
    for (size_t i = 0; i < top.size(); ++i)
        AppendRecord(records, i == 0 ? static_cast<int32_t>(innerAt[0]) : kNoLink,
                     i + 1 < top.size() ? static_cast<int32_t>(topAt[i + 1]) : kNoLink,
                     i == 0 ? kEntryDirectory : 0, i, t, top[i]);
    for (size_t i = 0; i < inner.size(); ++i)
        AppendRecord(records, kNoLink,
                     i + 1 < inner.size() ? static_cast<int32_t>(innerAt[i + 1]) : kNoLink, 0, i, t,
                     inner[i]);
    IndexHeader h;
    SetHeaderLabel(h, "BFS");
    h.fileCount = 2 * kEach;
    h.dirCount = 1;
    h.remarkOffset = h.coverOffset = pos;
    unsigned char header[kHeaderSize];
    EncodeHeader(h, header);
    std::string file(kIndexMagic, kMagicSize);
    file.append(reinterpret_cast<const char*>(header), kHeaderSize);
    file += records;
    ASSERT_TRUE(ReplaceFileAtomically(Lib() + "/bfs.orb", file, false));
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    EXPECT_TRUE(SameAsWalk("needle"));
    EXPECT_TRUE(SameAsWalk("needle3"));
    EXPECT_TRUE(SameAsWalk("in-needle39"));
}

TEST_F(NameIndexTest, DamagedCacheIsRebuiltNeverTrusted) {
    BuildIndex(Lib() + "/a.orb", "A", {"needle.txt", "hay.txt", "more/", "more/needles.doc"});
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    const std::string seg = NameSegmentPath(Cache(), Lib() + "/a.orb");
    std::string good;
    ASSERT_TRUE(ReadWholeFile(seg, good));

    std::vector<std::string> damaged = {
        good.substr(0, good.size() / 2),  // truncated
        good.substr(0, 100),              // inside the fixed part
        std::string(good.size(), 'x'),    // foreign
        good + "tail",                    // longer
    };
    std::string older = good;  // the format before, whose checks differ
    older[7] = '5';
    damaged.push_back(older);
    std::string flipped = good;  // a posting byte changed: sizes still agree
    flipped[flipped.size() - 2] ^= 0x55;
    damaged.push_back(flipped);
    for (size_t i = 0; i < damaged.size(); ++i) {
        ASSERT_TRUE(ReplaceFileAtomically(seg, damaged[i], false));
        // Never a crash or a wrong answer from the damaged file (the hits are
        // compared inside); one whose sizes no longer agree is refused and the
        // disc walked. A changed byte inside is caught by the checksum when the
        // index is refreshed.
        const bool answered = SameAsWalk("needle");
        if (i + 1 < damaged.size()) {
            EXPECT_FALSE(answered) << i;
        }
        NameIndexRefresh r = RefreshNameIndex(Lib(), false);
        EXPECT_EQ(r.built, 1u) << i;
        std::string now;
        ASSERT_TRUE(ReadWholeFile(seg, now));
        EXPECT_EQ(now, good) << i;
        EXPECT_TRUE(SameAsWalk("needle")) << i;
    }
}

// Every single damaged byte of a segment: the index either declines or still
// gives exactly the walk's hits, never a wrong answer, though the full checksum
// is only read when the index is refreshed.
TEST_F(NameIndexTest, NoDamagedByteGivesAWrongAnswer) {
    ::mkdir((Lib() + "/d").c_str(), 0755);
    std::vector<std::string> paths{"d/"};
    for (int i = 0; i < 40; ++i)
        paths.push_back((i % 9 == 0 ? "d/" : "") + std::string(i % 3 ? "hay" : "needle") +
                        std::to_string(i) + ".txt");
    BuildIndex(Lib() + "/d/a.orb", "A", paths, {{paths[4], "a needle note"}});
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    const std::string seg = NameSegmentPath(Cache(), Lib() + "/d/a.orb");
    std::string good;
    ASSERT_TRUE(ReadWholeFile(seg, good));
    for (size_t at = 0; at < good.size(); ++at) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ (at % 2 ? 0x01 : 0x5A));
        ASSERT_TRUE(ReplaceFileAtomically(seg, bad, false));
        SameAsWalk("needle");
        SameAsWalk("hay1");
        if (HasFailure()) {
            ADD_FAILURE() << "byte " << at << " of " << good.size();
            break;
        }
    }
}

// The bytes of a segment after its identity (the counts, the checksum and the
// body) depend only on the index's records and annotations. Whatever way the
// builder takes to them, they stay those existing caches hold: the size and hash
// are those the plain sorting builder wrote for this disc in this format (a new
// format changes them along with the segment's magic).
TEST_F(NameIndexTest, SegmentBytesStayTheSame) {
    const char* pieces[] = {"a",
                            "B",
                            "Se",
                            "tup",
                            ".",
                            "x",
                            "_",
                            "Ab",
                            "1",
                            "exe",
                            "EXE",
                            "\xB0\xA1",
                            "\xB9\xA4\xBE\xDF",
                            "\x81\x41",
                            "\xCF\xE4",
                            "\xD2\xF8\xD0\xD0",
                            "\xD6\xD8\xC7\xEC",
                            "\xD6\xD0\xC6\xDA\xBB\xE1",
                            "\xB3\xA4",
                            "g"};
    uint32_t seed = 77;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    auto text = [&](unsigned most) {
        std::string t;
        for (unsigned n = 1 + next() % most; n > 0; --n) t += pieces[next() % std::size(pieces)];
        return t;
    };
    // A disc of more than 64 blocks, so a block's bit lies past the first word.
    std::vector<std::string> paths;
    std::map<std::string, std::string> notes;
    std::vector<std::string> dirs{""};
    for (int i = 0; i < 9000; ++i) {
        const std::string& parent = dirs[next() % dirs.size()];
        std::string path = parent + text(5) + std::to_string(i);
        const bool isDir = next() % 9 == 0 && parent.size() < 120;
        paths.push_back(path + (isDir ? "/" : ""));
        if (isDir) dirs.push_back(path + "/");
        if (next() % 11 == 0) notes[path] = text(8);
    }
    ASSERT_FALSE(BuildIndex(Lib() + "/big.orb", "BIG", paths, notes).empty());
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    std::string seg;
    ASSERT_TRUE(ReadWholeFile(NameSegmentPath(Cache(), Lib() + "/big.orb"), seg));
    const size_t identityEnd = 8 + 48 + kHeaderSize;
    ASSERT_GT(seg.size(), identityEnd);
    uint64_t h = 1469598103934665603ULL;
    for (size_t i = identityEnd; i < seg.size(); ++i)
        h = (h ^ static_cast<unsigned char>(seg[i])) * 1099511628211ULL;
    EXPECT_EQ(seg.size(), 64108u);
    EXPECT_EQ(h, 7884465544455393164ULL);
}

// The builder takes a disc's bucket count from its header's counts before the
// walk; a header whose counts are wrong (too few, too many, a count that gives
// other buckets) still gives the segment of the records as they are.
TEST_F(NameIndexTest, HeaderCountsDoNotShapeTheSegment) {
    std::vector<std::string> paths{"d/"};
    for (int i = 0; i < 600; ++i)
        paths.push_back((i % 7 ? "d/" : "") + std::string(i % 3 ? "hay" : "needle") +
                        "-with-a-longer-name-" + std::to_string(i) + ".txt");
    const std::string index = Lib() + "/a.orb";
    ASSERT_FALSE(BuildIndex(index, "A", paths).empty());
    ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u);
    const size_t identityEnd = 8 + 48 + kHeaderSize;
    std::string good, file;
    ASSERT_TRUE(ReadWholeFile(NameSegmentPath(Cache(), index), good));
    ASSERT_TRUE(ReadWholeFile(index, file));
    // 999: as many blocks as the walk finds and more, but other buckets.
    for (uint32_t files : {1u, 299u, 999u, 100000u}) {
        IndexHeader h;
        DecodeHeader(reinterpret_cast<const unsigned char*>(file.data()) + kMagicSize, h);
        h.fileCount = files;
        unsigned char header[kHeaderSize];
        EncodeHeader(h, header);
        std::string changed = file;
        changed.replace(kMagicSize, kHeaderSize, reinterpret_cast<const char*>(header),
                        kHeaderSize);
        ASSERT_TRUE(ReplaceFileAtomically(index, changed, false));
        ASSERT_EQ(RefreshNameIndex(Lib(), false).built, 1u) << files;
        std::string seg;
        ASSERT_TRUE(ReadWholeFile(NameSegmentPath(Cache(), index), seg));
        EXPECT_EQ(seg.substr(identityEnd), good.substr(identityEnd)) << files;
        EXPECT_TRUE(SameAsWalk("needle")) << files;
    }
}

// The ways of gathering each bucket's blocks give the same lists: the bitmaps,
// which build most segments, and the block sets, which build the largest,
// against plain sorting.
TEST(SegmentLists, BlockSetsAndSortAgree) {
    using segment_build::ListMethod;
    std::mt19937 rng(5);
    // With 5,000 blocks, a group of 4,096 buckets whose buckets hold a key of
    // every block but one, whose key is in the first and last block only: its gap
    // is coded with the group's Rice parameter of 0, in thousands of bits.
    const uint32_t rare = 7;
    std::vector<uint32_t> dense;
    const uint32_t rareBucket = segment_bits::BucketOf(rare, 12);
    std::set<uint32_t> taken{rareBucket};
    for (uint32_t k = 100; dense.size() < 31; ++k) {
        const uint32_t b = segment_bits::BucketOf(k, 12);
        if (b >> 5 == rareBucket >> 5 && taken.insert(b).second) dense.push_back(k);
    }
    for (uint32_t blockCount : {0u, 1u, 63u, 64u, 65u, 200u, 5000u}) {
        std::vector<uint32_t> keys, ends;
        for (uint32_t b = 0; b < blockCount; ++b) {
            if (blockCount == 5000) {
                keys.insert(keys.end(), dense.begin(), dense.end());
                if (b == 0 || b + 1 == blockCount) keys.push_back(rare);
            }
            // Some empty blocks, some keys repeated inside a block.
            const uint32_t n = b % 7 == 3 ? 0 : rng() % (blockCount > 1000 ? 8 : 400);
            for (uint32_t i = 0; i < n; ++i)
                keys.push_back(i % 5 == 4 && !keys.empty() ? keys.back() : rng() % 50000);
            ends.push_back(static_cast<uint32_t>(keys.size()));
        }
        for (unsigned bucketBits : {5u, 9u, 12u}) {
            std::vector<uint32_t> groupsB, groupsS, groupsM;
            segment_bits::CBitWriter bitsB, bitsS, bitsM;
            segment_build::CodeBucketLists({keys, ends}, bucketBits, 5, groupsB, bitsB,
                                           ListMethod::BlockSets);
            segment_build::CodeBucketLists({keys, ends}, bucketBits, 5, groupsS, bitsS,
                                           ListMethod::Sort);
            segment_build::CodeBucketLists({keys, ends}, bucketBits, 5, groupsM, bitsM,
                                           ListMethod::Bitmaps);
            EXPECT_EQ(groupsB, groupsS) << blockCount << " " << bucketBits;
            EXPECT_EQ(groupsM, groupsS) << blockCount << " " << bucketBits;
            const std::string& stream = bitsS.Finish();
            EXPECT_EQ(bitsB.Finish(), stream) << blockCount << " " << bucketBits;
            EXPECT_EQ(bitsM.Finish(), stream) << blockCount << " " << bucketBits;
            EXPECT_EQ(groupsB.size(), ((size_t{1} << bucketBits) >> 5) + 1);
            // The group table's checks, hashed side by side, are the reader's.
            std::string table;
            segment_build::PutGroupTable(stream, groupsS, table);
            ASSERT_EQ(table.size(), groupsS.size() * 6);
            for (size_t g = 0; g + 1 < groupsS.size(); ++g) {
                const auto* e = reinterpret_cast<const unsigned char*>(table.data()) + g * 6;
                EXPECT_EQ(segment_bits::Get32(e), groupsS[g]);
                EXPECT_EQ(e[4] | e[5] << 8,
                          segment_bits::GroupCheck(stream, groupsS[g], groupsS[g + 1]))
                    << g;
            }
        }
    }
}

TEST_F(NameIndexTest, CacheLivesOutsideTheLibrary) {
    BuildIndex(Lib() + "/a.orb", "A", {"local.txt"});
    std::vector<std::string> before;
    ListDirectory(Lib(), [&](const DirEntry& d) { return before.push_back(d.name), true; });
    // A library on a read-only medium: nothing is written beside it.
    ASSERT_EQ(::chmod(Lib().c_str(), 0555), 0);
    NameIndexRefresh r = RefreshNameIndex(Lib(), false);
    ::chmod(Lib().c_str(), 0755);
    EXPECT_EQ(r.built, 1u);
    std::vector<std::string> after;
    ListDirectory(Lib(), [&](const DirEntry& d) { return after.push_back(d.name), true; });
    EXPECT_EQ(after, before);
    EXPECT_EQ(Cache().rfind(dir_ / "cache/kelvane-orb/", 0), 0u) << Cache();
    EXPECT_TRUE(SameAsWalk("local"));
}

}  // namespace
}  // namespace orb
