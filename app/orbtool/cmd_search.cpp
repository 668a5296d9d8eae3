// orbtool search: the search engine over library directories and index files,
// several discs at once, hits printed in library order.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/orbtool/commands.h"
#include "app/orbtool/output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/disc_search.h"

namespace orbtool {

namespace {

constexpr const char* kUsage =
    "usage: orbtool search TARGET... --keyword TEXT [--files] [--dirs] [--notes] [--case]\n"
    "                      [--whole] [--types FILTER] [--json]\n"
    "  TARGET is a library directory (every disc, in library order) or an index file.\n"
    "  Without --files, --dirs or --notes all three are searched.\n";

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "orbtool search: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// Formats one hit as the line orbtool prints.
std::string HitLine(const orb::SearchResult& hit, bool json) {
    if (!json) {
        std::string line = TerminalText(hit.fullParentPath);
        line += TerminalText(hit.entry.Name());
        line += '\t';
        line += hit.fullIndexPath;
        line += '\n';
        return line;
    }
    std::string line = "{\"parent\":";
    line += JsonString(orb::StoredToHost(hit.fullParentPath));
    line += ",\"name\":";
    line += JsonString(orb::StoredToHost(hit.entry.Name()));
    line += ",\"index\":";
    line += JsonString(hit.fullIndexPath);
    line += ",\"annotation\":";
    line += JsonString(orb::StoredToHost(hit.annotation));
    line += ",\"kind\":";
    line += hit.entry.IsDirectory() ? "\"dir\"" : "\"file\"";
    line += ",\"size\":" + std::to_string(hit.entry.Size());
    line += ",\"time\":";
    line += JsonString(UtcTime(hit.entry.writeTime));
    line += "}\n";
    return line;
}

// Searches several discs at once, each on a reader of its own, and prints their
// hits in library order: the disc at the output cursor prints as its hits arrive,
// later discs keep theirs until every disc before them is done. Starting a worker
// and reading an index cost mostly waiting, which the discs in flight share.
class CParallelSearch {
public:
    CParallelSearch(const std::vector<std::string>& paths, const orb::DiscSearchOptions& options,
                    bool json, bool showProgress, size_t inFlight)
        : paths_(paths), options_(options), json_(json), progress_(showProgress) {
        for (size_t i = 0; i < std::max<size_t>(1, inFlight); ++i)
            slots_.push_back(std::make_unique<Slot>(*this));
    }

    orb::DiscSearchSummary Run() {
        std::deque<Slot*> flight;
        std::vector<Slot*> idle;
        for (auto& s : slots_) idle.push_back(s.get());
        size_t next = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        while (cursor_ < paths_.size()) {
            while (!idle.empty() && next < paths_.size()) {
                Slot* slot = idle.back();
                idle.pop_back();
                lock.unlock();
                Start(*slot, next++);
                lock.lock();
                flight.push_back(slot);
            }
            Slot* front = flight.front();
            if (!front->announced) {
                front->announced = true;
                front->percent = -1;
                ShowProgress(*front, 0);
            }
            // The front's own output already went out; what it kept was written
            // before it became the front.
            if (!front->pending.empty()) {
                ClearProgress();
                std::fwrite(front->pending.data(), 1, front->pending.size(), stdout);
                front->pending.clear();
            }
            cv_.wait(lock, [front] { return front->finished; });
            if (!front->pending.empty()) {
                ClearProgress();
                std::fwrite(front->pending.data(), 1, front->pending.size(), stdout);
                front->pending.clear();
            }
            if (front->failed) {
                ClearProgress();
                ++summary_.discsFailed;
                std::fprintf(stderr, "orbtool search: %s: %s\n", paths_[front->disc].c_str(),
                             front->error.empty() ? "not searched" : front->error.c_str());
            } else {
                ++summary_.discsSearched;
            }
            flight.pop_front();
            front->reader.Close();
            idle.push_back(front);
            ++cursor_;
            std::fflush(stdout);
        }
        ClearProgress();
        return summary_;
    }

private:
    struct Slot : public orb::IMessageTarget {
        explicit Slot(CParallelSearch& run) : owner(run) {}
        orb::LRESULT Send(uint32_t msg, orb::WPARAM code, orb::LPARAM lParam) override {
            if (msg != orb::WM_SEARCH_EVENT) return 0;
            if (code == orb::SEARCH_FOUND)
                owner.OnHit(*this, *reinterpret_cast<const orb::SearchResult*>(lParam));
            else if (code == orb::SEARCH_PROGRESS)
                owner.OnProgress(*this, static_cast<int>(lParam));
            return 0;
        }
        void Post(uint32_t msg, orb::WPARAM code, orb::LPARAM) override {
            if (msg == orb::WM_SEARCH_EVENT && code == orb::SEARCH_FINISHED)
                owner.OnFinished(*this);
        }

        CParallelSearch& owner;
        orb::CIndexReader reader;
        size_t disc = 0;
        // Guarded by the run's mutex.
        std::string pending;
        bool finished = false;
        bool failed = false;
        bool announced = false;
        int percent = -1;
        std::string error;
    };

