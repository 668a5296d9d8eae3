// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's own costs: start-up to the first painted window over a library
// of 1,000 discs in 10 categories, finding an inserted disc among them by its
// header, and the longest the window's thread is held by one drive change.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <memory>
#include <string>

#include "frame_rules.h"
#include "index/doc/orb_doc.h"
#include "index/index_writer.h"
#include "library/tree/library_tree.h"
#include "main_frame.h"
#include "platform/drives.h"
#include "platform/text.h"
#include "shell/app_settings.h"

namespace {

using namespace orb;

constexpr int kCategories = 10;
constexpr int kDiscsPerCategory = 100;

struct Library {
    std::string root;
    std::string lastLabel;
    Library() {
        char tmpl[] = "/tmp/orbbench-app-XXXXXX";
        root = std::string(::mkdtemp(tmpl)) + "/";
        ::setenv("XDG_CONFIG_HOME", (root + ".config").c_str(), 1);
        for (int c = 0; c < kCategories; ++c) {
            const std::string cat = root + "类别" + std::to_string(c) + "/";
            std::filesystem::create_directories(cat);
            for (int d = 0; d < kDiscsPerCategory; ++d) {
                CScanTree tree;
                FILETIME t{};
                const ScanNodeId dir = tree.Append(kNoNode, kEntryDirectory, 0, t, "setup");
                tree.Append(dir, 0, 1000, t, "setup.exe");
                IndexHeader h;
                lastLabel = "DISC_" + std::to_string(c) + "_" + std::to_string(d);
                SetHeaderLabel(h, lastLabel);
                h.capacity = 650'000'000;
                h.fileCount = tree.FileCount();
                h.dirCount = tree.DirectoryCount();
                WriteIndexFile(cat + "disc" + std::to_string(d) + ".orb", h, tree);
            }
        }
    }
    ~Library() { std::filesystem::remove_all(root); }
};

Library& TheLibrary() {
    static Library library;
    return library;
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_app";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        TheLibrary();
        return new QApplication(argc, argv);
    }();
    return *app;
}

void BM_StartupToFirstPaint(benchmark::State& state) {
    App();
    StoreLibraryDirectory(TheLibrary().root);
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
    for (auto _ : state) {
        COrbDoc doc;
        CMainFrame frame(doc, CMainFrame::Options{false});
        frame.show();
        frame.repaint();
        benchmark::DoNotOptimize(frame.LibraryTree());
    }
    SetDriveSystem(nullptr);
}
BENCHMARK(BM_StartupToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FindLibraryDisc(benchmark::State& state) {
    App();
    CLibraryTree tree;
    tree.FillLibrary(TheLibrary().root);
    const std::string label = TheLibrary().lastLabel;  // the last disc in tree order
    for (auto _ : state) {
        std::string path;
        benchmark::DoNotOptimize(FindLibraryDisc(tree, label, 650'000'000, &path));
    }
}
BENCHMARK(BM_FindLibraryDisc)->Unit(benchmark::kMillisecond);

// One drive change that auto-locates the last disc of the library and opens it:
// the whole time the window's thread is busy with it.
void BM_DriveChangeAutoLocate(benchmark::State& state) {
    App();
    StoreLibraryDirectory(TheLibrary().root);
    char tmpl[] = "/tmp/orbbench-drive-XXXXXX";
    const std::string folder = ::mkdtemp(tmpl);
    auto drives =
        std::make_shared<CVirtualDriveSystem>(std::vector<VirtualDrive>{{folder, "", 0, true}});
    SetDriveSystem(drives);
    COrbDoc doc;
    CMainFrame frame(doc, CMainFrame::Options{false});
    frame.show();
    double worstMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        doc.CloseIndex(1);
        drives->SetDrives({{folder, "", 0, true}});
        frame.OnDriveChange();
        drives->SetDrives({{folder, TheLibrary().lastLabel, 650'000'000, false}});
        state.ResumeTiming();
        QElapsedTimer held;
        held.start();
        frame.OnDriveChange();
        worstMs = std::max(worstMs, held.nsecsElapsed() / 1e6);
    }
    state.counters["worst_ms"] = worstMs;
    SetDriveSystem(nullptr);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_DriveChangeAutoLocate)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
