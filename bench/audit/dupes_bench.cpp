// SPDX-License-Identifier: GPL-3.0-or-later
// Duplicates across the synthetic library (by default 1,000 discs of 10,000
// entries; --discs=N --entries=N) against one plain walk of every index, the walk
// a search makes; and the memory the search for duplicates holds (peak resident
// size), which follows the candidates.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "audit/duplicates.h"
#include "audit/index_walk.h"
#include "bench/search/bench_library.h"
#include "library/store/library_store.h"

namespace {

using namespace orb;

const std::vector<std::string>& Discs() {
    static const std::vector<std::string> paths = [] {
        bench::EnsureBenchLibrary(0);
        return LibraryDiscPaths(bench::BenchLibrary(0));
    }();
    return paths;
}

void BM_WalkEveryIndex(benchmark::State& state) {
    uint64_t entries = 0;
    for (auto _ : state) {
        entries = 0;
        for (const std::string& p : Discs()) {
            CIndexReader r;
            if (!r.Open(p, OpenMode::ReadShareAll)) continue;
            WalkIndex(r, [&](const IndexEntry&, int32_t, const std::string&) {
                ++entries;
                return true;
            });
        }
    }
    state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_WalkEveryIndex)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_FindDuplicates(benchmark::State& state) {
    DupeOptions o;
    o.sizeOnly = state.range(0) != 0;
    o.minSize = o.sizeOnly ? 90000 : 1;
    DupeResult r;
    for (auto _ : state) r = FindDuplicates(Discs(), o);
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["groups"] = static_cast<double>(r.groups.size());
    state.counters["candidates"] = static_cast<double>(r.candidates);
    state.counters["files"] = static_cast<double>(r.filesSeen);
    state.counters["peakMiB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_FindDuplicates)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    orb::bench::TakeLibrarySize(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
