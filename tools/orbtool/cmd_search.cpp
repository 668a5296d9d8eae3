// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool search: the search engine over library directories and index files,
// several discs at once, hits printed in library order.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

#include "platform/files.h"
#include "platform/text.h"
#include "search/disc_search.h"
#include "search/index/name_index.h"
#include "search/pinyin_match.h"
#include "tools/orbtool/commands.h"
#include "tools/orbtool/output.h"

namespace orbtool {

namespace {

constexpr const char* kUsage =
    "usage: orbtool search TARGET... --keyword TEXT [--files] [--dirs] [--notes] [--case]\n"
    "                      [--whole] [--pinyin | --no-pinyin] [--types FILTER] [--json]\n"
    "                      [--no-index] [--stats]\n"
    "  TARGET is a library directory (every disc, in library order) or an index file.\n"
    "  Without --files, --dirs or --notes all three are searched.\n"
    "  --pinyin (the default): a keyword of letters also finds names by the pinyin\n"
    "  of their Chinese characters, in full or by initials (gjx finds 工具箱).\n"
    "  A library's discs are searched through its name index where it is fresh\n"
    "  (see orbtool index); --no-index walks every disc. --stats reports how each\n"
    "  disc was searched on standard error.\n";

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "orbtool search: %s\n", problem);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// Formats hits as the lines orbtool prints. Hits of one directory come one after
// another, so its parent path is decoded once, not per hit.
class CHitFormatter {
public:
    explicit CHitFormatter(bool json) : json_(json) {}

    void Append(const orb::SearchResult& hit, std::string& out) {
        if (hit.fullParentPath != parent_) {
            parent_ = hit.fullParentPath;
            parentShown_ = json_ ? JsonString(orb::StoredToHost(parent_)) : TerminalText(parent_);
        }
        if (!json_) {
            out += parentShown_;
            out += TerminalText(hit.entry.Name());
            out += '\t';
            out += hit.fullIndexPath;
            out += '\n';
            return;
        }
        out += "{\"parent\":";
        out += parentShown_;
        out += ",\"name\":";
        out += JsonString(orb::StoredToHost(hit.entry.Name()));
        out += ",\"index\":";
        out += JsonString(hit.fullIndexPath);
        out += ",\"annotation\":";
        out += hit.annotation.empty() ? "\"\"" : JsonString(orb::StoredToHost(hit.annotation));
        out += ",\"kind\":";
        out += hit.entry.IsDirectory() ? "\"dir\"" : "\"file\"";
        out += ",\"size\":" + std::to_string(hit.entry.Size());
        out += ",\"time\":";
        out += JsonString(UtcTime(hit.entry.writeTime));
        out += "}\n";
    }

private:
    const bool json_;
    std::string parent_;  // stored, with its decoded form
    std::string parentShown_;
};

// Searches several discs at once, each on a pool thread with a reader of its
// own, and prints their hits in library order: the disc at the output cursor
// prints as its hits arrive, later discs keep theirs until every disc before them
// is done. A pool thread formats its disc's hits itself and hands them over in
// batches, so the shared lock is taken per batch, not per hit. Threads run at
// most kAhead discs ahead of the cursor and printed output is released at once,
// so what is kept stays bounded by the discs in flight.
class CParallelSearch {
public:
    static constexpr size_t kAhead = 16;
    static constexpr size_t kBatchBytes = 64 * 1024;

    CParallelSearch(const std::vector<std::string>& paths,
                    const std::vector<std::string>& cacheDirs,
                    const orb::DiscSearchOptions& options, bool json, bool showProgress)
        : paths_(paths),
          cacheDirs_(cacheDirs),
          options_(options),
          json_(json),
          progress_(showProgress),
          discs_(paths.size()) {}

    orb::DiscSearchSummary Run(size_t threads) {
        std::vector<std::thread> pool;
        for (size_t i = 0; i < std::max<size_t>(1, threads); ++i)
            pool.emplace_back([this] { Work(); });
        {
            std::unique_lock<std::mutex> lock(mutex_);
            for (; cursor_ < discs_.size(); ++cursor_) {
                Disc& disc = discs_[cursor_];
                ShowProgress(disc, 0);
                cv_.notify_all();  // threads waiting to run ahead
                cv_.wait(lock, [&] { return !disc.pending.empty() || disc.finished; });
                while (!disc.finished) {
                    // The cursor's own hits go out as they come.
                    Flush(lock, disc);
                    cv_.wait(lock, [&] { return !disc.pending.empty() || disc.finished; });
                }
                Flush(lock, disc);
                if (disc.failed) {
                    ClearProgress();
                    ++summary_.discsFailed;
                    std::fprintf(stderr, "orbtool search: %s: %s\n", paths_[cursor_].c_str(),
                                 disc.error.empty() ? "not searched" : disc.error.c_str());
                    std::string().swap(disc.error);
                } else {
                    ++summary_.discsSearched;
                }
                std::fflush(stdout);
            }
            cv_.notify_all();
        }
        for (std::thread& t : pool) t.join();
        ClearProgress();
        return summary_;
    }

private:
    struct Disc {
        std::string pending;  // output not yet printed
        bool finished = false;
        bool failed = false;
        int percent = -1;
        std::string error;
    };

