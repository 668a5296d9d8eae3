// SPDX-License-Identifier: GPL-3.0-or-later
// Filling the library pane's tree with 1,000 discs in 10 categories (target: at
// most 50 ms per fill), with the pane shown as in the main window.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "library/pane/library_pane.h"
#include "platform/text.h"
#include "shell/app_settings.h"
#include "tests/support/fake_shell.h"

namespace orb {
namespace {

// A scratch library: 10 categories of 100 discs each, every disc a small index
// with a companion, names with double-byte characters as a real library has.
struct ScratchLibrary {
    std::string root;
    ScratchLibrary() {
        char tmpl[] = "/tmp/orblibbench-XXXXXX";
        root = ::mkdtemp(tmpl);
        root += "/";
        CScanTree tree;
        FILETIME t{};
        tree.Append(kNoNode, 0, 1234, t, "readme.txt");
        for (int c = 0; c < 10; ++c) {
            const std::string category = root + "分类" + std::to_string(c) + "/";
            ::mkdir(category.c_str(), 0755);
            for (int d = 0; d < 100; ++d) {
                const std::string label = "光盘 Disc " + std::to_string(c * 100 + d);
                IndexHeader h;
                SetHeaderLabel(h, HostToStored(label));
                h.fileCount = tree.FileCount();
                const std::string path = category + label + ".orb";
                WriteIndexFile(path, h, tree);
                if (FILE* f = std::fopen((category + label + ".orc").c_str(), "wb")) std::fclose(f);
            }
        }
    }
    ~ScratchLibrary() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

void BM_FillLibrary1000Discs(benchmark::State& state) {
    static ScratchLibrary library;
    static test::CFakeShell shell;
    StoreLibraryDirectory(library.root);
    CLibraryPane pane(shell);
    pane.resize(260, 700);
    pane.show();
    QApplication::processEvents();
    for (auto _ : state) {
        pane.Tree()->FillLibrary(library.root);
        // The view lays out and paints what the fill changed.
        QApplication::processEvents();
    }
    state.counters["items"] = static_cast<double>(pane.Tree()->topLevelItem(0)->childCount());
}
BENCHMARK(BM_FillLibrary1000Discs)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    // A private settings store, and no display needed.
    char tmpl[] = "/tmp/orblibbench-home-XXXXXX";
    const char* home = ::mkdtemp(tmpl);
    ::setenv("HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
    if (!::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return 0;
}
