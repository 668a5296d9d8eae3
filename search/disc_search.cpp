// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/disc_search.h"

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "library/store/library_store.h"
#include "platform/messages.h"

namespace orb {

void CSearchWaitTarget::Post(uint32_t msg, WPARAM wParam, LPARAM) {
    if (msg != WM_SEARCH_EVENT || wParam != SEARCH_FINISHED) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    cv_.notify_all();
}

void CSearchWaitTarget::WaitFinished() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return finished_; });
    finished_ = false;
}

namespace {

// Handles the sent notifications right on the worker (the caller is blocked
// meanwhile, as a window's thread would be busy elsewhere) and turns the posted
// SEARCH_FINISHED into a wake-up of the caller.
class CDiscSearchTarget : public CSearchWaitTarget {
public:
    CDiscSearchTarget(IDiscSearchSink& sink, uint64_t& hits) : sink_(sink), hits_(hits) {}

    LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) override {
        if (msg != WM_SEARCH_EVENT) return 0;
        if (wParam == SEARCH_PROGRESS) {
            sink_.OnProgress(static_cast<int>(lParam));
        } else if (wParam == SEARCH_FOUND) {
            ++hits_;
            sink_.OnHit(*reinterpret_cast<const SearchResult*>(lParam));
        }
        return 0;
    }

private:
    IDiscSearchSink& sink_;
    uint64_t& hits_;
};

}  // namespace

DiscSearchSummary SearchDiscs(const std::vector<std::string>& indexPaths,
                              const DiscSearchOptions& options, IDiscSearchSink& sink) {
    DiscSearchSummary summary;
    CDiscSearchTarget target(sink, summary.hits);
    CIndexReader reader;
    for (size_t i = 0; i < indexPaths.size(); ++i) {
        const std::string& path = indexPaths[i];
        if (!reader.Open(path, OpenMode::ReadShareAll)) {
            ++summary.discsFailed;
            sink.OnDiscFailed(i, path, reader.LastError());
            continue;
        }
        sink.OnDiscStarted(i, path);
        reader.SetSearchOptions(&target, options.typeFilter, options.flags);
        if (reader.BeginSearch(options.keyword)) {
            target.WaitFinished();
            ++summary.discsSearched;
        } else {
            // A failed start still posts its end; take it so it does not count
            // for the next disc.
            target.WaitFinished();
            ++summary.discsFailed;
            sink.OnDiscFailed(i, path, std::string());
        }
        reader.Close();
    }
    return summary;
}

std::vector<SearchTarget> ExpandSearchTargets(const std::vector<std::string>& paths) {
    std::vector<SearchTarget> targets;
    for (const std::string& path : paths) {
        SearchTarget t;
        t.path = path;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            t.isLibrary = true;
            t.listed = ListDirectory(path, [](const DirEntry&) { return false; });
            if (t.listed) t.indexPaths = LibraryDiscPaths(path);
        } else {
            t.indexPaths.push_back(path);
        }
        targets.push_back(std::move(t));
    }
    return targets;
}

}  // namespace orb