    // A pool thread's notify target: the engine's worker reports to it, and it
    // collects the formatted hits of its current disc.
    class CTarget : public orb::CSearchWaitTarget {
    public:
        CTarget(CParallelSearch& run, bool json) : run_(run), format_(json) {}
        void Hit(const orb::SearchResult& hit) {
            format_.Append(hit, batch);
            ++hits;
            if (batch.size() >= kBatchBytes) run_.HandOver(*this, false);
        }
        size_t disc = 0;
        std::string batch;
        uint64_t hits = 0;

        orb::LRESULT Send(uint32_t msg, orb::WPARAM code, orb::LPARAM lParam) override {
            if (msg != orb::WM_SEARCH_EVENT) return 0;
            if (code == orb::SEARCH_FOUND) {
                Hit(*reinterpret_cast<const orb::SearchResult*>(lParam));
            } else if (code == orb::SEARCH_PROGRESS) {
                run_.OnProgress(disc, static_cast<int>(lParam));
            }
            return 0;
        }

    private:
        CParallelSearch& run_;
        CHitFormatter format_;
    };

    void Work() {
        orb::CIndexReader reader;
        // A disc that cannot hold the keyword is not walked at all.
        reader.SetSearchShortcut(true);
        CTarget target(*this, json_);
        for (;;) {
            size_t d;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                d = next_++;
                if (d >= discs_.size()) return;
                cv_.wait(lock, [&] { return d < cursor_ + kAhead; });
            }
            target.disc = d;
            bool failed = false;
            std::string error;
            if (!cacheDirs_[d].empty() &&
                orb::SearchDiscThroughIndex(cacheDirs_[d], paths_[d], options_, reader,
                                            [&](const orb::SearchResult& h) { target.Hit(h); })) {
                std::lock_guard<std::mutex> lock(mutex_);
                ++throughIndex_;
                HandOverLocked(target, true);
                continue;
            }
            if (!reader.Open(paths_[d], orb::OpenMode::ReadShareAll)) {
                failed = true;
                error = reader.LastError();
            } else {
                reader.SetSearchOptions(&target, options_.typeFilter, options_.flags);
                // A start that fails posts its end itself.
                failed = reader.BeginSearch(options_.keyword) == nullptr;
                target.WaitFinished();
            }
            reader.Close();
            std::lock_guard<std::mutex> lock(mutex_);
            discs_[d].failed = failed;
            discs_[d].error = std::move(error);
            HandOverLocked(target, true);
        }
    }

    void HandOver(CTarget& target, bool finished) {
        std::lock_guard<std::mutex> lock(mutex_);
        HandOverLocked(target, finished);
    }
    void HandOverLocked(CTarget& target, bool finished) {
        Disc& disc = discs_[target.disc];
        summary_.hits += target.hits;
        target.hits = 0;
        if (disc.pending.empty())
            disc.pending.swap(target.batch);
        else
            disc.pending += target.batch;
        target.batch.clear();
        if (finished) disc.finished = true;
        cv_.notify_all();
    }

    void OnProgress(size_t d, int percent) {
        if (!progress_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (d == cursor_) ShowProgress(discs_[d], percent);
    }

    // Called with the lock held. The printed text is freed, not kept for reuse.
    void Flush(std::unique_lock<std::mutex>& lock, Disc& disc) {
        if (disc.pending.empty()) return;
        ClearProgress();
        std::string out;
        out.swap(disc.pending);
        disc.percent = -1;  // redraw the progress line
        // With a progress line on the terminal, writing under the lock keeps the
        // line from being drawn into the middle of the hits.
        if (!progress_) lock.unlock();
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (!progress_) lock.lock();
    }
    void ShowProgress(Disc& disc, int percent) {
        if (!progress_ || percent == disc.percent) return;
        disc.percent = percent;
        const std::string& path = paths_[cursor_];
        std::fprintf(stderr, "\r[%zu/%zu] %3d%% %s\033[K", cursor_ + 1, paths_.size(), percent,
                     path.substr(path.rfind('/') + 1).c_str());
        shown_ = true;
    }
    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

    const std::vector<std::string>& paths_;
    const std::vector<std::string>& cacheDirs_;  // per disc; empty: walk it
    const orb::DiscSearchOptions& options_;
    const bool json_;
    const bool progress_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Disc> discs_;
    size_t next_ = 0;    // the next disc a pool thread takes
    size_t cursor_ = 0;  // the disc whose output goes out now
    bool shown_ = false;
    orb::DiscSearchSummary summary_;

public:
    size_t throughIndex_ = 0;  // discs answered by the name index
};

// Pool threads: a few per core, so a disc whose worker is starting or waiting
// for its file does not leave a core idle.
size_t SearchThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<size_t>(size_t{cores == 0 ? 2 : cores} * 2, 2, 16);
}

}  // namespace

