// SPDX-License-Identifier: GPL-3.0-or-later
// The library name index against plocate over the same names:
//
//   index_bench [--discs=N] [--entries=N] [--rounds=N] [--walk] [--build-only]
//               [--keep] [--only=CASE] [--threads=N] [--held-only] [--why]
//
// Over the search benchmarks' synthetic library (default 1,000 discs of 10,000
// entries, generated once into $TMPDIR and reused) it gives: the time to read
// every index file once, to build the whole name index and to add one disc; the
// index's bytes per entry beside plocate's database built from the same names;
// and for a one- and a two-character Chinese keyword and a 3- and a 6-letter
// keyword (letters with pinyin off and on) the time to the first 100 hits and
// to the full count, through the index on one thread, beside `plocate -i`. The
// index is opened once (its time shown apart) and then queried as the search
// pane does; "one-shot" opens every disc's files for the query, as orbtool
// search does.
// Times are wall clock, best of the rounds, page cache warm; the read and the
// build are also timed cold, each file dropped from the page cache before
// (posix_fadvise, no privileges needed). --build-only stops after the build.
// --keep refreshes the index (builds only missing or stale segments) instead of
// rebuilding it; --only runs the one keyword case named CASE ("3 letters, pinyin
// on"); --threads queries the held index on N threads taking the discs in runs
// read ahead, as the search pane's pool does (default one); CPU times are the
// process's. --held-only leaves out the one-shot and plocate runs (a profiler's).
// --why tells, over the first 100 discs, which candidate blocks hold the keys
// and which only share their buckets (see ExplainCandidates).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/search/bench_library.h"
#include "library/store/library_store.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/disc_search.h"
#include "search/index/library_name_index.h"
#include "search/index/name_index.h"
#include "search/index/name_keys.h"
#include "search/index/segment_bits.h"
#include "search/pinyin_match.h"

