// SPDX-License-Identifier: GPL-3.0-or-later
// The search pane against the engine alone over the benchmark library: a keyword
// that hits nothing, and one that hits every n-th entry (--hit-every=N, 10 by
// default: 1,000,000 hits in the default library; --discs=500 --hit-every=2 gives
// 2,500,000); then the library's name index built from cold, and a keyword typed
// into the box. The pane runs shown on the offscreen platform, with a probe of
// the window's event loop (CGapProbe). --trace-events lists the events that kept
// the window's thread longest; --sample-sleeps shows what the window's thread
// was blocked on during its longest gaps (kernel and user stacks).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "bench/search/bench_library.h"
#include "library/store/library_store.h"
#include "platform/files.h"
#include "search/disc_search.h"
#include "search/index/name_index.h"
#include "search/pane/search_pane.h"
#include "search/pane/search_result_model.h"
#include "search/pane/search_scope_tree.h"
#include "shell/app_settings.h"
#include "tests/support/fake_shell.h"

namespace orb {
int gHitEvery = 10;
bool gSampleSleeps = false;

namespace {

using namespace orb::bench;

// Every n-th entry of each disc carries the marker, the first one included.
uint64_t MarkedEntries() {
    return uint64_t(Discs()) *
           static_cast<uint64_t>((EntriesPerDisc() + gHitEvery - 1) / gHitEvery);
}
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

int64_t ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// The calling thread's time on a core and its time runnable but waiting for one
// (the scheduler's own account, in ns), and its page faults.
struct ThreadTimes {
    uint64_t runNs = 0, waitNs = 0, faults = 0;
};
// Read through descriptors opened once, so the probe itself costs little of the
// window's time.
ThreadTimes ReadThreadTimes() {
    static const int schedstat = ::open("/proc/thread-self/schedstat", O_RDONLY);
    static const int stat = ::open("/proc/thread-self/stat", O_RDONLY);
    ThreadTimes t;
    char buf[1024];
    ssize_t n = schedstat < 0 ? -1 : ::pread(schedstat, buf, sizeof buf - 1, 0);
    if (n > 0) {
        buf[n] = 0;
        unsigned long long run = 0, wait = 0;
        if (std::sscanf(buf, "%llu %llu", &run, &wait) == 2) t.runNs = run, t.waitNs = wait;
    }
    n = stat < 0 ? -1 : ::pread(stat, buf, sizeof buf - 1, 0);
    if (n > 0) {
        buf[n] = 0;
        // Fields after the command's closing parenthesis: state ppid pgrp session
        // tty tpgid flags minflt cminflt majflt.
        if (const char* p = std::strrchr(buf, ')')) {
            unsigned long long minflt = 0, majflt = 0;
            if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %llu %*u %llu", &minflt,
                            &majflt) == 2)
                t.faults = minflt + majflt;
        }
    }
    return t;
}

int64_t MonotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

std::string ReadProcText(const std::string& path) {
    std::string text;
    return ReadWholeFile(path, text, 1 << 16) ? text : std::string();
}

// The window thread's user stack, taken by a signal sent to it while it sleeps.
constexpr int kMaxFrames = 48;
void* gStackFrames[kMaxFrames];
std::atomic<int> gStackDepth{-1};
void OnStackSignal(int) {
    gStackDepth.store(::backtrace(gStackFrames, kMaxFrames));
}