int RunSearch(int argc, char** argv) {
    std::vector<std::string> targets;
    orb::DiscSearchOptions options;
    bool haveKeyword = false;
    bool json = false;
    bool useIndex = true;
    bool stats = false;
    uint8_t parts = 0;
    uint8_t modifiers = orb::SF_PINYIN;
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
        } else if (std::strcmp(a, "--pinyin") == 0) {
            modifiers |= orb::SF_PINYIN;
        } else if (std::strcmp(a, "--no-pinyin") == 0) {
            modifiers &= static_cast<uint8_t>(~orb::SF_PINYIN);
        } else if (std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (std::strcmp(a, "--no-index") == 0) {
            useIndex = false;
        } else if (std::strcmp(a, "--stats") == 0) {
            stats = true;
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

    std::vector<std::string> indexPaths, cacheDirs;
    bool anyLibrary = false;
    for (const orb::SearchTarget& t : orb::ExpandSearchTargets(targets)) {
        if (t.isLibrary && !t.listed)
            std::fprintf(stderr, "orbtool search: %s: cannot read the directory\n", t.path.c_str());
        anyLibrary = anyLibrary || t.listed;
        indexPaths.insert(indexPaths.end(), t.indexPaths.begin(), t.indexPaths.end());
        cacheDirs.insert(cacheDirs.end(), t.indexPaths.size(),
                         useIndex && t.isLibrary ? orb::NameIndexDirectory(t.path) : std::string());
    }

    // Each disc's output is flushed when the disc is done, also into a pipe.
    const auto start = std::chrono::steady_clock::now();
    CParallelSearch run(indexPaths, cacheDirs, options, json, ::isatty(STDERR_FILENO) != 0);
    orb::DiscSearchSummary summary = run.Run(SearchThreads());
    if (stats) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        const bool narrowable = orb::NameIndexCanNarrow(options);
        std::fprintf(stderr,
                     "orbtool search: %zu discs, %zu through the name index, %zu walked%s; "
                     "%.1f ms\n",
                     indexPaths.size(), run.throughIndex_, indexPaths.size() - run.throughIndex_,
                     !useIndex     ? " (--no-index)"
                     : !narrowable ? " (the keyword is too short for the index)"
                                   : "",
                     ms);
    }

    if (json)
        std::printf("{\"hits\":%" PRIu64 ",\"discs\":%zu,\"skipped\":%zu}\n", summary.hits,
                    summary.discsSearched, summary.discsFailed);
    else
        std::printf("%" PRIu64 "个结果被找到\n", summary.hits);
    if (summary.discsSearched == 0 && !anyLibrary) return kExitFailed;
    return kExitOk;
}

int RunNameIndex(int argc, char** argv) {
    constexpr const char* kIndexUsage = "usage: orbtool index LIBRARY [--rebuild]\n";
    std::string library;
    bool rebuild = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rebuild") == 0) {
            rebuild = true;
        } else if (argv[i][0] == '-' || !library.empty()) {
            std::fprintf(stderr, "orbtool index: unexpected %s\n%s", argv[i], kIndexUsage);
            return kExitUsage;
        } else {
            library = argv[i];
        }
    }
    if (library.empty()) {
        std::fputs(kIndexUsage, stderr);
        return kExitUsage;
    }
    struct stat st {};
    if (::stat(library.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "orbtool index: %s: not a library directory\n", library.c_str());
        return kExitFailed;
    }
    orb::NameIndexRefresh r = orb::RefreshNameIndex(library, rebuild);
    std::printf("%zu discs: %zu built, %zu fresh, %zu failed, %zu removed; %" PRIu64
                " bytes in %s\n",
                r.discs, r.built, r.fresh, r.failed, r.removed, r.bytes,
                orb::NameIndexDirectory(library).c_str());
    return r.failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace orbtool
