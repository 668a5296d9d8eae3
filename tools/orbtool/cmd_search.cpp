// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool search: the search engine over library directories and index files,
// several discs at once, hits printed in library order.
#include <sys/stat.h>
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

#include "platform/files.h"
#include "platform/text.h"
#include "search/disc_search.h"
#include "search/pinyin_match.h"
#include "tools/orbtool/commands.h"
#include "tools/orbtool/output.h"

namespace orbtool {

namespace {

constexpr const char* kUsage =
    "usage: orbtool search TARGET... --keyword TEXT [--files] [--dirs] [--notes] [--case]\n"
    "                      [--whole] [--pinyin | --no-pinyin] [--types FILTER] [--json]\n"
    "  TARGET is a library directory (every disc, in library order) or an index file.\n"
    "  Without --files, --dirs or --notes all three are searched.\n"
    "  --pinyin (the default): a keyword of letters also finds names by the pinyin\n"
    "  of their Chinese characters, in full or by initials (gjx finds 工具箱).\n";

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

// Folds every byte A-Z to a-z, eight bytes at a time.
void FoldInPlace(char* p, size_t n) {
    constexpr uint64_t k01 = 0x0101010101010101ULL;
    constexpr uint64_t k80 = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, 8);
        const uint64_t low = v & ~k80;  // each byte's low seven bits
        // Per byte, bit 7 set: at least 'A', above 'Z', and a byte below 0x80.
        const uint64_t atLeastA = low + (0x80 - 'A') * k01;
        const uint64_t aboveZ = low + (0x80 - 'Z' - 1) * k01;
        const uint64_t upper = atLeastA & ~aboveZ & ~v & k80;
        v |= upper >> 2;  // 0x80 >> 2 is the case bit 0x20
        std::memcpy(p + i, &v, 8);
    }
    for (; i < n; ++i)
        if (p[i] >= 'A' && p[i] <= 'Z') p[i] = static_cast<char>(p[i] + 32);
}

// True unless the disc provably holds no hit: every name the engine could match
// lies in the index file's bytes and every annotation in the reader's table, so a
// keyword found in neither (A-Z folded unless the case must match) cannot match.
// A scan of the raw bytes costs far less than walking every entry, and most discs
// of a library search hold no hit.
bool MayHit(const std::string& indexPath, const orb::CIndexReader& reader,
            const orb::DiscSearchOptions& options, std::string& buffer) {
    if (options.keyword.empty()) return true;
    const bool fold = (options.flags & orb::SF_MATCHCASE) == 0;
    std::string keyword = options.keyword;
    if (fold) FoldInPlace(keyword.data(), keyword.size());
    if (options.flags & orb::SF_ANNOTATIONS) {
        for (const orb::Annotation& a : reader.Annotations()) {
            std::string text = a.text;
            if (fold) FoldInPlace(text.data(), text.size());
            if (text.find(keyword) != std::string::npos) return true;
        }
    }
    if (!(options.flags & (orb::SF_FILES | orb::SF_DIRECTORIES))) return false;
    // A name found by pinyin holds none of the keyword's bytes.
    if ((options.flags & orb::SF_PINYIN) && orb::IsPinyinKeyword(options.keyword)) return true;
    int fd = orb::OpenShared(indexPath, orb::OpenMode::ReadShareAll);
    if (fd < 0) return true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0) {
        ::close(fd);
        return true;
    }
    // In windows of at most kWindow bytes, each starting with the last
    // keyword-length - 1 bytes of the one before, so a huge (or hostile) file
    // costs no more memory than a small one and no match across windows is lost.
    constexpr size_t kWindow = size_t{1} << 20;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const size_t keep = keyword.size() - 1;
    buffer.resize(kWindow + keep);
    bool found = false;
    bool ok = true;
    size_t carried = 0;
    for (uint64_t at = 0; at < size && !found;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kWindow, size - at));
        if (!orb::ReadFully(fd, buffer.data() + carried, n, at)) {
            ok = false;
            break;
        }
        if (fold) FoldInPlace(buffer.data() + carried, n);
        const size_t have = carried + n;
        found = ::memmem(buffer.data(), have, keyword.data(), keyword.size()) != nullptr;
        carried = std::min(keep, have);
        std::memmove(buffer.data(), buffer.data() + have - carried, carried);
        at += n;
    }
    ::close(fd);
    return found || !ok;
}

