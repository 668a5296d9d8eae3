// SPDX-License-Identifier: GPL-3.0-or-later
// Files kept on more than one disc of a library: the same name and size on two or
// more discs, or (for large files) the same size alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace orb {

struct DupeOptions {
    bool sizeOnly = false;  // ignore names: files of one size are copies
    uint64_t minSize = 1;   // smaller files are left out (empty files waste nothing)
};

struct DupeCopy {
    uint32_t disc = 0;    // index into DupeResult::discs
    std::string dirPath;  // stored display path of its directory, "LABEL:\dir\"
    std::string name;     // stored name
    FILETIME writeTime;
    int32_t entryId = 0;
};

struct DupeGroup {
    uint64_t size = 0;
    std::vector<DupeCopy> copies;  // in library walk order
    // Space the extra copies take: size x (copies - 1).
    uint64_t Wasted() const { return copies.empty() ? 0 : size * (copies.size() - 1); }
};

struct DupeDisc {
    std::string indexPath;  // host path of the index file
    std::string label;      // stored volume label
};

struct DupeResult {
    std::vector<DupeDisc> discs;
    std::vector<DupeGroup> groups;    // most wasted space first
    std::vector<std::string> failed;  // indexes that could not be opened
    uint64_t filesSeen = 0;
    uint64_t candidates = 0;  // entries that passed the first pass's filter
    bool stopped = false;
};

// Finds the groups among the given index files. Two passes over the indexes: the
// first only marks in a fixed-size filter the keys that occur on more than one
// disc, the second keeps the entries whose key was marked; so memory grows with
// the candidates, not with the entries. progress(discsDone, discsTotal) is called
// after each disc of each pass (2 x discs in all); stop is polled per entry.
DupeResult FindDuplicates(const std::vector<std::string>& indexPaths, const DupeOptions& options,
                          const std::function<void(size_t, size_t)>& progress = {},
                          const std::atomic<bool>* stop = nullptr);

// Orders groups by wasted space, largest first; ties by size, then name.
void SortGroupsByWaste(std::vector<DupeGroup>& groups);

}  // namespace orb
