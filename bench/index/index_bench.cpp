// SPDX-License-Identifier: GPL-3.0-or-later
// Writing and walking a million-entry index, and the memory a scan tree takes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"

namespace orb {
namespace {

constexpr size_t kEntries = 1000000;

// A realistic disc: nested directories of 5-40 entries, about one in twelve a
// directory, names 8 to 40 bytes with some double-byte characters.
void BuildTree(CScanTree& tree, size_t entries) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> len(8, 40);
    std::uniform_int_distribution<int> fanout(5, 40);
    std::vector<ScanNodeId> dirs{kNoNode};
    size_t made = 0;
    size_t cursor = 0;
    FILETIME t{0x12345678, 0x01D9ABCD};
    while (made < entries) {
        ScanNodeId parent = dirs[cursor % dirs.size()];
        ++cursor;
        int n = fanout(rng);
        for (int i = 0; i < n && made < entries; ++i, ++made) {
            int l = len(rng);
            std::string name;
            for (int k = 0; k < l; ++k) {
                if (k + 1 < l && (rng() % 10) == 0) {
                    name += static_cast<char>(0xB0 + rng() % 0x40);
                    name += static_cast<char>(0xA1 + rng() % 0x50);
                    ++k;
                } else {
                    name += static_cast<char>('a' + rng() % 26);
                }
            }
            bool dir = (rng() % 12) == 0;
            ScanNodeId id = tree.Append(parent, dir ? kEntryDirectory : 0,
                                        dir ? 0 : rng() % 100000000, t, name);
            if (dir) dirs.push_back(id);
        }
    }
}

std::string BenchPath() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orb_bench_" + std::to_string(getpid()) +
           ".orb";
}

void BM_WriteIndex(benchmark::State& state) {
    CScanTree tree;
    BuildTree(tree, kEntries);
    std::string path = BenchPath();
    for (auto _ : state) {
        IndexHeader h;
        h.fileCount = tree.FileCount();
        h.dirCount = tree.DirectoryCount();
        if (WriteIndexFile(path, h, tree) != WriteResult::Ok) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * tree.Size()));
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteIndex)->Unit(benchmark::kMillisecond)->MinTime(2.0);

uint64_t Walk(CIndexReader& r, const IndexEntry* parent) {
    uint64_t n = 0;
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return 0;
    do {
        ++n;
        if (e.IsDirectory() && e.firstChild != kNoLink) n += Walk(r, &e);
    } while (r.ReadNextEntry(e, e));
    return n;
}

void BM_WalkIndex(benchmark::State& state) {
    CScanTree tree;
    BuildTree(tree, kEntries);
    std::string path = BenchPath();
    IndexHeader h;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    WriteIndexFile(path, h, tree);
    CIndexReader r;
    if (!r.Open(path, OpenMode::ReadShareAll)) state.SkipWithError("open failed");
    uint64_t total = 0;
    for (auto _ : state) {
        total = Walk(r, nullptr);
        benchmark::DoNotOptimize(total);
    }
    if (total != kEntries) state.SkipWithError("walk did not see every entry");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * total));
    r.Close();
    std::remove(path.c_str());
}
BENCHMARK(BM_WalkIndex)->Unit(benchmark::kMillisecond)->MinTime(2.0);

long RssKb() {
    std::ifstream in("/proc/self/statm");
    long pages = 0, resident = 0;
    in >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

void BM_ScanTreeMemory(benchmark::State& state) {
    for (auto _ : state) {
        long before = RssKb();
        CScanTree tree;
        BuildTree(tree, kEntries);
        long after = RssKb();
        state.counters["tree_MB"] = static_cast<double>(tree.MemoryUsage()) / 1e6;
        state.counters["rss_growth_MB"] = static_cast<double>(after - before) / 1e3;
    }
}
BENCHMARK(BM_ScanTreeMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace orb

BENCHMARK_MAIN();