// Searches several discs at once, each on a pool thread with a reader of its
// own, and prints their hits in library order: the disc at the output cursor
// prints as its hits arrive, later discs keep theirs until every disc before them
// is done. Threads run at most kAhead discs ahead of the cursor, so what is kept
// stays bounded.
class CParallelSearch {
public:
    static constexpr size_t kAhead = 64;

    CParallelSearch(const std::vector<std::string>& paths, const orb::DiscSearchOptions& options,
                    bool json, bool showProgress)
        : paths_(paths),
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
                    Flush(disc);
                    cv_.wait(lock, [&] { return !disc.pending.empty() || disc.finished; });
                }
                Flush(disc);
                if (disc.failed) {
                    ClearProgress();
                    ++summary_.discsFailed;
                    std::fprintf(stderr, "orbtool search: %s: %s\n", paths_[cursor_].c_str(),
                                 disc.error.empty() ? "not searched" : disc.error.c_str());
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
        std::string pending;  // output kept until the cursor reaches this disc
        bool finished = false;
        bool failed = false;
        int percent = -1;
        std::string error;
    };

    // A pool thread's notify target: the engine's worker reports to it.
    class CTarget : public orb::CSearchWaitTarget {
    public:
        explicit CTarget(CParallelSearch& run) : run_(run) {}
        size_t disc = 0;
        orb::LRESULT Send(uint32_t msg, orb::WPARAM code, orb::LPARAM lParam) override {
            if (msg != orb::WM_SEARCH_EVENT) return 0;
            if (code == orb::SEARCH_FOUND)
                run_.OnHit(disc, *reinterpret_cast<const orb::SearchResult*>(lParam));
            else if (code == orb::SEARCH_PROGRESS)
                run_.OnProgress(disc, static_cast<int>(lParam));
            return 0;
        }

    private:
        CParallelSearch& run_;
    };

    void Work() {
        orb::CIndexReader reader;
        CTarget target(*this);
        std::string buffer;
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
            if (!reader.Open(paths_[d], orb::OpenMode::ReadShareAll)) {
                failed = true;
                error = reader.LastError();
            } else if (MayHit(paths_[d], reader, options_, buffer)) {
                reader.SetSearchOptions(&target, options_.typeFilter, options_.flags);
                // A start that fails posts its end itself.
                failed = reader.BeginSearch(options_.keyword) == nullptr;
                target.WaitFinished();
            }
            reader.Close();
            std::lock_guard<std::mutex> lock(mutex_);
            discs_[d].finished = true;
            discs_[d].failed = failed;
            discs_[d].error = std::move(error);
            cv_.notify_all();
        }
    }

    void OnHit(size_t d, const orb::SearchResult& hit) {
        std::string line = HitLine(hit, json_);
        std::lock_guard<std::mutex> lock(mutex_);
        ++summary_.hits;
        discs_[d].pending += line;
        if (d == cursor_) cv_.notify_all();
    }

    void OnProgress(size_t d, int percent) {
        if (!progress_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (d == cursor_) ShowProgress(discs_[d], percent);
    }

    // Called with the mutex held.
    void Flush(Disc& disc) {
        if (disc.pending.empty()) return;
        ClearProgress();
        std::fwrite(disc.pending.data(), 1, disc.pending.size(), stdout);
        disc.pending.clear();
        disc.percent = -1;  // redraw the progress line
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
    CParallelSearch run(indexPaths, options, json, ::isatty(STDERR_FILENO) != 0);
    orb::DiscSearchSummary summary = run.Run(SearchThreads());

    if (json)
        std::printf("{\"hits\":%" PRIu64 ",\"discs\":%zu,\"skipped\":%zu}\n", summary.hits,
                    summary.discsSearched, summary.discsFailed);
    else
        std::printf("%" PRIu64 "个结果被找到\n", summary.hits);
    if (summary.discsSearched == 0 && !anyLibrary) return kExitFailed;
    return kExitOk;
}

}  // namespace orbtool
