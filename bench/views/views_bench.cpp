// SPDX-License-Identifier: GPL-3.0-or-later
// The disc views on a million-entry index: opening it with the root shown in tree
// and list, listing a 100,000-entry directory with icons and type names, re-sorting
// it by each column, and the memory the listing takes per row.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <QSplitter>
#include <cstdio>
#include <random>
#include <string>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/drives.h"
#include "tests/support/fake_shell.h"
#include "tests/support/test_support.h"
#include "views/dir_view.h"
#include "views/orb_view.h"
#include "views/remark_view.h"
#include "views/view_rules.h"

namespace orb {
namespace {

constexpr size_t kEntries = 1000000;
constexpr size_t kBigDirectory = 100000;

std::string IndexPath() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orb_views_bench_" +
           std::to_string(getpid()) + ".orb";
}

std::string RandomName(std::mt19937& rng, const char* const* exts, size_t extCount) {
    std::string name;
    const int len = 6 + static_cast<int>(rng() % 20);
    for (int k = 0; k < len; ++k) {
        if (k + 1 < len && rng() % 10 == 0) {
            name += static_cast<char>(0xB0 + rng() % 0x40);
            name += static_cast<char>(0xA1 + rng() % 0x50);
            ++k;
        } else {
            name += static_cast<char>('a' + rng() % 26);
        }
    }
    if (rng() % 8) {
        name += '.';
        name += exts[rng() % extCount];
    }
    return name;
}

// Top level: 40 directories and 20 files. "big" holds 100,000 files; the other
// directories hold the rest of the million in nested directories of 50 to 150.
void WriteBenchIndex(const std::string& path) {
    static const char* const kExts[] = {"txt", "exe", "dll", "jpg", "png", "mp3", "avi", "zip",
                                        "rar", "doc", "pdf", "htm", "ini", "inf", "cab", "iso",
                                        "TXT", "EXE", "DLL", "bmp", "gif", "wav", "c",   "h"};
    constexpr size_t kExtCount = sizeof kExts / sizeof kExts[0];
    std::mt19937 rng(7);
    CScanTree tree;
    const FILETIME t{0x12345678, 0x01D9ABCD};
    auto time = [&] { return U64ToFileTime(FileTimeToU64(t) + rng() % 100000000000ULL); };
    std::vector<ScanNodeId> top;
    const ScanNodeId big = tree.Append(kNoNode, kEntryDirectory, 0, t, "big");
    for (int i = 0; i < 39; ++i)
        top.push_back(tree.Append(kNoNode, kEntryDirectory, 0, t, "dir" + std::to_string(i)));
    for (int i = 0; i < 20; ++i)
        tree.Append(kNoNode, 0, rng() % 10000000, time(), RandomName(rng, kExts, kExtCount));
    for (size_t i = 0; i < kBigDirectory; ++i)
        tree.Append(big, 0, rng() % 5000000000ULL, time(), RandomName(rng, kExts, kExtCount));
    std::vector<ScanNodeId> dirs = top;
    size_t cursor = 0;
    while (tree.Size() < kEntries) {
        const ScanNodeId parent = dirs[cursor++ % dirs.size()];
        const int n = 50 + static_cast<int>(rng() % 100);
        for (int i = 0; i < n && tree.Size() < kEntries; ++i) {
            if (rng() % 12 == 0) {
                dirs.push_back(tree.Append(parent, kEntryDirectory, 0, time(),
                                           "sub" + std::to_string(tree.Size())));
            } else {
                tree.Append(parent, 0, rng() % 100000000, time(),
                            RandomName(rng, kExts, kExtCount));
            }
        }
    }
    IndexHeader h;
    SetHeaderLabel(h, "BENCH");
    h.capacity = 4700000000ULL;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    if (WriteIndexFile(path, h, tree) != WriteResult::Ok) std::abort();
}

// The window the views live in, shown on the offscreen platform so that laying
// out and painting the visible rows is part of every figure.
struct Fixture {
    Fixture() {
        SetDriveSystem(std::make_shared<CVirtualDriveSystem>());
        path = IndexPath();
        WriteBenchIndex(path);
        window.resize(1000, 700);
        auto* split = new QSplitter(&window);
        split->resize(1000, 700);
        tree = new CCDDirView(shell.doc, shell, split);
        list = new COrbView(shell.doc, shell, split);
        remark = new CRemarkView(shell.doc, split);
        shell.dirView = tree;
        shell.fileView = list;
        shell.remarkView = remark;
        list->ListCtrl().Header().SetSort(kColName, 1);
        list->SetViewStyle(kStyleReport);
        window.show();
        QApplication::processEvents();
    }
    ~Fixture() { std::remove(path.c_str()); }
    void Settle() {
        QApplication::processEvents();
        list->ListCtrl().View()->viewport()->repaint();
    }
    std::string path;
    test::CFakeShell shell;
    QWidget window;
    CCDDirView* tree;
    COrbView* list;
    CRemarkView* remark;
};

// Made on first use and destroyed by main while the application still exists.
std::unique_ptr<Fixture> g_fixture;
Fixture& TheFixture() {
    if (!g_fixture) g_fixture = std::make_unique<Fixture>();
    return *g_fixture;
}

void BM_OpenIndexShowRoot(benchmark::State& state) {
    Fixture& f = TheFixture();
    for (auto _ : state) {
        f.shell.doc.OnOpenDocument(f.path);
        f.Settle();
        if (f.tree->RootItem()->childCount() != 40) state.SkipWithError("root not shown");
    }
    state.counters["rows"] = f.list->ListCtrl().Model().rowCount();
}
BENCHMARK(BM_OpenIndexShowRoot)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ListBigDirectory(benchmark::State& state) {
    Fixture& f = TheFixture();
    f.list->SetViewStyle(static_cast<int>(state.range(0)));
    f.shell.doc.OnOpenDocument(f.path);
    f.Settle();
    for (auto _ : state) {
        f.tree->SelectDirectoryByPath("BENCH:\\big\\");
        f.Settle();
        state.PauseTiming();
        f.tree->SelectDirectoryByPath("BENCH:\\");
        f.Settle();
        state.ResumeTiming();
    }
    f.list->SetViewStyle(kStyleReport);
}
BENCHMARK(BM_ListBigDirectory)
    ->Arg(kStyleReport)
    ->Arg(kStyleLargeIcons)
    ->Arg(kStyleSmallIcons)
    ->Arg(kStyleList)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_ResortBigDirectory(benchmark::State& state) {
    Fixture& f = TheFixture();
    f.shell.doc.OnOpenDocument(f.path);
    f.tree->SelectDirectoryByPath("BENCH:\\big\\");
    f.Settle();
    const int column = static_cast<int>(state.range(0));
    int direction = 1;
    for (auto _ : state) {
        f.list->ListCtrl().Header().SetSort(column, direction);
        f.Settle();
        direction = -direction;
    }
    f.list->ListCtrl().Header().SetSort(kColName, 1);
}
BENCHMARK(BM_ResortBigDirectory)
    ->DenseRange(kColName, kColTime)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Heap growth for showing the 100,000-entry directory (model and view together),
// per row. The names themselves (what the index stores) are reported apart.
void BM_ListingMemory(benchmark::State& state) {
    Fixture& f = TheFixture();
    f.shell.doc.OnOpenDocument(f.path);
    f.Settle();
    for (auto _ : state) {
        f.tree->SelectDirectoryByPath("BENCH:\\");
        f.Settle();
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        f.tree->SelectDirectoryByPath("BENCH:\\big\\");
        f.Settle();
        const size_t after = mallinfo2().uordblks;
        const CFileListModel& model = f.list->ListCtrl().Model();
        const double rows = model.rowCount();
        state.counters["heap_per_row"] = (after - before) / rows;
        state.counters["names_per_row"] = model.NameBytes() / rows;
        state.counters["beyond_names_per_row"] = (after - before - model.NameBytes()) / rows;
        state.counters["model_record_per_row"] = double(sizeof(FileListItem));
    }
}
BENCHMARK(BM_ListingMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    orb::test::TempDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(settings.path()));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    orb::g_fixture.reset();
    return 0;
}