    void Start(Slot& slot, size_t disc) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slot.disc = disc;
            slot.pending.clear();
            slot.finished = slot.failed = slot.announced = false;
            slot.error.clear();
        }
        if (!slot.reader.Open(paths_[disc], orb::OpenMode::ReadShareAll)) {
            Fail(slot, slot.reader.LastError());
            return;
        }
        slot.reader.SetSearchOptions(&slot, options_.typeFilter, options_.flags);
        // A start that fails posts its end itself.
        if (!slot.reader.BeginSearch(options_.keyword)) {
            std::lock_guard<std::mutex> lock(mutex_);
            slot.failed = true;
        }
    }

    void Fail(Slot& slot, const std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.failed = true;
        slot.error = error;
        slot.finished = true;
        cv_.notify_all();
    }

    void OnHit(Slot& slot, const orb::SearchResult& hit) {
        std::string line = HitLine(hit, json_);
        std::lock_guard<std::mutex> lock(mutex_);
        ++summary_.hits;
        if (slot.disc == cursor_ && slot.pending.empty()) {
            ClearProgress();
            std::fwrite(line.data(), 1, line.size(), stdout);
            slot.percent = -1;  // redraw the progress line
        } else {
            slot.pending += line;
        }
    }

    void OnProgress(Slot& slot, int percent) {
        if (!progress_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot.disc == cursor_) ShowProgress(slot, percent);
    }

    void OnFinished(Slot& slot) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.finished = true;
        cv_.notify_all();
    }

    // Called with the mutex held.
    void ShowProgress(Slot& slot, int percent) {
        if (!progress_ || percent == slot.percent) return;
        slot.percent = percent;
        const std::string& path = paths_[slot.disc];
        std::fprintf(stderr, "\r[%zu/%zu] %3d%% %s\033[K", slot.disc + 1, paths_.size(), percent,
                     path.substr(path.rfind('/') + 1).c_str());
        shown_ = true;
    }
    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

    const std::vector<std::string>& paths_;
    const orb::DiscSearchOptions& options_;
    const bool json_;
    const bool progress_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::mutex mutex_;
    std::condition_variable cv_;
    size_t cursor_ = 0;  // the disc whose output goes out now
    bool shown_ = false;
    orb::DiscSearchSummary summary_;
};

// Discs in flight: a few per core, so a worker that is starting or waiting for
// its file does not leave a core idle.
size_t DiscsInFlight() {
    unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<size_t>(size_t{cores == 0 ? 2 : cores} * 2, 2, 16);
}

}  // namespace

int RunSearch(int argc, char** argv) {
    std::vector<std::string> targets;
    orb::DiscSearchOptions options;
    bool haveKeyword = false;
    bool json = false;
    uint8_t parts = 0;
    uint8_t modifiers = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (std::strcmp(a, "--keyword") == 0) {
            const char* v = value();
            if (!v) return Usage("--keyword needs a text");
            options.keyword = orb::HostToStored(v);
            haveKeyword = true;
        } else if (std::strcmp(a, "--types") == 0) {
            const char* v = value();
            if (!v) return Usage("--types needs a filter");
            options.typeFilter = orb::HostToStored(v);
        } else if (std::strcmp(a, "--files") == 0) {
            parts |= orb::SF_FILES;
        } else if (std::strcmp(a, "--dirs") == 0) {
            parts |= orb::SF_DIRECTORIES;
        } else if (std::strcmp(a, "--notes") == 0) {
            parts |= orb::SF_ANNOTATIONS;
        } else if (std::strcmp(a, "--case") == 0) {
            modifiers |= orb::SF_MATCHCASE;
        } else if (std::strcmp(a, "--whole") == 0) {
            modifiers |= orb::SF_WHOLENAME;
        } else if (std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a[0] == '-' && a[1] == '-') {
            std::string problem = std::string("unknown option ") + a;
            return Usage(problem.c_str());
        } else {
            targets.push_back(a);
        }
    }
    if (targets.empty()) return Usage("no TARGET given");
    if (!haveKeyword) return Usage("--keyword is required");
    // The search pane refuses an empty keyword too; it would match everything.
    if (options.keyword.empty()) return Usage("没有指定查找关键词");
    if (parts == 0) parts = orb::SF_FILES | orb::SF_DIRECTORIES | orb::SF_ANNOTATIONS;
    options.flags = parts | modifiers;

    std::vector<std::string> indexPaths;
    bool anyLibrary = false;
    for (const orb::SearchTarget& t : orb::ExpandSearchTargets(targets)) {
        if (t.isLibrary && !t.listed)
            std::fprintf(stderr, "orbtool search: %s: cannot read the directory\n", t.path.c_str());
        anyLibrary = anyLibrary || t.listed;
        indexPaths.insert(indexPaths.end(), t.indexPaths.begin(), t.indexPaths.end());
    }

    // Each disc's output is flushed when the disc is done, also into a pipe.
    CParallelSearch run(indexPaths, options, json, ::isatty(STDERR_FILENO) != 0, DiscsInFlight());
    orb::DiscSearchSummary summary = run.Run();

    if (json)
        std::printf("{\"hits\":%" PRIu64 ",\"discs\":%zu,\"skipped\":%zu}\n", summary.hits,
                    summary.discsSearched, summary.discsFailed);
    else
        std::printf("%" PRIu64 "个结果被找到\n", summary.hits);
    if (summary.discsSearched == 0 && !anyLibrary) return kExitFailed;
    return kExitOk;
}

}  // namespace orbtool