namespace orb {
namespace {

using namespace orb::bench;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Runs a shell command with its output discarded or captured; its wall time.
double Command(const std::string& cmd, std::string* out = nullptr) {
    auto start = Clock::now();
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        if (out) out->append(buf, n);
    const int status = ::pclose(p);
    const double ms = Ms(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Keywords taken from the names, so each has hits.
struct Keywords {
    std::string chinese1, chinese2, letters3, letters6;
};
Keywords PickKeywords(const std::string& namesFile) {
    Keywords k;
    std::ifstream in(namesFile, std::ios::binary);
    std::string name;
    std::mt19937 rng(11);
    for (int line = 0; std::getline(in, name); ++line) {
        if (line < 5000) continue;  // past the first discs' directories
        const auto* p = reinterpret_cast<const unsigned char*>(name.data());
        for (size_t i = 0; i + 1 < name.size(); ++i) {
            if (p[i] >= 0x80) {
                if (k.chinese1.empty()) k.chinese1 = name.substr(i, 2);
                if (k.chinese2.empty() && i + 3 < name.size() && p[i + 2] >= 0x80)
                    k.chinese2 = name.substr(i, 4);
                ++i;
                continue;
            }
            auto letters = [&](size_t n) {
                if (i + n > name.size()) return false;
                for (size_t j = i; j < i + n; ++j)
                    if (!std::isalpha(p[j])) return false;
                return true;
            };
            if (k.letters3.empty() && letters(3) && rng() % 7 == 0)
                k.letters3 = LowerAZCopy(name.substr(i, 3));
            if (k.letters6.empty() && letters(6) && rng() % 7 == 0)
                k.letters6 = LowerAZCopy(name.substr(i, 6));
        }
        if (!k.chinese1.empty() && !k.chinese2.empty() && !k.letters3.empty() &&
            !k.letters6.empty())
            break;
    }
    return k;
}

// The process's resident memory.
double RssMb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

struct QueryTimes {
    double first100 = 1e30, full = 1e30, fullCpu = 1e30;
    uint64_t hits = 0;
    size_t walked = 0;  // discs the index could not answer
};

// CPU time of the process (the build runs on several threads).
double ProcessCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Every disc through search (the index, or the walk where it declines), on
// threads threads taking the discs in turn, as the search pane's pool does.
template <typename SearchOne>
QueryTimes Query(const std::vector<std::string>& discs, const DiscSearchOptions& o, int rounds,
                 SearchOne&& search, int threads = 1,
                 const std::function<void()>& beginRound = nullptr,
                 const std::function<void(size_t, size_t)>& readAhead = nullptr) {
    QueryTimes t;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuMs();
        if (beginRound) beginRound();
        std::atomic<uint64_t> hits{0};
        std::atomic<size_t> walked{0}, next{0};
        std::atomic<bool> firstDone{false};
        std::mutex firstMutex;
        double first100 = 1e30;
        // Runs of discs, as the search pane takes them, when their lists are read
        // ahead.
        const size_t run = readAhead ? CNameIndex::kReadAheadDiscs : 1;
        auto work = [&] {
            for (size_t from; (from = next.fetch_add(run)) < discs.size();) {
                const size_t to = std::min(discs.size(), from + run);
                if (readAhead) readAhead(from, to);
                for (size_t i = from; i < to; ++i) {
                    uint64_t mine = 0;
                    if (!search(discs[i], [&](const SearchResult&) { ++mine; })) {
                        ++walked;
                        struct Count : IDiscSearchSink {
                            uint64_t& n;
                            explicit Count(uint64_t& h) : n(h) {}
                            void OnHit(const SearchResult&) override { ++n; }
                        } sink(mine);
                        SearchDiscs({discs[i]}, o, sink);
                    }
                    if (hits.fetch_add(mine) + mine >= 100 && !firstDone.exchange(true)) {
                        std::lock_guard<std::mutex> lock(firstMutex);
                        first100 = Ms(start);
                    }
                }
            }
        };
        std::vector<std::thread> pool;
        for (int k = 1; k < threads; ++k) pool.emplace_back(work);
        work();
        for (std::thread& th : pool) th.join();
        t.full = std::min(t.full, Ms(start));
        t.fullCpu = std::min(t.fullCpu, ProcessCpuMs() - cpuStart);
        t.first100 = std::min(t.first100, firstDone ? first100 : Ms(start));
        t.hits = hits;
        t.walked = walked;
    }
    return t;
}

// Drops the files from the page cache, so the next read comes from the disk.
void Evict(const std::vector<std::string>& files) {
    for (const std::string& f : files) {
        int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// One read of every file; its wall time.
double ReadAll(const std::vector<std::string>& files, uint64_t& bytes) {
    auto start = Clock::now();
    bytes = 0;
    std::string data;
    for (const std::string& f : files) {
        data.clear();
        ReadWholeFile(f, data);
        bytes += data.size();
    }
    return Ms(start);
}

// The family of a key, by its top byte.
constexpr const char* kFamilies[] = {"literal", "pair", "pinyin2", "pinyin3", "reading3"};
constexpr int kFamilyCount = 5;
int FamilyOf(uint32_t key) {
    return static_cast<int>(std::min(key >> 24, 4u));
}

// Why a key has the candidate blocks it has: per block of 128 names (as the
// names file lists them, 5 discs' worth), its distinct keys of each family and
// the share of that family's buckets (in a segment of bucketBits) they fill.
void KeyShares(const std::string& namesFile, unsigned bucketBits) {
    std::ifstream in(namesFile, std::ios::binary);
    std::string name;
    std::set<uint32_t> keys[kFamilyCount], buckets[kFamilyCount];
    double sumKeys[kFamilyCount] = {}, sumBuckets[kFamilyCount] = {};
    int blocks = 0;
    auto add = [&](uint32_t k) {
        const int family = FamilyOf(k);
        keys[family].insert(k);
        buckets[family].insert(segment_bits::BucketOf(k, bucketBits));
    };
    for (int line = 1; line <= 5 * EntriesPerDisc() && std::getline(in, name); ++line) {
        name_keys::ForEachKey(name, add);
        name_keys::ForEachPinyinKey(name, add);
        if (line % 128) continue;
        for (int t = 0; t < kFamilyCount; ++t) {
            sumKeys[t] += keys[t].size();
            sumBuckets[t] += buckets[t].size();
            keys[t].clear();
            buckets[t].clear();
        }
        ++blocks;
    }
    if (blocks == 0) return;
    std::printf("keys per block of 128 names, and the share of their family's buckets they fill:");
    for (uint32_t t = 0; t < kFamilyCount; ++t) {
        const double range =
            static_cast<double>(uint64_t{segment_bits::RangeOf(t << 24).size} << (bucketBits - 4));
        std::printf(" %s %.0f, %.1f%%;", kFamilies[t], sumKeys[t] / blocks,
                    100 * sumBuckets[t] / blocks / range);
    }
    std::printf("\n");
}

// Why a query reads the blocks it reads (--why): per candidate block, whether it
// truly holds the keys (a literal match: every literal key; pinyin: a key of the
// run's first characters and one of its last) or only shares their buckets, and
// the families of the keys it shares them with. Names only (annotations are not
// looked at), over the first discs.
struct Explained {
    uint64_t segmentBlocks = 0, candidates = 0, trueLiteral = 0, truePinyin = 0;
};
Explained ExplainCandidates(const std::string& cache, const std::vector<std::string>& discs,
                            const DiscSearchOptions& o, size_t most, bool print = true) {
    std::vector<uint32_t> all = NameIndexKeys(o.keyword), first, last;
    const bool pinyin = (o.flags & SF_PINYIN) && IsPinyinKeyword(o.keyword) &&
                        name_keys::PinyinQueryEnds(o.keyword, first, last);
    uint64_t blocks = 0, trueLiteral = 0, truePinyin = 0, falseBlocks = 0, segmentBlocks = 0;
    uint64_t sharing[kFamilyCount] = {}, keysPerBlock[kFamilyCount] = {}, keyedBlocks = 0;
    const size_t n = std::min(most, discs.size());
    std::map<uint32_t, uint64_t> sharers;  // keys sharing a bucket: in how many blocks
    for (size_t d = 0; d < n; ++d) {
        std::unique_ptr<CNameSegment> seg = CNameSegment::OpenFresh(cache, discs[d]);
        if (!seg) continue;
        const unsigned bits = seg->BucketBits();
        std::set<uint32_t> buckets;
        for (uint32_t k : all) buckets.insert(segment_bits::BucketOf(k, bits));
        for (uint32_t k : first) buckets.insert(segment_bits::BucketOf(k, bits));
        for (uint32_t k : last) buckets.insert(segment_bits::BucketOf(k, bits));
        std::vector<uint32_t> candidates;
        if (!(pinyin ? seg->CandidateBlocks(all, first, last, candidates)
                     : seg->CandidateBlocks(all, {}, candidates)))
            continue;
        segmentBlocks += (seg->EntryCount() + 127) / 128;
        std::vector<CNameSegment::BlockRecord> records;
        std::string buffer;
        auto keysOf = [&](uint32_t block, std::set<uint32_t>& keys) {
            keys.clear();
            if (!seg->ReadBlock(block, records, buffer)) return false;
            for (const CNameSegment::BlockRecord& r : records) {
                std::string_view name(buffer.data() + r.at + kRecordFixedSize,
                                      r.length - kRecordFixedSize);
                name = name.substr(0, name.find('\0'));
                auto add = [&](uint32_t k) { keys.insert(k); };
                name_keys::ForEachKey(name, add);
                name_keys::ForEachPinyinKey(name, add);
            }
            return true;
        };
        std::set<uint32_t> keys;
        // Distinct keys of a block per family, from a few blocks of each disc.
        for (uint32_t b = 0; b < 4 && keysOf(b, keys); ++b) {
            ++keyedBlocks;
            for (uint32_t k : keys) ++keysPerBlock[FamilyOf(k)];
        }
        for (uint32_t b : candidates) {
            if (!keysOf(b, keys)) continue;
            ++blocks;
            auto holds = [&](uint32_t k) { return keys.count(k) != 0; };
            if (std::all_of(all.begin(), all.end(), holds)) {
                ++trueLiteral;
                continue;
            }
            if (pinyin && std::any_of(first.begin(), first.end(), holds) &&
                (last.empty() || std::any_of(last.begin(), last.end(), holds))) {
                ++truePinyin;
                continue;
            }
            ++falseBlocks;
            bool seen[kFamilyCount] = {};
            for (uint32_t k : keys)
                if (buckets.count(segment_bits::BucketOf(k, bits))) {
                    seen[FamilyOf(k)] = true;
                    ++sharers[k];
                }
            for (int f = 0; f < kFamilyCount; ++f) sharing[f] += seen[f];
        }
    }
    if (!print) return {segmentBlocks, blocks, trueLiteral, truePinyin};
    std::printf(
        "%-22s why (%zu discs, %llu blocks): %llu candidates, %llu hold the literal keys, "
        "%llu the pinyin keys, %llu only share buckets\n",
        "", n, static_cast<unsigned long long>(segmentBlocks),
        static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(trueLiteral),
        static_cast<unsigned long long>(truePinyin), static_cast<unsigned long long>(falseBlocks));
    std::printf("%-22s blocks sharing a bucket through:", "");
    for (int f = 0; f < kFamilyCount; ++f)
        std::printf(" %s %llu;", kFamilies[f], static_cast<unsigned long long>(sharing[f]));
    std::vector<std::pair<uint64_t, uint32_t>> top;
    for (const auto& [key, count] : sharers) top.emplace_back(count, key);
    std::sort(top.rbegin(), top.rend());
    std::printf("\n%-22s most shared with:", "");
    for (size_t i = 0; i < top.size() && i < 5; ++i)
        std::printf(" %08x (%s) %llu;", top[i].second, kFamilies[FamilyOf(top[i].second)],
                    static_cast<unsigned long long>(top[i].first));
    std::printf("\n%-22s distinct keys per block:", "");
    for (int f = 0; f < kFamilyCount; ++f)
        std::printf(" %s %.0f;", kFamilies[f],
                    keyedBlocks ? static_cast<double>(keysPerBlock[f]) / keyedBlocks : 0.0);
    std::printf("\n");
    return {segmentBlocks, blocks, trueLiteral, truePinyin};
}

// Candidate blocks of many 3-letter keywords taken from the names, on average
// over the first discs: one keyword may be lucky or unlucky in its buckets.
void ExplainManyKeywords(const std::string& cache, const std::vector<std::string>& discs,
                         const std::string& namesFile) {
    std::ifstream in(namesFile, std::ios::binary);
    std::string name;
    std::vector<std::string> keywords;
    std::mt19937 rng(23);
    for (int line = 0; keywords.size() < 60 && std::getline(in, name); ++line) {
        if (line < 5000 || rng() % 50 || name.size() < 4) continue;
        const size_t at = rng() % (name.size() - 3);
        std::string k = LowerAZCopy(name.substr(at, 3));
        if (std::all_of(k.begin(), k.end(), [](char c) { return std::isalpha(c & 0xff); }))
            keywords.push_back(k);
    }
    for (bool pinyin : {false, true}) {
        Explained sum;
        std::vector<double> shares;
        for (const std::string& k : keywords) {
            DiscSearchOptions o;
            o.keyword = k;
            o.flags = static_cast<uint8_t>(SF_FILES | SF_DIRECTORIES | (pinyin ? SF_PINYIN : 0));
            const Explained e = ExplainCandidates(cache, discs, o, 20, false);
            sum.segmentBlocks += e.segmentBlocks;
            sum.candidates += e.candidates;
            sum.trueLiteral += e.trueLiteral;
            sum.truePinyin += e.truePinyin;
            shares.push_back(e.segmentBlocks ? double(e.candidates) / e.segmentBlocks : 0);
        }
        std::sort(shares.begin(), shares.end());
        const double blocks = static_cast<double>(std::max<uint64_t>(1, sum.segmentBlocks));
        std::printf(
            "%zu 3-letter keywords, pinyin %s: candidates %.2f%% of blocks (median %.2f%%, worst "
            "%.2f%%), holding the literal keys %.2f%%, the pinyin keys %.2f%%\n",
            keywords.size(), pinyin ? "on" : "off", 100 * sum.candidates / blocks,
            shares.empty() ? 0 : 100 * shares[shares.size() / 2],
            shares.empty() ? 0 : 100 * shares.back(), 100 * sum.trueLiteral / blocks,
            100 * sum.truePinyin / blocks);
    }
}

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    using namespace orb;
    using namespace orb::bench;
    TakeLibrarySize(argc, argv);
    int rounds = 3, threads = 1;
    bool walk = false, keep = false, why = false;
    bool buildOnly = false;
    bool heldOnly = false;  // no one-shot or plocate runs: for profiling the held index
    std::string only;       // run only the case of this name
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--build-only") == 0) buildOnly = true;
        if (std::strcmp(argv[i], "--held-only") == 0) heldOnly = true;
        if (std::strncmp(argv[i], "--only=", 7) == 0) only = argv[i] + 7;
        if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        if (std::strncmp(argv[i], "--threads=", 10) == 0)
            threads = std::max(1, std::atoi(argv[i] + 10));
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        if (std::strcmp(argv[i], "--walk") == 0) walk = true;
        if (std::strcmp(argv[i], "--why") == 0) why = true;
    }
    std::printf("library: %d discs x %d entries = %lld entries\n", Discs(), EntriesPerDisc(),
                static_cast<long long>(LibraryEntries()));
    auto start = Clock::now();
    if (!EnsureBenchLibrary(0)) {
        std::fprintf(stderr, "cannot build the library\n");
        return 1;
    }
    std::printf("library ready in %.0f ms\n", Ms(start));
    const std::string lib = BenchLibrary(0);
    const std::string root = BenchRoot(0);
    // A cache of one's own when XDG_CACHE_HOME is set: benchmarks of different
    // builds of the index may run at once over the one library.
    ::setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 0);
    const std::string cacheHome = std::getenv("XDG_CACHE_HOME");
    const std::string cache = NameIndexDirectory(lib);
    const std::vector<std::string> discs = LibraryDiscPaths(lib);

    // One read of every index file, cold and then warm.
    uint64_t orbBytes = 0;
    Evict(discs);
    const double coldReadMs = ReadAll(discs, orbBytes);
    double readMs = 1e30;
    for (int pass = 0; pass < 2; ++pass) readMs = std::min(readMs, ReadAll(discs, orbBytes));
    std::printf("read every .orb once: %.0f ms warm, %.0f ms cold (%.1f MB)\n", readMs, coldReadMs,
                orbBytes / 1e6);
    // The build, cold (as at start-up after a reboot) and then warm.
    Evict(discs);
    start = Clock::now();
    NameIndexRefresh built = RefreshNameIndex(lib, !keep);
    const double coldBuildMs = Ms(start);
    double buildMs = coldBuildMs, buildCpuMs = 0;
    // --keep reuses the index: its one refresh is all there is to show.
    for (int r = 0; r < (keep ? 0 : rounds); ++r) {
        start = Clock::now();
        const double cpu = ProcessCpuMs();
        built = RefreshNameIndex(lib, true);
        buildMs = r ? std::min(buildMs, Ms(start)) : Ms(start);
        buildCpuMs = r ? std::min(buildCpuMs, ProcessCpuMs() - cpu) : ProcessCpuMs() - cpu;
    }
    const double entries = static_cast<double>(LibraryEntries());
    if (keep)
        std::printf("refresh the name index: %.0f ms, %zu built, %zu failed\n", coldBuildMs,
                    built.built, built.failed);
    else
        std::printf(
            "build the name index: %.0f ms warm (%.2f x the warm read), %.0f ms cold (%.2f x "
            "the cold read), %zu failed\n",
            buildMs, buildMs / readMs, coldBuildMs, coldBuildMs / coldReadMs, built.failed);
    if (!keep) std::printf("build CPU time (warm): %.0f ms\n", buildCpuMs);
    std::printf("name index: %.1f MB, %.2f bytes per entry\n", built.bytes / 1e6,
                static_cast<double>(built.bytes) / entries);

    // Adding one disc: the segment of one new 10,000-entry disc.
    {
        CScanTree tree;
        std::mt19937 rng(99);
        BuildBenchDisc(Discs(), rng, 0, tree);
        IndexHeader h;
        SetHeaderLabel(h, "ADDED");
        h.fileCount = tree.FileCount();
        h.dirCount = tree.DirectoryCount();
        // Beside the cache, not in the library: the library may be shared with
        // other benchmarks running at the same time.
        ::mkdir(cacheHome.c_str(), 0755);
        ::mkdir((cacheHome + "/added").c_str(), 0755);
        const std::string added = cacheHome + "/added/added-disc.orb";
        if (WriteIndexFile(added, h, tree) == WriteResult::Ok) {
            double best = 1e30;
            for (int r = 0; r < rounds; ++r) {
                std::string error;
                start = Clock::now();
                BuildNameSegment(cache, added, error);
                best = std::min(best, Ms(start));
            }
            std::printf("add one disc of %zu entries: %.1f ms\n", tree.Size(), best);
            ::unlink(NameSegmentPath(cache, added).c_str());
            ::unlink(added.c_str());
        }
    }

    if (buildOnly) return 0;

    const std::string db = root + "/plocate.db";
    bool plocate = true;
    if (FileBytes(db) == 0) {
        start = Clock::now();
        plocate = Command("LC_ALL=C plocate-build -p " + Quote(BenchNamesFile(0)) + " " +
                          Quote(db) + " 2>&1") >= 0;
        if (plocate) std::printf("plocate-build: %.0f ms\n", Ms(start));
    }
    if (plocate && FileBytes(db) > 0)
        std::printf("plocate database: %.1f MB, %.2f bytes per entry\n", FileBytes(db) / 1e6,
                    static_cast<double>(FileBytes(db)) / entries);
    else
        std::printf("plocate: not available (Debian package plocate)\n");

    // The long-lived index: opened once, then asked many times.
    RaiseOpenFileLimit();
    CNameIndex index(cache);
    const double rssBefore = RssMb();
    start = Clock::now();
    const size_t openFresh = index.OpenDiscs(discs);
    std::printf("open the name index: %.1f ms (%zu of %zu discs fresh), %.1f MB of memory\n",
                Ms(start), openFresh, discs.size(), RssMb() - rssBefore);

    if (std::unique_ptr<CNameSegment> seg =
            discs.empty() ? nullptr : CNameSegment::OpenFresh(cache, discs.front()))
        KeyShares(BenchNamesFile(0), seg->BucketBits());
    if (why) ExplainManyKeywords(cache, discs, BenchNamesFile(0));
    Keywords k = PickKeywords(BenchNamesFile(0));
    struct Case {
        const char* what;
        std::string keyword;
        bool pinyin;
    };
    const Case cases[] = {
        {"1 Chinese character", k.chinese1, false}, {"2 Chinese characters", k.chinese2, false},
        {"3 letters", k.letters3, false},           {"3 letters, pinyin on", k.letters3, true},
        {"6 letters", k.letters6, false},           {"6 letters, pinyin on", k.letters6, true},
    };
    std::printf("\n%-22s %-8s %12s %12s %12s %10s %6s | %12s %12s %10s\n", "keyword", "",
                "first 100", "full count", "one-shot", "hits", "walked", "plocate 100",
                "plocate all", "its hits");
    for (const Case& c : cases) {
        if (c.keyword.empty() || (!only.empty() && only != c.what)) continue;
        DiscSearchOptions o;
        o.keyword = c.keyword;
        o.flags = static_cast<uint8_t>(SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS |
                                       (c.pinyin ? SF_PINYIN : 0));
        const CNameIndex::Counts before = index.GetCounts();
        QueryTimes t = Query(
            discs, o, rounds,
            [&](const std::string& d, const auto& onHit) { return index.SearchDisc(d, o, onHit); },
            threads, [&] { index.TakeChanges(); },
            [&](size_t from, size_t to) { index.ReadAhead(&discs[from], to - from, o); });
        const CNameIndex::Counts after = index.GetCounts();
        const double heldMb = RssMb() - rssBefore;
        // Opening every disc's files for the one query, as orbtool search does.
        CIndexReader reader;
        QueryTimes once =
            Query(discs, o, heldOnly ? 0 : rounds, [&](const std::string& d, const auto& onHit) {
                return SearchDiscThroughIndex(cache, d, o, reader, onHit);
            });
        double p100 = 1e30, pAll = 1e30;
        std::string count;
        if (plocate && !heldOnly) {
            // plocate folds case only in valid text of the locale; GBK bytes are
            // searched as they are (they have no case).
            const bool ascii = std::all_of(c.keyword.begin(), c.keyword.end(), [](char ch) {
                return static_cast<unsigned char>(ch) < 0x80;
            });
            const std::string fold = ascii ? "-i " : "";
            for (int r = 0; r < rounds; ++r) {
                p100 = std::min(p100, Command("LC_ALL=C plocate " + fold + "-d " + Quote(db) +
                                              " -l 100 -- " + Quote(c.keyword) + " >/dev/null"));
                count.clear();
                pAll = std::min(pAll, Command("LC_ALL=C plocate " + fold + "-c -d " + Quote(db) +
                                                  " -- " + Quote(c.keyword),
                                              &count));
            }
        }
        while (!count.empty() && (count.back() == '\n')) count.pop_back();
        std::printf("%-22s %-8s %9.1f ms %9.1f ms %9.1f ms %10llu %6zu | %9.1f ms %9.1f ms %10s\n",
                    c.what, StoredToHost(c.keyword).c_str(), t.first100, t.full, once.full,
                    static_cast<unsigned long long>(t.hits), t.walked, p100, pAll, count.c_str());
        // What a query read: posting lists, candidate blocks, names given to the
        // matcher.
        const double q = rounds;
        std::printf(
            "%-22s cpu %.1f ms; held index %.1f MB; lists %.0f, blocks %.0f, names "
            "checked %.0f\n",
            "", t.fullCpu, heldMb, (after.keys - before.keys) / q,
            (after.blocks - before.blocks) / q, (after.records - before.records) / q);
        if (why) ExplainCandidates(cache, discs, o, 100);
        if (walk) {
            struct Count : IDiscSearchSink {
                uint64_t n = 0;
                void OnHit(const SearchResult&) override { ++n; }
            } sink;
            start = Clock::now();
            SearchDiscs(discs, o, sink);
            std::printf("%-22s walk: %.1f ms, %llu hits\n", "", Ms(start),
                        static_cast<unsigned long long>(sink.n));
        }
    }
    return 0;
}