// Every 2 ms, once the window's thread has not ticked for 20 ms, a look at it
// from outside: its state, wait channel, system call and kernel stack; the
// first time in a gap that it sleeps, its user stack too. Kept for the longest
// gaps.
class CSleepSampler {
public:
    void Start(pid_t windowTid) {
        tid_ = windowTid;
        lastTick_.store(MonotonicNs());
        void* warm[2];
        ::backtrace(warm, 2);  // loads the unwinder before a signal needs it
        struct sigaction sa {};
        sa.sa_handler = OnStackSignal;
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGURG, &sa, nullptr);
        stop_.store(false);
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    // Only gaps while a probe runs count.
    void SetActive(bool active) {
        active_.store(active);
        Ticked();
    }
    // On the window's thread, at every tick.
    void Ticked() {
        lastTick_.store(MonotonicNs());
        tick_.fetch_add(1);
    }
    void Report() {
        std::sort(gaps_.begin(), gaps_.end(),
                  [](const Gap& a, const Gap& b) { return a.ms > b.ms; });
        std::fprintf(stderr,
                     "the sampler, which only sleeps 2 ms at a time, waited for a core up to "
                     "%.1f ms (%d times over 20 ms) while probes ran\n",
                     worstSamplerWaitMs_, samplerWaitsOver20_);
        std::fprintf(stderr, "%zu gaps of 40 ms or more; the longest, sampled every 2 ms:\n",
                     gaps_.size());
        for (size_t i = 0; i < gaps_.size() && i < 8; ++i) {
            const Gap& g = gaps_[i];
            std::fprintf(stderr, "gap %.1f ms:\n", g.ms);
            for (const auto& [what, n] : g.samples)
                std::fprintf(stderr, "  %3d x %s\n", n, what.c_str());
            for (const std::string& frame : g.userStack)
                std::fprintf(stderr, "      %s\n", frame.c_str());
        }
    }

private:
    // The sampler's own time waiting for a core.
    static uint64_t OwnWaitNs() {
        unsigned long long run = 0, wait = 0;
        std::sscanf(ReadProcText("/proc/thread-self/schedstat").c_str(), "%llu %llu", &run, &wait);
        return wait;
    }
    struct Gap {
        double ms = 0;
        std::map<std::string, int> samples;
        std::vector<std::string> userStack;
    };
    void Run() {
        const std::string task = "/proc/self/task/" + std::to_string(tid_) + "/";
        uint64_t tick = tick_.load();
        int64_t gapStart = lastTick_.load();
        Gap current;
        bool stackTaken = false;
        bool wasActive = false;
        while (!stop_.load()) {
            const int64_t before = MonotonicNs();
            const uint64_t waited = OwnWaitNs();
            ::usleep(2000);
            // The sampler itself woke late: when it was not waiting for a core
            // either, the whole machine stood still (its host did not run it).
            const int64_t late = MonotonicNs() - before - 2000000;
            if (late > 10000000 && wasActive) {
                const double waitMs = double(OwnWaitNs() - waited) / 1e6;
                char text[128];
                std::snprintf(text, sizeof text,
                              "sampler woke %.1f ms late, %.1f ms of it waiting for a core",
                              double(late) / 1e6, waitMs);
                ++current.samples[text];
                // The machine's own floor: a thread with no work at all waited
                // this long for a core.
                worstSamplerWaitMs_ = std::max(worstSamplerWaitMs_, waitMs);
                if (waitMs > 20) ++samplerWaitsOver20_;
            }
            const uint64_t nowTick = tick_.load();
            if (nowTick != tick) {
                const int64_t ended = lastTick_.load();
                current.ms = double(ended - gapStart) / 1e6;
                if (current.ms >= 40 && !current.samples.empty() && wasActive)
                    gaps_.push_back(current);
                current = Gap();
                stackTaken = false;
                tick = nowTick;
                gapStart = ended;
                wasActive = active_.load();
                continue;
            }
            if (!wasActive || MonotonicNs() - gapStart < 20000000) continue;
            const std::string stat = ReadProcText(task + "stat");
            const size_t paren = stat.rfind(')');
            const char state =
                paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
            std::string what(1, state);
            if (state != 'R') {
                what += " wchan=" + ReadProcText(task + "wchan");
                std::string call = ReadProcText(task + "syscall");
                // The number and first argument: futex address or descriptor.
                size_t cut = call.find(' ');
                if (cut != std::string::npos) cut = call.find(' ', cut + 1);
                what += " syscall=" + call.substr(0, cut);
                std::string stack = ReadProcText(task + "stack");
                for (char& c : stack)
                    if (c == '\n') c = ';';
                what += " kstack=" + stack.substr(0, 300);
                if (!stackTaken) {
                    stackTaken = true;
                    gStackDepth.store(-1);
                    ::syscall(SYS_tgkill, ::getpid(), tid_, SIGURG);
                    for (int i = 0; i < 500 && gStackDepth.load() < 0; ++i) ::usleep(100);
                    for (int f = 0; f < gStackDepth.load(); ++f) {
                        Dl_info info{};
                        char line[512];
                        if (::dladdr(gStackFrames[f], &info) && info.dli_fname) {
                            const uintptr_t off = reinterpret_cast<uintptr_t>(gStackFrames[f]) -
                                                  reinterpret_cast<uintptr_t>(info.dli_fbase);
                            std::snprintf(line, sizeof line, "%s+0x%lx %s", info.dli_fname,
                                          static_cast<unsigned long>(off),
                                          info.dli_sname ? info.dli_sname : "");
                        } else {
                            std::snprintf(line, sizeof line, "%p", gStackFrames[f]);
                        }
                        current.userStack.emplace_back(line);
                    }
                }
            }
            ++current.samples[what];
        }
    }
    pid_t tid_ = 0;
    std::atomic<int64_t> lastTick_{0};
    std::atomic<uint64_t> tick_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> active_{false};
    std::thread thread_;
    std::vector<Gap> gaps_;  // the sampler's own until Stop, as are the two below
    double worstSamplerWaitMs_ = 0;
    int samplerWaitsOver20_ = 0;
};
CSleepSampler& Sampler() {
    static CSleepSampler s;
    return s;
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

// A 10 ms timer on the window's thread: the longest gap between its ticks (how
// long the event loop was kept from running) and the most CPU the window's
// thread spent between two ticks (the gap without other programs' share of the
// cores). The longest gap is taken apart: on a core, waiting for one, and
// neither (blocked: a lock, a page read, a sleep), with its page faults.
class CGapProbe {
public:
    std::function<void()> onTick;
    qint64 worstGap = 0;
    int64_t worstCpu = 0;
    double gapRunMs = 0, gapWaitMs = 0, gapBlockedMs = 0, gapFaults = 0;
    // How often: gaps over 50 ms, and ticks whose window CPU alone was over 20 ms.
    int gapsOver50 = 0, cpuOver20 = 0;

    CGapProbe() {
        ticker_.setInterval(10);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { Tick(); });
    }
    void Start() {
        if (gSampleSleeps) Sampler().SetActive(true);
        cpuAtTick_ = ThreadCpuMs();
        timesAtTick_ = ReadThreadTimes();
        sinceTick_.start();
        ticker_.start();
    }
    void Stop() {
        if (gSampleSleeps) Sampler().SetActive(false);
        ticker_.stop();
        worstGap = std::max(worstGap, sinceTick_.elapsed());
    }
    void Report(benchmark::State& state) const {
        state.counters["max_loop_gap_ms"] = static_cast<double>(worstGap);
        state.counters["max_loop_cpu_ms"] = static_cast<double>(worstCpu);
        state.counters["gap_run_ms"] = gapRunMs;
        state.counters["gap_wait_ms"] = gapWaitMs;
        state.counters["gap_blocked_ms"] = gapBlockedMs;
        state.counters["gap_faults"] = gapFaults;
        state.counters["gaps_over_50ms"] = gapsOver50;
        state.counters["cpu_over_20ms"] = cpuOver20;
    }

private:
    void Tick() {
        const qint64 gap = sinceTick_.restart();
        const ThreadTimes times = ReadThreadTimes();
        if (gap > 50) ++gapsOver50;
        if (times.runNs - timesAtTick_.runNs > 20000000) ++cpuOver20;
        if (gap > worstGap) {
            worstGap = gap;
            gapRunMs = double(times.runNs - timesAtTick_.runNs) / 1e6;
            gapWaitMs = double(times.waitNs - timesAtTick_.waitNs) / 1e6;
            gapBlockedMs = std::max(0.0, double(gap) - gapRunMs - gapWaitMs);
            gapFaults = double(times.faults - timesAtTick_.faults);
        }
        timesAtTick_ = times;
        const int64_t cpu = ThreadCpuMs();
        worstCpu = std::max(worstCpu, cpu - cpuAtTick_);
        cpuAtTick_ = cpu;
        if (gSampleSleeps) Sampler().Ticked();
        if (onTick) onTick();
    }
    QTimer ticker_;
    QElapsedTimer sinceTick_;
    int64_t cpuAtTick_ = 0;
    ThreadTimes timesAtTick_;
};

