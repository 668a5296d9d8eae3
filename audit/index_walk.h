// SPDX-License-Identifier: GPL-3.0-or-later
// A whole-index walk without recursion: a damaged index with deeply nested
// directories cannot exhaust the stack, and the walk is bounded by the records
// the file could hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_reader.h"

namespace orb {

// Visits every entry depth first, each directory right before its contents, in
// index order. dirPath is the stored path of the entry's directory relative to
// the disc root, each directory followed by '\' ("" at the top level). visit
// returns false to end the walk. False when the walk was ended early (by visit,
// stop, or the bound).
bool WalkIndex(
    CIndexReader& reader,
    const std::function<bool(const IndexEntry& e, int32_t id, const std::string& dirPath)>& visit,
    const std::atomic<bool>* stop = nullptr);

// One directory's entries with their ids, in index order (parent null: the top
// level); at most limit entries.
struct IdentifiedEntry {
    IndexEntry entry;
    int32_t id = 0;
};
std::vector<IdentifiedEntry> ListIndexLevel(CIndexReader& reader, const IndexEntry* parent,
                                            uint64_t limit);

// One record as it lies in the file; the name points into the reader's buffer and
// is valid until the next call.
struct FlatRecord {
    int32_t id = 0;  // the id a tree walk gives the same entry
    uint32_t flags = 0;
    uint64_t size = 0;
    FILETIME writeTime;
    std::string_view name;
    // With directories tracked: the directory holding the entry (kFlatTopLevel,
    // or a number for DirPath), or kFlatUnreached when no link leads to it.
    int32_t dir = 0;
    bool IsDirectory() const { return (flags & kEntryDirectory) != 0; }
};

constexpr int32_t kFlatTopLevel = -1;
constexpr int32_t kFlatUnreached = -2;

// Every record of an index in file order, without following links, read in large
// blocks: far cheaper than a tree walk, for passes that need each entry but not
// its path. A damaged file may hold records no walk reaches or hide some; Whole
// tells, after the last record, whether the records lay back to back from the
// first up to the remark in the number the header gives, which is what the
// writers make: only then is the scan known to cover every entry.
class CFlatRecords {
public:
    CFlatRecords() = default;
    ~CFlatRecords();
    CFlatRecords(const CFlatRecords&) = delete;
    CFlatRecords& operator=(const CFlatRecords&) = delete;

    // False when the file cannot be read or is no index.
    bool Open(const std::string& path);
    const IndexHeader& Header() const { return header_; }
    // The next record; false at the end of the records or where they stop making sense.
    bool Next(FlatRecord& out);
    bool Whole() const { return whole_; }

    // Before the first Next: reads all records at once (names then stay valid
    // until the reader goes) and follows the links as they pass, so that each
    // record knows its directory. Links only lead forward, so a link is always
    // met before the record it leads to. False, and nothing tracked, when the
    // records are too many to hold.
    bool TrackDirectories();
    // The stored path of a directory from the top, each name followed by '\',
    // as the tree walk gives it; "" for kFlatTopLevel.
    std::string DirPath(int32_t dir) const;

private:
    bool Fill(size_t need);
    void Link(int32_t from, int32_t to, int32_t dir);

    struct Slot {
        int32_t at = -1;  // the record offset the link leads to
        int32_t dir = kFlatUnreached;
    };
    struct Dir {
        int32_t parent;
        std::string_view name;
    };
    // One slot per 29 bytes of records: no two records start in one.
    std::vector<Slot> slots_;
    std::vector<Dir> dirs_;
    bool tracking_ = false;

    int fd_ = -1;
    IndexHeader header_;
    void Allocate(size_t n) {
        buf_.reset(new unsigned char[n]);  // not zeroed: every byte used is read first
        bufSize_ = n;
    }
    std::unique_ptr<unsigned char[]> buf_;
    size_t bufSize_ = 0;
    size_t pos_ = 0, len_ = 0;  // unread bytes are buf_[pos_, len_)
    uint64_t bufAt_ = 0;        // file offset of buf_[0]
    uint64_t recordsEnd_ = 0;   // where the remark begins
    uint64_t count_ = 0;
    bool whole_ = false;
    bool done_ = true;
};

}  // namespace orb
