// SPDX-License-Identifier: GPL-3.0-or-later
// Searching several disc indexes one after another on the search engine, the way
// the search pane drives it: open the next index, SetSearchOptions, BeginSearch,
// wait for SEARCH_FINISHED, go on. Used by the command line; the notifications are
// handled on the worker thread while the caller waits for each disc's end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "index/index_reader.h"

namespace orb {

// A notify target whose caller waits for one search to end: the posted
// SEARCH_FINISHED wakes WaitFinished. Subclasses handle the sent events, which
// arrive on the search worker while the caller waits.
class CSearchWaitTarget : public IMessageTarget {
public:
    void Post(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    void WaitFinished();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
};

// What to search for, as stored text.
struct DiscSearchOptions {
    std::string keyword;
    std::string typeFilter = "*";
    uint8_t flags = SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS;
};

// Receives the events of a multi-disc search. OnHit and OnProgress are called on
// the search worker while the calling thread waits, so they need no locking; the
// hit is valid only during the call.
class IDiscSearchSink {
public:
    virtual ~IDiscSearchSink() = default;
    virtual void OnDiscStarted(size_t /*discIndex*/, const std::string& /*indexPath*/) {}
    virtual void OnDiscFailed(size_t /*discIndex*/, const std::string& /*indexPath*/,
                              const std::string& /*error*/) {}
    virtual void OnHit(const SearchResult& hit) = 0;
    virtual void OnProgress(int /*percent*/) {}
};

struct DiscSearchSummary {
    size_t discsSearched = 0;  // indexes that opened and were searched
    size_t discsFailed = 0;    // indexes that could not be opened (skipped)
    uint64_t hits = 0;
};

DiscSearchSummary SearchDiscs(const std::vector<std::string>& indexPaths,
                              const DiscSearchOptions& options, IDiscSearchSink& sink);

// A search target: a library directory stands for every disc in it, in library
// order; anything else is taken as one index file.
struct SearchTarget {
    std::string path;
    bool isLibrary = false;
    bool listed = false;  // a library directory that could be read
    std::vector<std::string> indexPaths;
};
std::vector<SearchTarget> ExpandSearchTargets(const std::vector<std::string>& paths);

}  // namespace orb