void PaneSearch(benchmark::State& state, int hitEvery, const char* keyword, uint64_t want) {
    if (!EnsureBenchLibrary(hitEvery)) return state.SkipWithError("cannot build the library");
    CSearchPane& pane = Pane().pane;
    pane.ScopeTree()->FillLibrary(BenchLibrary(hitEvery));
    pane.Scope()->SetItemCheck(pane.Scope()->RootItem(), kScopeChecked);
    pane.KeywordEdit()->setText(QString::fromUtf8(keyword));
    CGapProbe probe;
    qint64 firstRowsMs = -1;  // the latest run's, to the 10 ms of the ticker
    QElapsedTimer sinceStart;
    probe.onTick = [&] {
        if (firstRowsMs < 0 && pane.Results()->Count() > 0) firstRowsMs = sinceStart.elapsed();
    };
    for (auto _ : state) {
        firstRowsMs = -1;
        QEventLoop loop;
        QObject::connect(&pane, &CSearchPane::searchFinished, &loop, &QEventLoop::quit);
        sinceStart.start();
        probe.Start();
        pane.OnSearchButton();
        if (pane.IsSearching()) loop.exec();
        probe.Stop();
    }
    const size_t rows = pane.Results()->Count();
    state.counters["hits"] = static_cast<double>(rows);
    state.counters["first_rows_ms"] = static_cast<double>(firstRowsMs);
    probe.Report(state);
    if (rows != want) return state.SkipWithError("not every hit was listed");
    for (size_t i = 1; i < rows; ++i)
        if (HitNameLess(*pane.Results()->Hit(static_cast<int>(i)),
                        *pane.Results()->Hit(static_cast<int>(i - 1))))
            return state.SkipWithError("rows are not sorted by name");
}

