// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane against the engine alone over the benchmark library: a keyword
// that hits nothing, and one that hits 1,000,000 entries (every tenth). The pane
// runs shown on the offscreen platform; a 10 ms timer on the window's thread
// records the largest gap between its ticks, i.e. how long the event loop was
// kept from running.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#include "bench/search/bench_library.h"
#include "library/store/library_store.h"
#include "search/disc_search.h"
#include "search/pane/search_pane.h"
#include "search/pane/search_result_model.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "tests/support/fake_shell.h"

namespace orb {
namespace {

using namespace orb::bench;
constexpr int kHitEvery = 10;
constexpr uint8_t kOptions = SF_FILES | SF_DIRECTORIES;

// Counts hits; SEARCH_FINISHED wakes the waiting caller.
class CountingTarget : public CSearchWaitTarget {
public:
    uint64_t found = 0;
    LRESULT Send(uint32_t, WPARAM code, LPARAM) override {
        if (code == SEARCH_FOUND) ++found;
        return 0;
    }
};

// The engine over every disc, disc after disc, as the pane drives it.
void EngineAlone(benchmark::State& state, int hitEvery, const char* keyword, uint64_t want) {
    if (!EnsureBenchLibrary(hitEvery)) return state.SkipWithError("cannot build the library");
    std::vector<std::string> paths = LibraryDiscPaths(BenchLibrary(hitEvery));
    CIndexReader reader;
    CountingTarget target;
    for (auto _ : state) {
        target.found = 0;
        for (const std::string& p : paths) {
            if (!reader.Open(p, OpenMode::ReadShareAll)) continue;
            reader.SetSearchOptions(&target, "*", kOptions);
            if (reader.BeginSearch(keyword)) target.WaitFinished();
            reader.Close();
        }
    }
    state.counters["hits"] = static_cast<double>(target.found);
    if (target.found != want) state.SkipWithError("unexpected hit count");
}

// One pane for every run: building it fills the scope tree once.
struct PaneFixture {
    test::CFakeShell shell;
    CSearchPane pane{shell};
    PaneFixture() {
        pane.resize(320, 800);
        pane.show();
    }
};
PaneFixture& Pane() {
    static PaneFixture* f = new PaneFixture();
    return *f;
}

void PaneSearch(benchmark::State& state, int hitEvery, const char* keyword, uint64_t want) {
    if (!EnsureBenchLibrary(hitEvery)) return state.SkipWithError("cannot build the library");
    CSearchPane& pane = Pane().pane;
    pane.ScopeTree()->FillLibrary(BenchLibrary(hitEvery));
    pane.Scope()->SetItemCheck(pane.Scope()->RootItem(), kScopeChecked);
    pane.KeywordEdit()->setText(QString::fromUtf8(keyword));
    qint64 worstGap = 0;
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(&pane, &CSearchPane::searchFinished, &loop, &QEventLoop::quit);
        QElapsedTimer sinceTick;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { worstGap = std::max(worstGap, sinceTick.restart()); });
        sinceTick.start();
        ticker.start();
        pane.OnSearchButton();
        if (pane.IsSearching()) loop.exec();
        ticker.stop();
        worstGap = std::max(worstGap, sinceTick.elapsed());
    }
    const size_t rows = pane.Results()->Count();
    state.counters["hits"] = static_cast<double>(rows);
    state.counters["max_loop_gap_ms"] = static_cast<double>(worstGap);
    if (rows != want) return state.SkipWithError("not every hit was listed");
    for (size_t i = 1; i < rows; ++i)
        if (HitNameLess(*pane.Results()->Hit(static_cast<int>(i)),
                        *pane.Results()->Hit(static_cast<int>(i - 1))))
            return state.SkipWithError("rows are not sorted by name");
}

// The engine with the pane's hit collector as its target, disc after disc, the
// copies kept: what the worker side of the pane costs without any window.
void BM_EngineCollectorMillionHits(benchmark::State& state) {
    if (!EnsureBenchLibrary(kHitEvery)) return state.SkipWithError("cannot build the library");
    std::vector<std::string> paths = LibraryDiscPaths(BenchLibrary(kHitEvery));
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;
    CSearchHitCollector collector([&] {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
        cv.notify_all();
    });
    CIndexReader reader;
    size_t kept = 0;
    for (auto _ : state) {
        std::vector<HitRow> rows;
        for (const std::string& p : paths) {
            if (!reader.Open(p, OpenMode::ReadShareAll)) continue;
            reader.SetSearchOptions(&collector, "*", kOptions);
            if (reader.BeginSearch(kHitMarker)) {
                std::unique_lock<std::mutex> lock(mutex);
                cv.wait(lock, [&] { return finished; });
                finished = false;
            }
            reader.Close();
            std::shared_ptr<CHitStore> store;
            collector.TakeHits(rows, store);
        }
        kept = rows.size();
        state.PauseTiming();
        rows.clear();
        collector.Reset();
        state.ResumeTiming();
    }
    state.counters["hits"] = static_cast<double>(kept);
}

void BM_EngineNoHits(benchmark::State& state) {
    EngineAlone(state, 0, kAbsentKeyword, 0);
}
void BM_PaneNoHits(benchmark::State& state) {
    PaneSearch(state, 0, kAbsentKeyword, 0);
}
void BM_EngineMillionHits(benchmark::State& state) {
    EngineAlone(state, kHitEvery, kHitMarker, 1000000);
}
void BM_PaneMillionHits(benchmark::State& state) {
    PaneSearch(state, kHitEvery, kHitMarker, 1000000);
}
BENCHMARK(BM_EngineNoHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PaneNoHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EngineMillionHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EngineCollectorMillionHits)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_PaneMillionHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace orb

int main(int argc, char** argv) {
    // The pane reads the library directory from the settings store: keep the
    // user's own store out of it.
    char home[] = "/tmp/orb-pane-bench-XXXXXX";
    if (::mkdtemp(home)) {
        ::setenv("HOME", home, 1);
        ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    orb::bench::TakeLibrarySize(argc, argv);
    QApplication app(argc, argv);
    orb::StoreLibraryDirectory(orb::bench::BenchLibrary(0));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
