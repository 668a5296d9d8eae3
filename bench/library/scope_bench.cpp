// SPDX-License-Identifier: GPL-3.0-or-later
// A library of many categories (100,000 unless given): filling the library tree
// and the scope tree at start-up from one walk made on a worker, the watcher's
// start and a change it sees (watches and walks on a worker, the refill on the
// window's thread), ticking and unticking the scope's root, refilling the scope,
// and the process's peak memory.
// Usage: bench_library_scope [CATEGORIES]   (targets: fills < 1 s, tick < 100 ms,
// peak < 200 MB at 100,000 categories)
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "library/store/library_store.h"
#include "library/tree/library_loader.h"
#include "library/tree/library_tree.h"
#include "library/tree/library_watcher.h"
#include "search/pane/search_rules.h"
#include "search/pane/search_scope_tree.h"

namespace {

// Peak resident memory of the process so far, in MB.
double PeakRssMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

double Ms(const std::function<void()>& step) {
    QElapsedTimer timer;
    timer.start();
    step();
    // The view lays out and paints what the step changed.
    QApplication::processEvents();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Runs the event loop until the watcher's worker is done; the time taken, and in
// longestTurnMs the longest the loop was held by one turn.
double UntilDone(orb::CLibraryWatcher& watcher, double& longestTurnMs) {
    QElapsedTimer timer;
    timer.start();
    while (watcher.IsBusy() && timer.elapsed() < 120000) {
        const double turnMs = Ms([] {});
        if (turnMs > longestTurnMs) longestTurnMs = turnMs;
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (!::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const long categories = argc > 1 ? std::atol(argv[1]) : 100000;
    if (categories < 1) {
        std::fprintf(stderr, "usage: %s [CATEGORIES]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);

    // 1 % of the categories at the top, each holding the rest in equal parts
    // and one disc; the library's names have double-byte characters.
    char tmpl[] = "/tmp/orbscopebench-XXXXXX";
    const std::string root = std::string(::mkdtemp(tmpl)) + "/";
    const long top = categories >= 100 ? categories / 100 : 1;
    long made = 0;
    for (long t = 0; t < top && made < categories; ++t) {
        const std::string dir = root + "分类" + std::to_string(t) + "/";
        ::mkdir(dir.c_str(), 0755);
        ++made;
        std::ofstream(dir + "光盘" + std::to_string(t) + ".orb");
        for (long s = 0; s < categories / top - 1 && made < categories; ++s, ++made)
            ::mkdir((dir + "子类 " + std::to_string(s)).c_str(), 0755);
    }
    std::printf("library: %ld categories, %ld discs; peak before: %.0f MB\n", made, top,
                PeakRssMb());

    orb::CLibraryTree library;
    orb::CSearchScopeTree scope;
    library.resize(260, 700);
    scope.resize(260, 700);
    library.show();
    scope.show();
    QApplication::processEvents();

    size_t items = 0;
    std::printf("walk the library alone:           %8.1f ms\n", Ms([&] {
                    orb::WalkLibrary(root, true, [&](const orb::LibraryItem&) {
                        ++items;
                        return true;
                    });
                }));
    {
        // Start-up as the window makes it: the walk on a worker, then both trees
        // filled from it on the window's thread.
        QElapsedTimer total;
        total.start();
        orb::CLibraryLoader loader;
        orb::CSharedLibraryWalk once;
        const double walkMs = Ms([&] {
            loader.Start(root);
            loader.WaitFor(-1);
            once.Adopt(loader.Take());
        });
        const double libraryMs = Ms([&] { library.FillLibrary(root); });
        const double scopeMs = Ms([&] {
            scope.FillLibrary(root);
            scope.SetItemCheck(scope.RootItem(), orb::kScopeChecked);
        });
        std::printf(
            "start-up: walk on a worker %.1f ms, then library tree %.1f ms and scope tree "
            "%.1f ms (ticked) on the window's thread; both trees filled after %.1f ms "
            "(%d further walks)\n",
            walkMs, libraryMs, scopeMs, static_cast<double>(total.nsecsElapsed()) / 1e6,
            once.DirectoryWalks());
        // Then the watcher takes the same walk; its watches are made on a worker.
        orb::CLibraryWatcher watcher;
        const double setRootMs = Ms([&] { watcher.SetRoot(root); });
        double stallMs = 0;
        const double watchMs = UntilDone(watcher, stallMs);
        std::printf(
            "start-up: watch every category (inotify): %.1f ms on the window's thread, "
            "watches made and library walked again on a worker after %.1f ms more "
            "(longest turn of the window's loop meanwhile %.1f ms)\n",
            setRootMs, watchMs, stallMs);

        // A category made by someone else: seen by inotify, walked on the worker,
        // then the trees compared and the library tree refilled from that walk.
        int changes = 0;
        QObject::connect(&watcher, &orb::CLibraryWatcher::libraryChanged, [&] { ++changes; });
        QElapsedTimer seen;
        seen.start();
        ::mkdir((root + "分类0/新的").c_str(), 0755);
        double walkStallMs = 0;
        while (changes == 0 && seen.elapsed() < 60000) {
            const double turnMs = Ms([] {});
            if (turnMs > walkStallMs) walkStallMs = turnMs;
        }
        const double untilChangeMs = static_cast<double>(seen.nsecsElapsed()) / 1e6;
        int windowWalks = 0;
        const double refillMs = Ms([&] {
            orb::CSharedLibraryWalk walkOnce;
            walkOnce.Adopt(watcher.TakeWalk());
            if (!orb::SameLibraryItems(orb::TreeListing(library), orb::LibraryListing(root)))
                library.FillLibrary(std::string());
            windowWalks = walkOnce.DirectoryWalks();
        });
        std::printf(
            "change seen: settle + walk on a worker %.1f ms (longest turn of the window's "
            "loop %.1f ms), then compare and refill the library tree on the window's thread "
            "%.1f ms (%d walks there)\n",
            untilChangeMs, walkStallMs, refillMs, windowWalks);
    }
    std::printf("fill library tree alone:          %8.1f ms\n",
                Ms([&] { library.FillLibrary(root); }));
    std::printf("fill scope tree alone:            %8.1f ms\n",
                Ms([&] { scope.FillLibrary(root); }));
    std::printf("tick the scope root:              %8.1f ms\n",
                Ms([&] { scope.SetItemCheck(scope.RootItem(), orb::kScopeChecked); }));
    std::printf("untick the scope root:            %8.1f ms\n",
                Ms([&] { scope.ToggleItem(scope.RootItem()); }));
    std::printf("tick one top category:            %8.1f ms\n",
                Ms([&] { scope.ToggleItem(scope.RootItem()->child(0)); }));
    std::printf("refill the scope keeping ticks:   %8.1f ms\n",
                Ms([&] { scope.RefillKeepingChecks(root); }));
    std::printf("peak memory: %.0f MB\n", PeakRssMb());

    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return 0;
}