// The library's name index built from cold in the background (the library
// without hits), the pane shown: the window's gaps meanwhile.
void BM_PaneWhileIndexBuilds(benchmark::State& state) {
    if (!EnsureBenchLibrary(0)) return state.SkipWithError("cannot build the library");
    CSearchPane& pane = Pane().pane;
    const std::string library = BenchLibrary(0);
    pane.ScopeTree()->FillLibrary(library);
    StoreLibraryDirectory(library);
    CGapProbe probe;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(NameIndexDirectory(library));
        state.ResumeTiming();
        QEventLoop loop;
        probe.onTick = [&] {
            if (!pane.IndexRefresher().Busy()) loop.quit();
        };
        probe.Start();
        pane.RefreshNameIndex();
        loop.exec();
        probe.Stop();
    }
    probe.Report(state);
    const NameIndexRefresh last = pane.IndexRefresher().Last();
    state.counters["segments"] = static_cast<double>(last.built + last.fresh);
    if (last.built + last.fresh != static_cast<size_t>(Discs()))
        state.SkipWithError("not every disc has a segment");
}

// A keyword typed into the box, one key every 80 ms, over the indexed library
// (after BM_PaneWhileIndexBuilds): the window's gaps from the first key to the
// end of the search the typing started.
void BM_PaneTypeAhead(benchmark::State& state, const char* keyword) {
    CSearchPane& pane = Pane().pane;
    if (!EnsureBenchLibrary(0)) return state.SkipWithError("cannot build the library");
    pane.Scope()->SetItemCheck(pane.Scope()->RootItem(), kScopeChecked);
    CGapProbe probe;
    bool finished = false;
    for (auto _ : state) {
        pane.KeywordEdit()->clear();
        QEventLoop loop;
        QObject::connect(&pane, &CSearchPane::searchFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer keys;
        keys.setInterval(80);
        const QString text = QString::fromUtf8(keyword);
        int typed = 0;
        QObject::connect(&keys, &QTimer::timeout, [&] {
            if (typed >= text.size()) return keys.stop();
            const QString key = text.mid(typed++, 1);
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, key);
            QApplication::sendEvent(pane.KeywordEdit(), &press);
        });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // never hangs the bench
        finished = false;
        probe.Start();
        keys.start();
        loop.exec();
        probe.Stop();
    }
    probe.Report(state);
    state.counters["hits"] = static_cast<double>(pane.Results()->Count());
    state.counters["through_index"] = static_cast<double>(pane.LastRunThroughIndex());
    if (!finished) state.SkipWithError("the typing started no search, or it did not end");
}

