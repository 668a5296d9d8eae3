// SPDX-License-Identifier: GPL-3.0-or-later
// The library name index: one segment per disc, kept under
// $XDG_CACHE_HOME/kelvane-orb/ and keyed by the library's path, that maps name and
// annotation keys to the disc's entries. It only narrows a search: every
// candidate is judged by the search engine's own matcher, so a search through
// it gives exactly the hits of the walk.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "index/index_reader.h"
#include "platform/batch_read.h"
#include "search/disc_search.h"

namespace orb {

// The cache folder of a library (not created).
std::string NameIndexDirectory(const std::string& libraryDir);

// The keys a keyword is looked up by: every trigram of its single bytes and
// every byte pair that starts with a high byte. Empty when the index cannot
// narrow the keyword (one or two single-byte characters): walk instead.
std::vector<uint32_t> NameIndexKeys(std::string_view storedKeyword);

// Whether a search with these options can be narrowed by the index: false for a
// keyword of one or two single-byte characters (also as pinyin) or one letter.
bool NameIndexCanNarrow(const DiscSearchOptions& options);

// One disc's segment, read in place (a few hundred bytes per search) beside its
// index file, from which names are read (they are not copied into the segment).
class CNameSegment {
public:
    ~CNameSegment();
    CNameSegment(const CNameSegment&) = delete;
    CNameSegment& operator=(const CNameSegment&) = delete;

    // The segment of indexPath when it exists, is well formed and still
    // describes the index (size, modification time, inode, header and the
    // companion's size and time); null otherwise.
    static std::unique_ptr<CNameSegment> OpenFresh(const std::string& cacheDir,
                                                   const std::string& indexPath);

    uint32_t EntryCount() const { return entryCount_; }
    // Its buckets are 1 << BucketBits() (segment_bits::BucketOf).
    uint32_t BucketBits() const { return bucketBits_; }
    // Ordinals (walk order) of the entries that may hold every key, ascending: the
    // entries of every block whose keys include them all.
    std::vector<uint32_t> Candidates(const std::vector<uint32_t>& keys) const;
    // The blocks (of 128 entries in walk order) holding every key of all, and
    // those holding any key of any, ascending; false when the segment is damaged
    // there.
    bool CandidateBlocks(const std::vector<uint32_t>& all, const std::vector<uint32_t>& any,
                         std::vector<uint32_t>& out) const;
    // The same with, in place of any, the blocks holding a key of first and a key
    // of last (pinyin: see PinyinQueryEnds); last empty: any key of first.
    // Those blocks alone also go to endBlocks when given.
    bool CandidateBlocks(const std::vector<uint32_t>& all, const std::vector<uint32_t>& first,
                         const std::vector<uint32_t>& last, std::vector<uint32_t>& out,
                         std::vector<uint32_t>* endBlocks = nullptr) const;
    // The records of a block's entries, read from the index file into buffer:
    // each with its ordinal, record offset, and place and length in buffer.
    // False when the segment or the file is damaged there.
    struct BlockRecord {
        uint32_t ordinal;
        uint32_t offset;
        size_t at;
        size_t length;
    };
    bool ReadBlock(uint32_t block, std::vector<BlockRecord>& records, std::string& buffer) const;
    // The same for a run of consecutive blocks from block on, in one read when
    // the records lie in walk order.
    bool ReadBlocks(uint32_t block, uint32_t blocks, std::vector<BlockRecord>& records,
                    std::string& buffer) const;
    // The display path of an entry's directory ("LABEL:\\dir\\").
    bool ParentPath(uint32_t ordinal, std::string& parentPath) const;
    // An entry's record offset in the index file, the display path of its
    // directory and its name (valid until the next call); false when the segment
    // is damaged there.
    bool Entry(uint32_t ordinal, int32_t& recordOffset, std::string& parentPath,
               std::string_view& name) const;
    uint64_t FileSize() const { return size_; }
    // The checksum over everything after the fixed part; it reads the whole
    // segment, so it is checked when the index is refreshed, not by a search.
    bool ChecksumMatches() const;

