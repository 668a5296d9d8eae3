// SPDX-License-Identifier: GPL-3.0-or-later
// Search throughput over a warm synthetic library (by default 1,000 discs of
// 10,000 entries each; --discs=N --entries=N change it), keyword absent, files
// and directories, case-insensitive; beside it grep over the same names and the
// wall time of orbtool search over that library. The Hits benchmarks put a
// keyword on 0.1% and on 5% of the names and give orbtool's peak memory.
//
// Each library is generated once into $TMPDIR/orb-search-bench-DISCSxENTRIES
// (about 400 MB at the default size) and reused by later runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "bench/search/bench_library.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "library/store/library_store.h"
#include "platform/files.h"
#include "search/disc_search.h"

namespace orb {
namespace {

using namespace orb::bench;
constexpr const char* kKeyword = kAbsentKeyword;
constexpr uint8_t kOptions = SF_FILES | SF_DIRECTORIES;

std::string BenchDir() {
    return BenchRoot(0);
}
std::string LibraryDir() {
    return BenchLibrary(0);
}
std::string NamesFile() {
    return BenchNamesFile(0);
}
bool EnsureLibrary() {
    return EnsureBenchLibrary(0);
}

// CPU seconds used by the whole process so far (the worker does the work; the
// caller only waits), so a figure per core can be given on a busy machine too.
double ProcessCpuSeconds() {
    struct rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Counts every event; SEARCH_FINISHED wakes the waiting caller.
class CountingTarget : public CSearchWaitTarget {
public:
    uint64_t progress = 0, found = 0;
    LRESULT Send(uint32_t, WPARAM code, LPARAM) override {
        if (code == SEARCH_PROGRESS)
            ++progress;
        else if (code == SEARCH_FOUND)
            ++found;
        return 0;
    }
};

// Returns the entries searched (the header's counts: progress now comes once per
// whole percentage, not per entry).
uint64_t SearchOnce(CIndexReader& reader, CountingTarget& target, const std::string& path) {
    if (!reader.Open(path, OpenMode::ReadShareAll)) return 0;
    const uint64_t entries = uint64_t{reader.GetFileCount()} + reader.GetDirectoryCount();
    reader.SetSearchOptions(&target, "*", kOptions);
    if (reader.BeginSearch(kKeyword)) target.WaitFinished();
    reader.Close();
    return entries;
}

// One disc searched again and again: the walk itself.
void BM_EngineOneDisc(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    std::string path = LibraryDiscPaths(LibraryDir()).front();
    CIndexReader reader;
    CountingTarget target;
    uint64_t entries = 0;
    double cpu = ProcessCpuSeconds();
    for (auto _ : state) entries += SearchOnce(reader, target, path);
    cpu = ProcessCpuSeconds() - cpu;
    state.SetItemsProcessed(static_cast<int64_t>(entries));
    state.counters["entries_per_cpu_s"] = static_cast<double>(entries) / cpu;
    if (target.found) state.SkipWithError("keyword was found");
}
BENCHMARK(BM_EngineOneDisc)->Unit(benchmark::kMillisecond)->UseRealTime();

// The fixed cost of one disc: open, a worker started and ended, close.
void BM_EngineDiscOverhead(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    std::string path = BenchDir() + "/one-entry.orb";
    CScanTree tree;
    tree.Append(kNoNode, 0, 1, FILETIME{}, "only.txt");
    IndexHeader h;
    h.fileCount = 1;
    if (WriteIndexFile(path, h, tree) != WriteResult::Ok)
        return state.SkipWithError("cannot write the index");
    CIndexReader reader;
    CountingTarget target;
    for (auto _ : state) SearchOnce(reader, target, path);
}
BENCHMARK(BM_EngineDiscOverhead)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The whole library disc after disc, as the search pane runs it.
void BM_EngineLibrary(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    std::vector<std::string> paths = LibraryDiscPaths(LibraryDir());
    CIndexReader reader;
    CountingTarget target;
    uint64_t entries = 0;
    double cpu = ProcessCpuSeconds();
    for (auto _ : state)
        for (const std::string& p : paths) entries += SearchOnce(reader, target, p);
    cpu = ProcessCpuSeconds() - cpu;
    state.SetItemsProcessed(static_cast<int64_t>(entries));
    state.counters["entries_per_cpu_s"] = static_cast<double>(entries) / cpu;
    state.counters["entries"] = static_cast<double>(entries / state.iterations());
    if (target.found) state.SkipWithError("keyword was found");
}
BENCHMARK(BM_EngineLibrary)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Wall time of a shell command, for the external comparisons.
double RunCommand(const std::string& cmd) {
    auto start = std::chrono::steady_clock::now();
    int st = std::system(cmd.c_str());
    auto end = std::chrono::steady_clock::now();
    if (st == -1) return -1;
    return std::chrono::duration<double>(end - start).count();
}

void BM_GrepSameNames(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    // Byte mode, as the engine compares stored bytes.
    std::string cmd =
        "LC_ALL=C grep -c -i -F " + std::string(kKeyword) + " '" + NamesFile() + "' > /dev/null";
    for (auto _ : state) {
        double s = RunCommand(cmd);
        if (s < 0) return state.SkipWithError("grep did not run");
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * LibraryEntries());
}
BENCHMARK(BM_GrepSameNames)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

void BM_OrbtoolSearchLibrary(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    std::string cmd = std::string(ORBTOOL_PATH) + " search '" + LibraryDir() + "' --keyword " +
                      kKeyword + " --files --dirs > /dev/null 2>&1";
    for (auto _ : state) {
        double s = RunCommand(cmd);
        if (s < 0) return state.SkipWithError("orbtool did not run");
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * LibraryEntries());
}
BENCHMARK(BM_OrbtoolSearchLibrary)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

// Wall time and peak resident memory of a command run through the shell.
double RunMeasured(const std::string& cmd, long& maxRssKb) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    if (::wait4(pid, &status, 0, &ru) != pid) return -1;
    auto end = std::chrono::steady_clock::now();
    maxRssKb = std::max(maxRssKb, ru.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

// Arg: every n-th name carries the keyword (1000: 0.1%, 20: 5%).
void BM_GrepHits(benchmark::State& state) {
    const int hitEvery = static_cast<int>(state.range(0));
    if (!EnsureBenchLibrary(hitEvery)) return state.SkipWithError("cannot build the library");
    std::string cmd = std::string("LC_ALL=C grep -c -i -F '") + kHitMarker + "' '" +
                      BenchNamesFile(hitEvery) + "' > /dev/null";
    long rss = 0;
    for (auto _ : state) {
        double s = RunMeasured(cmd, rss);
        if (s < 0) return state.SkipWithError("grep did not run");
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * LibraryEntries());
}
BENCHMARK(BM_GrepHits)->Arg(1000)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_OrbtoolHits(benchmark::State& state) {
    const int hitEvery = static_cast<int>(state.range(0));
    if (!EnsureBenchLibrary(hitEvery)) return state.SkipWithError("cannot build the library");
    std::string cmd = std::string(ORBTOOL_PATH) + " search '" + BenchLibrary(hitEvery) +
                      "' --keyword '" + kHitMarker + "' --files --dirs > /dev/null";
    long rss = 0;
    for (auto _ : state) {
        double s = RunMeasured(cmd, rss);
        if (s < 0) return state.SkipWithError("orbtool did not run");
        state.SetIterationTime(s);
    }
    state.SetItemsProcessed(state.iterations() * LibraryEntries());
    state.counters["peak_MB"] = static_cast<double>(rss) / 1024.0;
    state.counters["hits"] = static_cast<double>(LibraryEntries() / hitEvery);
}
BENCHMARK(BM_OrbtoolHits)->Arg(1000)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime();

// The name index: building it from the library, then the four kinds of keyword
// through it and by the walk. The cache lives beside the generated library.
const char* const kIndexKeywords[] = {"啊", "啊阿", "abc", "Qx7kLm"};

std::string IndexEnv() {
    return "XDG_CACHE_HOME='" + BenchDir() + "/cache' ";
}

void BM_OrbtoolIndexBuild(benchmark::State& state) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    std::string cmd = IndexEnv() + ORBTOOL_PATH + " index '" + LibraryDir() + "' --rebuild";
    for (auto _ : state) {
        long rss = 0;
        double s = RunMeasured(cmd + " > /dev/null", rss);
        if (s < 0) return state.SkipWithError("orbtool index failed");
        state.SetIterationTime(s);
    }
    uint64_t bytes = 0;
    ListDirectory(BenchDir() + "/cache/kelvane-orb", [&](const DirEntry& lib) {
        ListDirectory(BenchDir() + "/cache/kelvane-orb/" + lib.name, [&](const DirEntry& seg) {
            bytes += seg.size;
            return true;
        });
        return true;
    });
    state.counters["bytes_per_entry"] =
        static_cast<double>(bytes) / static_cast<double>(LibraryEntries());
}
BENCHMARK(BM_OrbtoolIndexBuild)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void OrbtoolKeyword(benchmark::State& state, const char* extra) {
    if (!EnsureLibrary()) return state.SkipWithError("cannot build the library");
    const char* keyword = kIndexKeywords[state.range(0)];
    std::string cmd = IndexEnv() + ORBTOOL_PATH + " search '" + LibraryDir() + "' --keyword '" +
                      keyword + "' --files --dirs" + extra + " > /dev/null";
    long rss = 0;
    for (auto _ : state) {
        double s = RunMeasured(cmd, rss);
        if (s < 0) return state.SkipWithError("orbtool did not run");
        state.SetIterationTime(s);
    }
    state.SetLabel(keyword);
}
void BM_OrbtoolIndexedKeyword(benchmark::State& state) {
    OrbtoolKeyword(state, "");
}
void BM_OrbtoolWalkedKeyword(benchmark::State& state) {
    OrbtoolKeyword(state, " --no-index");
}
BENCHMARK(BM_OrbtoolIndexedKeyword)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();
BENCHMARK(BM_OrbtoolWalkedKeyword)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    orb::bench::TakeLibrarySize(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