// The engine with the pane's hit collector as its target, disc after disc, the
// copies kept: what the worker side of the pane costs without any window.
void BM_EngineCollectorManyHits(benchmark::State& state) {
    if (!EnsureBenchLibrary(gHitEvery)) return state.SkipWithError("cannot build the library");
    std::vector<std::string> paths = LibraryDiscPaths(BenchLibrary(gHitEvery));
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
void BM_EngineManyHits(benchmark::State& state) {
    EngineAlone(state, gHitEvery, kHitMarker, MarkedEntries());
}
void BM_PaneManyHits(benchmark::State& state) {
    PaneSearch(state, gHitEvery, kHitMarker, MarkedEntries());
}
BENCHMARK(BM_EngineNoHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PaneNoHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EngineManyHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_EngineCollectorManyHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PaneManyHits)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PaneWhileIndexBuilds)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
// One run each: a keyword already shown is not searched again.
BENCHMARK_CAPTURE(BM_PaneTypeAhead, few_hits, "zq7")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_PaneTypeAhead, many_hits, "a")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

// With --trace-events, the events that kept the window's thread longest, by what
// handled them: where the window's own time between two ticks goes.
class CTracingApp : public QApplication {
public:
    using QApplication::QApplication;
    bool trace = false;
    struct Slow {
        double wallMs, cpuMs;
        int type;
        std::string receiver;
    };
    std::vector<Slow> slow;
    bool notify(QObject* receiver, QEvent* event) override {
        if (!trace || depth_ > 0) return QApplication::notify(receiver, event);
        ++depth_;
        const int type = event->type();
        QElapsedTimer wall;
        wall.start();
        const int64_t cpu = ThreadCpuNs();
        const bool r = QApplication::notify(receiver, event);
        const double cpuMs = double(ThreadCpuNs() - cpu) / 1e6;
        const double wallMs = double(wall.nsecsElapsed()) / 1e6;
        if (wallMs >= 4)
            slow.push_back({wallMs, cpuMs, type,
                            std::string(receiver->metaObject()->className()) + " " +
                                receiver->objectName().toStdString()});
        --depth_;
        return r;
    }
    void Report() {
        std::sort(slow.begin(), slow.end(),
                  [](const Slow& a, const Slow& b) { return a.cpuMs > b.cpuMs; });
        std::fprintf(stderr, "%zu events of 4 ms or more; the costliest by thread CPU:\n",
                     slow.size());
        for (size_t i = 0; i < slow.size() && i < 15; ++i)
            std::fprintf(stderr, "  cpu %6.1f ms  wall %6.1f ms  event %3d  %s\n", slow[i].cpuMs,
                         slow[i].wallMs, slow[i].type, slow[i].receiver.c_str());
    }

private:
    static int64_t ThreadCpuNs() {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
    }
    int depth_ = 0;
};

}  // namespace orb

int main(int argc, char** argv) {
    // The pane reads the library directory from the settings store: keep the
    // user's own store out of it.
    char home[] = "/tmp/orb-pane-bench-XXXXXX";
    if (::mkdtemp(home)) {
        ::setenv("HOME", home, 1);
        ::setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (std::string(home) + "/cache").c_str(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    orb::bench::TakeLibrarySize(argc, argv);
    int kept = 1;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace-events") == 0)
            trace = true;
        else if (std::strcmp(argv[i], "--sample-sleeps") == 0)
            orb::gSampleSleeps = true;
        else if (std::strncmp(argv[i], "--hit-every=", 12) == 0)
            orb::gHitEvery = std::max(1, std::atoi(argv[i] + 12));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    orb::CTracingApp app(argc, argv);
    // The scope is filled from the benchmark library directly; the stored library
    // is an empty folder, so the pane builds no name index in the background and
    // walks every disc, its slowest way.
    const std::string emptyLibrary = std::string(home) + "/library";
    ::mkdir(emptyLibrary.c_str(), 0755);
    orb::StoreLibraryDirectory(emptyLibrary);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    app.trace = trace;
    if (orb::gSampleSleeps) orb::Sampler().Start(static_cast<pid_t>(::syscall(SYS_gettid)));
    benchmark::RunSpecifiedBenchmarks();
    app.trace = false;
    if (orb::gSampleSleeps) {
        orb::Sampler().Stop();
        orb::Sampler().Report();
    }
    if (trace) app.Report();
    benchmark::Shutdown();
    return 0;
}