    // Whether the files at indexPath and beside it are still the ones this segment
    // describes (two stats: the index and its companion). An open segment reads
    // through descriptors, so a replaced or changed index is only seen here.
    bool StillDescribes(const std::string& indexPath) const;
    // Keeps the table of bucket groups and the blocks' starts in memory, so that a
    // key or a run of blocks costs one read; false when they cannot be read.
    bool KeepTables();
    // Lets go of the segment's and the index's descriptors and keeps what is in
    // memory; ReopenFiles takes them again and checks, as StillDescribes does,
    // that they are the files this segment describes (false: open it afresh).
    // A segment cannot search while its files are closed.
    void CloseFiles();
    bool ReopenFiles(const std::string& indexPath);
    // Adds to reads the lists a search with these options reads first (all of its
    // keys' groups, from the kept table), to land in the segment: the next Search
    // takes them from there instead of reading. So many discs' lists are read in
    // one batch (ReadInBatch), after which Landed says which reads came whole.
    void PlanReads(const DiscSearchOptions& options, std::vector<BatchRead>& reads) const;
    void Landed(const std::vector<BatchRead>& reads) const;
    // Then the same search's candidate blocks, worked out from the lists that
    // landed, and reads of their records from the index file, in the runs Search
    // reads them in, to land the same way (LandedRecords).
    void PlanRecordReads(const DiscSearchOptions& options, std::vector<BatchRead>& reads) const;
    void LandedRecords(const std::vector<BatchRead>& reads) const;
    // Lets go of what was planned and brought (Search does, after it).
    void ForgetPlanned() const;
    size_t BytesHeldAhead() const { return plannedBytes_.capacity() + plannedRecords_.capacity(); }
    // Searches the disc through this segment. openReader is called only when some
    // block is a candidate and gives a reader open on the same index, whose
    // annotations are the ones the segment was built with (null: fail). Hits are
    // reported only when every candidate checked out; false (nothing reported)
    // when the keyword cannot be narrowed or the segment is damaged: walk the disc
    // instead. Not on one segment from two threads at once.
    bool Search(const std::string& indexPath, const DiscSearchOptions& options,
                const std::function<CIndexReader*()>& openReader,
                const std::function<void(const SearchResult&)>& onHit) const;
    // What the last Search on this segment cost: lists of keys read (ahead: of
    // them, those PlanReads brought), blocks read, records given to the matcher,
    // hits.
    struct SearchCost {
        uint64_t keys = 0, ahead = 0, blocks = 0, records = 0, hits = 0;
    };
    const SearchCost& LastCost() const { return cost_; }

private:
    CNameSegment() = default;
    bool Check(const unsigned char* fixed);
    bool ReadSegment(uint64_t at, void* buf, size_t n) const;
    bool BlocksOf(uint32_t key, std::vector<uint32_t>& out) const;
    // The bytes at this place of the segment when PlanReads brought them; null
    // otherwise.
    const unsigned char* Planned(uint64_t at, size_t bytes) const;
    // The bits of the lists of key's group, from the kept table (0 without it).
    uint32_t GroupBits(uint32_t key) const;

    bool DescribesIndex(const struct stat& st) const;
    bool CompanionUnchanged(const std::string& indexPath) const;

