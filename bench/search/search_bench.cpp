// Search throughput over a warm synthetic library of 1,000 discs of 10,000 entries
// each, keyword absent, files and directories, case-insensitive; beside it grep
// over the same names and the wall time of orbtool search over that library.
//
// The library is generated once into $TMPDIR/orb-search-bench-1000x10000 (about
// 400 MB) and reused by later runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "library/store/library_store.h"
#include "platform/files.h"

namespace orb {
namespace {

constexpr int kDiscs = 1000;
constexpr int kEntriesPerDisc = 10000;
constexpr const char* kKeyword = "zebra";  // names never hold a 'z'
constexpr uint8_t kOptions = SF_FILES | SF_DIRECTORIES;

std::string BenchDir() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/orb-search-bench-1000x10000";
}
std::string LibraryDir() {
    return BenchDir() + "/library";
}
std::string NamesFile() {
    return BenchDir() + "/names.txt";
}

// One disc: ten top directories with nine subdirectories each, files spread over
// them; names of 6 to 24 bytes, about one character in ten double-byte, common
// extensions.
void BuildDisc(int disc, std::mt19937& rng, CScanTree& tree) {
    static const char* kExt[] = {"exe", "dll", "txt", "jpg", "htm", "doc", "mp3", "dat", "", "ini"};
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyABCDEFGHIJKLMNOPQRSTUVWXY0123456789_-";
    auto name = [&](bool dir) {
        std::string n;
        int len = 6 + static_cast<int>(rng() % 19);
        for (int k = 0; k < len; ++k) {
            if (k + 1 < len && rng() % 10 == 0) {
                n += static_cast<char>(0xB0 + rng() % 0x40);
                n += static_cast<char>(0xA1 + rng() % 0x50);
                ++k;
            } else {
                n += kLetters[rng() % (sizeof(kLetters) - 1)];
            }
        }
        const char* ext = kExt[rng() % 10];
        if (!dir && *ext) n += std::string(".") + ext;
        return n;
    };
    FILETIME t{0x12345678, 0x01D9ABCD};
    std::vector<ScanNodeId> dirs;
    for (int top = 0; top < 10; ++top) {
        ScanNodeId d = tree.Append(kNoNode, kEntryDirectory, 0, t, name(true));
        dirs.push_back(d);
        for (int sub = 0; sub < 9; ++sub)
            dirs.push_back(tree.Append(d, kEntryDirectory, 0, t, name(true)));
    }
    int files = kEntriesPerDisc - static_cast<int>(dirs.size());
    for (int i = 0; i < files; ++i)
        tree.Append(dirs[(i * 7 + disc) % dirs.size()], 0, rng() % 100000, t, name(false));
}

// Walks a written tree in index order, appending each name to the names file.
void AppendNames(const CScanTree& tree, ScanNodeId node, std::string& out) {
    for (; node != kNoNode; node = tree.Node(node).nextSibling) {
        out.append(tree.Name(node));
        out += '\n';
        AppendNames(tree, tree.Node(node).firstChild, out);
    }
}

bool EnsureLibrary() {
    std::string marker = BenchDir() + "/complete";
    struct stat st {};
    if (::stat(marker.c_str(), &st) == 0) return true;
    ::mkdir(BenchDir().c_str(), 0755);
    ::mkdir(LibraryDir().c_str(), 0755);
    std::mt19937 rng(7);
    std::string names;
    names.reserve(size_t{kDiscs} * kEntriesPerDisc * 18);
    for (int disc = 0; disc < kDiscs; ++disc) {
        // Ten categories of a hundred discs.
        std::string cat = LibraryDir() + "/cat" + std::to_string(disc / 100);
        ::mkdir(cat.c_str(), 0755);
        CScanTree tree;
        BuildDisc(disc, rng, tree);
        IndexHeader h;
        SetHeaderLabel(h, "DISC" + std::to_string(disc));
        h.fileCount = tree.FileCount();
        h.dirCount = tree.DirectoryCount();
        char file[32];
        std::snprintf(file, sizeof(file), "/disc%04d.orb", disc);
        if (WriteIndexFile(cat + file, h, tree) != WriteResult::Ok) return false;
        AppendNames(tree, tree.Head(), names);
    }
    if (!ReplaceFileAtomically(NamesFile(), names, false)) return false;
    return ReplaceFileAtomically(marker, "ok\n", false);
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
class CountingTarget : public IMessageTarget {
public:
    uint64_t progress = 0, found = 0;
    LRESULT Send(uint32_t, WPARAM code, LPARAM) override {
        if (code == SEARCH_PROGRESS)
            ++progress;
        else if (code == SEARCH_FOUND)
            ++found;
        return 0;
    }
    void Post(uint32_t, WPARAM, LPARAM) override {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return finished_; });
        finished_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
};

uint64_t SearchOnce(CIndexReader& reader, CountingTarget& target, const std::string& path) {
    uint64_t before = target.progress;
    if (!reader.Open(path, OpenMode::ReadShareAll)) return 0;
    reader.SetSearchOptions(&target, "*", kOptions);
    if (reader.BeginSearch(kKeyword)) target.Wait();
    reader.Close();
    return target.progress - before;
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
    state.SetItemsProcessed(state.iterations() * int64_t{kDiscs} * kEntriesPerDisc);
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
    state.SetItemsProcessed(state.iterations() * int64_t{kDiscs} * kEntriesPerDisc);
}
BENCHMARK(BM_OrbtoolSearchLibrary)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

}  // namespace
}  // namespace orb

BENCHMARK_MAIN();
