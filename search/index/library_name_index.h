// SPDX-License-Identifier: GPL-3.0-or-later
// A library's name index held open across searches, so a search pays only for its
// posting lists and its candidates, not for opening every disc's files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/folder_changes.h"
#include "search/disc_search.h"

namespace orb {

class CNameSegment;
class CIndexReader;

// Raises the process's soft limit of open files towards its hard limit, so a
// CNameIndex may keep a large library's discs open. For programs to call at
// start; the limit is the whole process's.
void RaiseOpenFileLimit();

// Keeps, per disc, its segment (fixed part and bucket-group table in memory, the
// segment and the index file open) and a reader of the index (its annotations
// and the matcher). Each search first checks that the index and its companion
// are still the files the segment describes (two stats); a disc that changed is
// opened again, and one without a fresh segment answers false so the caller
// walks it. A segment found damaged is closed and declined the same way.
//
// A caller that calls TakeChanges at the start of each search of the library
// spares those stats: a disc whose folder (and every folder above it) and whose
// files themselves reported no change since the files were last looked at, with
// nothing mounted or unmounted meanwhile, is known to be unchanged. Not on a
// file system whose changes may go unreported (network, cluster, FUSE, overlay)
// or for discs whose files are opened for each search: those are looked at every
// time.
//
// Meant to live as long as the library is shown and to answer many searches
// (type-ahead). One object serves several threads: different discs are searched
// at once, searches of one disc take turns. Each open disc holds three file
// descriptors. Past three quarters of the process's open-file limit (or
// maxOpenDiscs discs), a disc keeps only what is in memory and opens its two
// files for each search; past kMaxClosedDiscs more, discs are opened whole for
// each search, as SearchDiscThroughIndex does.
class CNameIndex {
public:
    static constexpr size_t kFromLimit = SIZE_MAX;
    static constexpr size_t kMaxClosedDiscs = 20000;
    // Discs whose lists ReadAhead reads at once, for callers that take discs in
    // runs: enough to spread a system call's cost, few enough for a thread's
    // first hits to come soon.
    static constexpr size_t kReadAheadDiscs = 16;
    // cacheDir is NameIndexDirectory(library).
    explicit CNameIndex(std::string cacheDir, size_t maxOpenDiscs = kFromLimit);
    ~CNameIndex();
    CNameIndex(const CNameIndex&) = delete;
    CNameIndex& operator=(const CNameIndex&) = delete;

    const std::string& CacheDir() const { return cacheDir_; }

    // Searches one disc as SearchDiscThroughIndex does: every candidate judged by
    // the engine's matcher, onHit given the hits in walk order, false (nothing
    // reported) when the keyword cannot be narrowed or the disc has no fresh
    // segment.
    bool SearchDisc(const std::string& indexPath, const DiscSearchOptions& options,
                    const std::function<void(const SearchResult&)>& onHit);

    // Reads what these discs' next search with these options reads (its lists,
    // then its candidate blocks' records) in two batches, so that search makes no
    // system call for them. For a caller that searches a run of discs in turn and
    // takes changes; only discs vouched for since an earlier search are read
    // ahead, and discs busy in another search are skipped.
    void ReadAhead(const std::string* indexPaths, size_t count, const DiscSearchOptions& options);
    // Lets go of what was read ahead for discs that will not be searched after all
    // (a search cancelled mid-run).
    void ForgetAhead(const std::string* indexPaths, size_t count);

    // Takes in the changes the library's folders reported: call it at the start of
    // each search of the library, before any SearchDisc of that search. Until it
    // is first called, every disc's files are looked at by every search.
    void TakeChanges();

    // Opens the segments of these discs ahead of the first search; how many are
    // fresh.
    size_t OpenDiscs(const std::vector<std::string>& indexPaths);
    // Closes what is kept of every disc but these (those that left the library).
    void KeepOnly(const std::vector<std::string>& indexPaths);

    // Counts since construction, for benchmarks and --stats.
    struct Counts {
        uint64_t answered = 0;  // disc searches the index answered
        uint64_t declined = 0;  // disc searches left to the walk
        uint64_t opened = 0;    // segments opened (again, after a change)
        uint64_t looked = 0;    // disc searches that looked at the disc's files
        uint64_t keys = 0, ahead = 0, blocks = 0, records = 0, hits = 0;  // see LastCost
    };
    Counts GetCounts() const;
    // What the discs hold of what was read ahead for them (tests: none once every
    // search has ended).
    size_t BytesHeldAhead();

private:
    struct Disc;
    std::shared_ptr<Disc> DiscOf(const std::string& indexPath);
    bool Reopen(Disc& disc, const std::string& indexPath);
    // Whether the disc's folder vouches for its files since they were last looked at.
    bool Vouched(const Disc& disc) const;
    // Makes sure the disc's segment describes its files as they are now; false
    // when it has no fresh segment.
    bool LookAt(Disc& disc, const std::string& indexPath);

    const std::string cacheDir_;
    size_t maxOpen_ = 0;
    mutable std::mutex mutex_;  // guards discs_, open_ and counts_
    std::unordered_map<std::string, std::shared_ptr<Disc>> discs_;
    size_t open_ = 0;    // discs whose files are kept open
    size_t closed_ = 0;  // discs that keep only what is in memory
    Counts counts_;
    CFolderChanges changes_;
    std::atomic<bool> takesChanges_{false};
};

}  // namespace orb