    int fd_ = -1;      // the segment
    int fileFd_ = -1;  // the index file
    std::string segmentPath_;
    uint64_t segmentIno_ = 0, segmentDev_ = 0;
    size_t size_ = 0;
    uint64_t fileSize_ = 0;
    uint32_t entryCount_ = 0, blockCount_ = 0, dirCount_ = 0, groupCount_ = 0, streamBytes_ = 0;
    uint32_t bucketBits_ = 0;
    uint32_t dirSum_ = 0;
    bool sequential_ = false;
    // Where the sections start in the segment.
    uint64_t blockStarts_ = 0, offsets_ = 0, dirs_ = 0, groups_ = 0, stream_ = 0;
    std::string label_;
    // The identity of the index the segment describes (companion: -1 when none).
    uint64_t idSize_ = 0, idIno_ = 0, idDev_ = 0;
    int64_t idMtimeNs_ = 0, idCompanionSize_ = -1, idCompanionMtimeNs_ = -1;
    std::vector<unsigned char> groupTable_;       // empty unless kept
    std::vector<unsigned char> blockStartTable_;  // empty unless kept
    mutable SearchCost cost_;
    // Read on demand.
    mutable std::vector<unsigned char> groupBuffer_;
    mutable std::vector<unsigned char> dirTable_;
    mutable std::unordered_map<uint32_t, std::string> dirNames_;
    mutable std::string entryBuffer_;
    // What PlanReads brought, for the next Search only.
    struct PlannedRead {
        uint64_t at;
        size_t bytes, into, read;
        bool whole;
    };
    mutable std::vector<PlannedRead> planned_;
    mutable std::vector<unsigned char> plannedBytes_;
    // What PlanRecordReads worked out and brought, for the next Search only.
    struct PlannedCandidates {
        bool made = false;
        std::string keyword;
        uint8_t flags = 0;
        std::vector<uint32_t> blocks, pinyinBlocks;
        SearchCost cost;  // of working them out
    };
    struct PlannedRun : PlannedRead {
        uint32_t block, blocks;
    };
    // Reads of what was planned into bytes (total long), and then which came whole.
    template <typename Item>
    static void AddReads(int fd, std::vector<Item>& planned, size_t total,
                         std::vector<unsigned char>& bytes, std::vector<BatchRead>& reads);
    template <typename Item>
    static void MarkWhole(std::vector<Item>& planned, const std::vector<BatchRead>& reads);
    mutable PlannedCandidates plannedCandidates_;
    mutable std::vector<PlannedRun> plannedRuns_;
    mutable std::vector<unsigned char> plannedRecords_;
};

// The segment file of an index (named by its device and inode, so a disc that is
// renamed or moved inside the library keeps its segment); empty when the index
// cannot be looked at.
std::string NameSegmentPath(const std::string& cacheDir, const std::string& indexPath);

// Writes the segment of one index (crash-safe). False with a message when the
// index cannot be read or the segment not written.
bool BuildNameSegment(const std::string& cacheDir, const std::string& indexPath,
                      std::string& error);

struct NameIndexRefresh {
    size_t discs = 0;    // discs of the library
    size_t built = 0;    // segments written
    size_t fresh = 0;    // segments that were still fresh
    size_t failed = 0;   // discs whose segment could not be built
    size_t removed = 0;  // segments of discs no longer in the library
    uint64_t bytes = 0;  // size of every segment of the library
};

// Brings the index of a library up to date: builds the segment of every disc
// whose segment is missing, stale or damaged (all of them with rebuild), removes
// segments no disc uses any more. Stops early when abort becomes non-zero.
NameIndexRefresh RefreshNameIndex(const std::string& libraryDir, bool rebuild,
                                  const std::atomic<int>* abort = nullptr);

// Searches one disc through its segment: every candidate is read from the index
// file and judged by the engine's matcher; onHit gets the hits in walk order.
// False (nothing reported) when the keyword cannot be narrowed or the segment is
// not fresh: the caller walks the disc instead. reader is the caller's, reused
// from disc to disc. Each call opens the disc's files; for many searches of one
// library, CNameIndex (library_name_index.h) keeps them open.
bool SearchDiscThroughIndex(const std::string& cacheDir, const std::string& indexPath,
                            const DiscSearchOptions& options, CIndexReader& reader,
                            const std::function<void(const SearchResult&)>& onHit);

}  // namespace orb
