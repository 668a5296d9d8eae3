// SPDX-License-Identifier: GPL-3.0-or-later
// Pinyin search against a literal search of the same keyword length, by the walk
// over a synthetic library (discs of 10,000 entries, generated once into $TMPDIR
// and reused):
//
//   pinyin_bench [ENTRIES [KEYWORD...]]     (default 10,000,000; zebra gjx zhongw ab)
//
// Each keyword is searched without and with pinyin; the best of three runs is
// shown as wall and CPU seconds, with the ratio pinyin / literal. With
// ORB_BENCH_PINYIN_ONLY set only the pinyin searches run (for a profiler).
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/search/bench_library.h"
#include "library/store/library_store.h"
#include "search/disc_search.h"

namespace orb {
namespace {

using namespace orb::bench;

double CpuSeconds() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The first `discs` discs of the benchmark library, built as it builds them.
std::vector<std::string> EnsureDiscs(int discs) {
    // The search benchmarks' library of the same size holds the same discs (same
    // generator, same seed): used when it is there, instead of a second copy.
    Discs() = discs;
    struct stat ready {};
    if (::stat((BenchRoot(0) + "/complete").c_str(), &ready) == 0) {
        std::vector<std::string> paths = LibraryDiscPaths(BenchLibrary(0));
        if (paths.size() == static_cast<size_t>(discs)) return paths;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/orb-pinyin-bench-" + std::to_string(discs);
    ::mkdir(dir.c_str(), 0755);
    std::vector<std::string> paths;
    std::mt19937 rng(7);
    struct stat st {};
    const bool complete = ::stat((dir + "/complete").c_str(), &st) == 0;
    for (int disc = 0; disc < discs; ++disc) {
        char file[32];
        std::snprintf(file, sizeof(file), "/disc%05d.orb", disc);
        paths.push_back(dir + file);
        if (complete) continue;
        CScanTree tree;
        BuildBenchDisc(disc, rng, 0, tree);
        IndexHeader h;
        SetHeaderLabel(h, "DISC" + std::to_string(disc));
        h.fileCount = tree.FileCount();
        h.dirCount = tree.DirectoryCount();
        if (WriteIndexFile(paths.back(), h, tree) != WriteResult::Ok) {
            std::fprintf(stderr, "cannot write %s\n", paths.back().c_str());
            std::exit(1);
        }
    }
    if (!complete) ReplaceFileAtomically(dir + "/complete", "ok\n", false);
    return paths;
}

struct CountingSink : IDiscSearchSink {
    uint64_t hits = 0;
    void OnHit(const SearchResult&) override { ++hits; }
};

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
    uint64_t hits = 0;
};

Timing Run(const std::vector<std::string>& paths, const std::string& keyword, uint8_t flags) {
    Timing best;
    for (int round = 0; round < 3; ++round) {
        DiscSearchOptions options;
        options.keyword = keyword;
        options.flags = flags;
        CountingSink sink;
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        SearchDiscs(paths, options, sink);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best.wall = std::min(best.wall, wall);
        best.cpu = std::min(best.cpu, CpuSeconds() - cpu0);
        best.hits = sink.hits;
    }
    return best;
}

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    const long long entries = argc > 1 ? std::atoll(argv[1]) : 10'000'000LL;
    if (entries < orb::bench::EntriesPerDisc()) {
        std::fprintf(stderr, "usage: pinyin_bench [ENTRIES >= %d [KEYWORD...]]\n",
                     orb::bench::EntriesPerDisc());
        return 2;
    }
    const int discs = static_cast<int>(entries / orb::bench::EntriesPerDisc());
    std::printf("preparing %d discs (%lld entries)...\n", discs,
                static_cast<long long>(discs) * orb::bench::EntriesPerDisc());
    std::fflush(stdout);
    const std::vector<std::string> paths = orb::EnsureDiscs(discs);
    orb::Run(paths, "warm", orb::SF_FILES);  // page cache

    const uint8_t base = orb::SF_FILES | orb::SF_DIRECTORIES;
    std::printf("%-8s %12s %12s %10s %12s %12s %10s %8s %8s\n", "keyword", "literal s", "cpu s",
                "hits", "pinyin s", "cpu s", "hits", "wall x", "cpu x");
    std::vector<std::string> keywords(argv + std::min(argc, 2), argv + argc);
    if (keywords.empty()) keywords = {"zebra", "gjx", "zhongw", "ab"};
    const bool pinyinOnly = std::getenv("ORB_BENCH_PINYIN_ONLY") != nullptr;
    for (const std::string& keyword : keywords) {
        const char* kw = keyword.c_str();
        orb::Timing lit = pinyinOnly ? orb::Timing{1, 1, 0} : orb::Run(paths, kw, base);
        orb::Timing pin = orb::Run(paths, kw, base | orb::SF_PINYIN);
        std::printf("%-8s %12.3f %12.3f %10llu %12.3f %12.3f %10llu %8.2f %8.2f\n", kw, lit.wall,
                    lit.cpu, static_cast<unsigned long long>(lit.hits), pin.wall, pin.cpu,
                    static_cast<unsigned long long>(pin.hits), pin.wall / lit.wall,
                    pin.cpu / lit.cpu);
    }
    return 0;
}
