// SPDX-License-Identifier: GPL-3.0-or-later
// Scanning real directory trees: speed against find(1) on the same warm tree, and
// the peak memory of a million-entry scan.
//
// The trees are built once under $TMPDIR/orb-bench-trees (or /tmp) and reused by
// later runs; delete that folder to reclaim the space.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "index/disc_scanner.h"
#include "platform/drives.h"

namespace orb {
namespace {

std::string BaseDir() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orb-bench-trees";
}

void MakeFile(int dirFd, const std::string& name, size_t size) {
    int fd = ::openat(dirFd, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (size) (void)!::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
}

// dirsTop top-level directories, each with subPerTop subdirectories; every
// directory holds filesPerDir files with names of realistic length.
std::string BuildTree(const std::string& name, int dirsTop, int subPerTop, int filesPerDir) {
    const std::string root = BaseDir() + "/" + name;
    const std::string marker = root + ".complete";
    struct stat st {};
    if (::stat(marker.c_str(), &st) == 0) return root;
    ::mkdir(BaseDir().c_str(), 0755);
    std::system(("rm -rf '" + root + "'").c_str());
    ::mkdir(root.c_str(), 0755);
    auto fill = [&](const std::string& dir) {
        int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        for (int f = 0; f < filesPerDir; ++f)
            MakeFile(fd, "document_file_" + std::to_string(f) + ".dat", (f * 7919) % 100000);
        ::close(fd);
    };
    for (int t = 0; t < dirsTop; ++t) {
        const std::string top = root + "/folder_" + std::to_string(t);
        ::mkdir(top.c_str(), 0755);
        fill(top);
        for (int s = 0; s < subPerTop; ++s) {
            const std::string sub = top + "/subfolder_" + std::to_string(s);
            ::mkdir(sub.c_str(), 0755);
            fill(sub);
        }
    }
    std::ofstream(marker) << "ok\n";
    return root;
}

// Runs one scan of root into out and waits for its end.
bool Scan(const std::string& root, const std::string& out) {
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{root, "BENCH", 4700000000ULL, false}}));
    CDiscScanner scanner;
    return RunScanToEnd(scanner, root, out) == SCAN_DONE;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// 100,000 files in 5,000 directories: 50 folders of 99 subfolders, 20 files each.
void BM_ScanVersusFind(benchmark::State& state) {
    const std::string root = BuildTree("t100k", 50, 99, 20);
    const std::string out = BaseDir() + "/t100k.orb";
    const std::string find = "find '" + root + "' -printf '%s %T@ %p\\n' > /dev/null";
    // Warm the cache for both.
    std::system(find.c_str());
    Scan(root, out);
    double findTotal = 0, scanTotal = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(find.c_str()) != 0) state.SkipWithError("find failed");
        auto t1 = std::chrono::steady_clock::now();
        if (!Scan(root, out)) state.SkipWithError("scan failed");
        auto t2 = std::chrono::steady_clock::now();
        findTotal += Seconds(t0, t1);
        scanTotal += Seconds(t1, t2);
        state.SetIterationTime(Seconds(t1, t2));
    }
    state.counters["find_ms"] = 1000 * findTotal / state.iterations();
    state.counters["scan_ms"] = 1000 * scanTotal / state.iterations();
    state.counters["ratio"] = scanTotal / findTotal;
    ::unlink(out.c_str());
}
BENCHMARK(BM_ScanVersusFind)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

long VmHwmKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// 1,000,000 entries: 100 folders of 99 subfolders (10,000 directories) with 99
// files each (990,000 files).
void BM_ScanMillionPeakMemory(benchmark::State& state) {
    const std::string root = BuildTree("t1m", 100, 99, 99);
    const std::string out = BaseDir() + "/t1m.orb";
    long before = 0, peak = 0;
    for (auto _ : state) {
        // Reset the peak so only the scan is measured.
        std::ofstream("/proc/self/clear_refs") << "5";
        before = VmHwmKb();
        if (!Scan(root, out)) state.SkipWithError("scan failed");
        peak = VmHwmKb();
    }
    state.counters["rss_before_MB"] = before / 1024.0;
    state.counters["peak_MB"] = peak / 1024.0;
    ::unlink(out.c_str());
}
BENCHMARK(BM_ScanMillionPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace orb

BENCHMARK_MAIN();
