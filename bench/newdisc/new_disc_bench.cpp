// SPDX-License-Identifier: GPL-3.0-or-later
// Cataloguing 100,000 files in 5,000 directories through the new disc image
// dialog (the real Qt message target and event loop, offscreen) against the same
// scan with no window, and the longest time the event loop went without running.
//
// The tree is built once under $TMPDIR/orb-bench-trees (or /tmp) and reused.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "index/disc_scanner.h"
#include "library/newdisc/new_disc_dlg.h"
#include "library/newdisc/prompts.h"
#include "library/tree/library_tree.h"
#include "platform/drives.h"
#include "tests/support/fake_shell.h"

namespace orb {
namespace {

std::string BaseDir() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orb-bench-trees";
}

// 50 folders of 99 subfolders (5,000 directories), 20 files each (100,000 files),
// sparse files of assorted sizes.
std::string BuildTree() {
    const std::string root = BaseDir() + "/newdisc100k";
    const std::string marker = root + ".complete";
    struct stat st {};
    if (::stat(marker.c_str(), &st) == 0) return root;
    ::mkdir(BaseDir().c_str(), 0755);
    std::system(("rm -rf '" + root + "'").c_str());
    ::mkdir(root.c_str(), 0755);
    auto fill = [](const std::string& dir) {
        int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        for (int f = 0; f < 20; ++f) {
            const std::string name = "document_file_" + std::to_string(f) + ".dat";
            int fd = ::openat(dfd, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd < 0) continue;
            (void)!::ftruncate(fd, static_cast<off_t>((f * 7919) % 100000));
            ::close(fd);
        }
        ::close(dfd);
    };
    for (int t = 0; t < 50; ++t) {
        const std::string top = root + "/folder_" + std::to_string(t);
        ::mkdir(top.c_str(), 0755);
        fill(top);
        for (int s = 0; s < 99; ++s) {
            const std::string sub = top + "/subfolder_" + std::to_string(s);
            ::mkdir(sub.c_str(), 0755);
            fill(sub);
        }
    }
    std::ofstream(marker) << "ok\n";
    return root;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_new_disc";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// The longest gap between ticks of a 10 ms timer while the loop runs for ms
// milliseconds with no work at all: what the machine's load alone costs.
qint64 IdleLoopGapMs(int ms) {
    QEventLoop loop;
    QElapsedTimer sinceTick;
    qint64 gap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] { gap = std::max(gap, sinceTick.restart()); });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    sinceTick.start();
    ticker.start(10);
    loop.exec();
    return gap;
}

// Each iteration scans the tree once with no window (RunScanToEnd) and once
// through the dialog; the manual time is the dialog's.
void BM_DialogScanVersusNoWindow(benchmark::State& state) {
    App();
    const std::string root = BuildTree();
    const std::string lib = BaseDir() + "/newdisc-lib";
    ::mkdir(lib.c_str(), 0755);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{root, "BENCH", 4700000000ULL, false}}));
    SetNewDiscPromptHandler([](QWidget*, const NewDiscPrompt&) { return true; });
    const std::string plainOut = BaseDir() + "/newdisc-plain.orb";
    const std::string dialogOut = lib + "/BENCH.orb";

    test::CFakeShell shell;
    CLibraryTree tree;
    tree.FillLibrary(lib);
    {
        // Warm the cache.
        CDiscScanner scanner;
        RunScanToEnd(scanner, root, plainOut);
    }

    double plainTotal = 0, dialogTotal = 0;
    qint64 maxGapMs = 0, idleGapMs = 0;
    int messages = 0;
    auto runPlain = [&] {
        ::unlink(plainOut.c_str());
        auto t0 = std::chrono::steady_clock::now();
        CDiscScanner scanner;
        if (RunScanToEnd(scanner, root, plainOut, [&](uint32_t, WPARAM, LPARAM) { ++messages; }) !=
            SCAN_DONE)
            state.SkipWithError("plain scan failed");
        plainTotal += Seconds(t0, std::chrono::steady_clock::now());
    };
    auto runDialog = [&] {
        ::unlink(dialogOut.c_str());
        CNewDiscDlg dlg(&tree, shell, nullptr);
        dlg.show();
        dlg.ChooseDrive(0);
        QEventLoop loop;
        QObject::connect(&dlg, &CNewDiscDlg::ScanFinished, &loop, &QEventLoop::quit);
        // The gap between two ticks of a 10 ms timer is how long the loop was held.
        QElapsedTimer sinceTick;
        qint64 gap = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { gap = std::max(gap, sinceTick.restart()); });
        auto t0 = std::chrono::steady_clock::now();
        sinceTick.start();
        ticker.start(10);
        dlg.OnCreate();
        if (!dlg.ScanOutstanding())
            state.SkipWithError("dialog refused to start");
        else
            loop.exec();
        const double seconds = Seconds(t0, std::chrono::steady_clock::now());
        ticker.stop();
        gap = std::max(gap, sinceTick.elapsed());
        maxGapMs = std::max(maxGapMs, gap);
        dialogTotal += seconds;
        return seconds;
    };
    int iteration = 0;
    for (auto _ : state) {
        // Alternate the order, so neither run profits from coming second.
        double seconds;
        if (iteration++ % 2 == 0) {
            runPlain();
            seconds = runDialog();
        } else {
            seconds = runDialog();
            runPlain();
        }
        idleGapMs = std::max(idleGapMs, IdleLoopGapMs(1000));
        state.SetIterationTime(seconds);
    }
    state.counters["no_window_ms"] = 1000 * plainTotal / state.iterations();
    state.counters["dialog_ms"] = 1000 * dialogTotal / state.iterations();
    state.counters["ratio"] = dialogTotal / plainTotal;
    state.counters["max_loop_gap_ms"] = static_cast<double>(maxGapMs);
    state.counters["idle_loop_gap_ms"] = static_cast<double>(idleGapMs);
    state.counters["messages_per_scan"] = static_cast<double>(messages) / state.iterations();
    ::unlink(plainOut.c_str());
    ::unlink(dialogOut.c_str());
    SetNewDiscPromptHandler({});
    SetDriveSystem(nullptr);
}
BENCHMARK(BM_DialogScanVersusNoWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);

}  // namespace
}  // namespace orb

BENCHMARK_MAIN();
