// SPDX-License-Identifier: GPL-3.0-or-later
// CIndexReader: one open disc index with its header, cover picture, annotation
// table and search state. Several exist at once, each used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "index/index_format.h"
#include "platform/file_stamp.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/picture.h"

namespace orb {

class CPinyinMatcher;

struct Annotation {
    int32_t id = 0;
    std::string text;  // stored bytes; its size is the record's length
};

// Search options (the search pane builds them from its check boxes).
constexpr uint8_t SF_FILES = 0x01;
constexpr uint8_t SF_DIRECTORIES = 0x02;
constexpr uint8_t SF_ANNOTATIONS = 0x04;
constexpr uint8_t SF_MATCHCASE = 0x08;
constexpr uint8_t SF_WHOLENAME = 0x10;
// A keyword of ASCII letters also finds names by the pinyin of their Chinese
// characters (search/pinyin_match.h).
constexpr uint8_t SF_PINYIN = 0x20;

// WM_SEARCH_EVENT codes.
constexpr WPARAM SEARCH_STARTED = 1;
constexpr WPARAM SEARCH_FINISHED = 2;
constexpr WPARAM SEARCH_PROGRESS = 3;
constexpr WPARAM SEARCH_FOUND = 4;

// One hit, passed by pointer with SEARCH_FOUND; valid only during that call.
struct SearchResult {
    char indexPath[kMaxPath] = {};
    char parentPath[kMaxPath] = {};
    IndexEntry entry;
    std::string annotation;
    // The full texts, always set: the fixed fields above are cut to 259 bytes.
    std::string fullIndexPath;
    std::string fullParentPath;
};

// Reads the header of an index file without a reader: 1 when the file opened and
// began with the magic, else 0.
int ProbeIndexHeader(const std::string& path, IndexHeader& header);
// Two headers of one disc: what the program identifies a disc by, plus where its
// records end (a rewrite of remark or cover never moves that).
bool SameDisc(const IndexHeader& a, const IndexHeader& b);

class CIndexReader {
public:
    CIndexReader();
    ~CIndexReader();
    CIndexReader(const CIndexReader&) = delete;
    CIndexReader& operator=(const CIndexReader&) = delete;

    // --- opening and walking ---
    int Open(const std::string& path, OpenMode mode);
    // Opens with mode, or, when another window or program holds the index with
    // writing denied, read-only: the index can then be shown, and its remark and
    // cover changes say that it is open elsewhere.
    int OpenPreferWrite(const std::string& path, OpenMode mode);
    bool OpenElsewhere() const { return open_ && openElsewhere_; }
    // Closes the index; writes a changed annotation table to the companion. Returns
    // false when that write failed (the last error text then says so).
    bool Close();
    int IsOpen() const { return open_ ? 1 : 0; }
    std::string GetFilePath() const { return open_ ? path_ : std::string(); }
    int GetVolumeLabel(std::string& storedLabel) const;
    const IndexHeader& Header() const { return header_; }
    uint64_t GetCapacity() const { return header_.capacity; }
    uint32_t GetFileCount() const { return header_.fileCount; }
    uint32_t GetDirectoryCount() const { return header_.dirCount; }

    int ReadFirstEntry(const IndexEntry* parent, IndexEntry& out);
    int ReadNextEntry(const IndexEntry& current, IndexEntry& out);
    int HasSubdirectory(const IndexEntry& directory);
    int DriveHoldsDisc(const std::string& driveRoot) const;

    // The most records the open file could hold: a bound for any walk.
    uint64_t MaxEntryCount() const;
    // Reads the whole file into memory when it has at most limit bytes, so that a
    // walk reads nothing more: its bytes (size of them in size), valid while only
    // entries are read, until the index is opened again, closed or written;
    // null otherwise.
    const unsigned char* HoldWholeFile(uint64_t limit, size_t& size);

    // --- remark, cover and annotations ---
    int ReadRemark(std::string& text);
    int WriteRemark(std::string_view text);
    int ReplaceCover(const std::string& picturePath);
    const std::string* FindAnnotation(int32_t id) const;
    void SetAnnotation(int32_t id, std::string_view text);
    const std::vector<Annotation>& Annotations() const { return annotations_; }
    // Rereads the companion when it is no longer the file last read or written here
    // (another window or machine saved notes; a share sends no notice of that),
    // keeping this reader's unsaved edits on top. True when it was reread.
    bool RefreshAnnotations();
    bool AnnotationsChanged() const { return annotationsChanged_; }
    // Writes the changed annotations now and keeps the index open (SaveAnnotations).
    bool SaveAnnotationsNow();
    // Writes the changed annotations now. Under the disc's lock file the companion
    // is read again and only the entries changed here since the last read are
    // applied to what it holds, so notes saved meanwhile by another window or
    // machine are kept; the table then holds the merged result. False, with the
    // last error text set and the changes kept, when it cannot be written or when
    // the index is no longer at its path (IndexMoved then says so).
    bool SaveAnnotations();
    // The last save found the index renamed, moved or deleted by someone else;
    // nothing was written. MovedIndexPath is where it went, when that is known
    // (empty for a deleted one).
    bool IndexMoved() const { return indexMoved_; }
    const std::string& MovedIndexPath() const { return movedIndexPath_; }
    // Saves the changed annotations as the companion of another index of the same
    // disc (the moved index, or one the user picked), merged the same way.
    bool SaveAnnotationsBeside(const std::string& indexPath);
    // Saves the changed annotations into a file the user chose, in the companion's
    // layout and merged with what that file holds. The caller makes sure the name
    // is no other disc's companion.
    bool SaveAnnotationsAs(const std::string& file);

    // The cover's copy and picture are made on the first call of either (or of a
    // remark or cover change), not by Open: a search opens many indexes and never
    // looks at a cover. The copy is an anonymous file that ends with the process;
    // CoverTempPath names it while the index is open.
    const IPicture* Picture() const;
    std::string CoverTempPath() const;
    const std::string& LastError() const { return lastError_; }

    // --- search (implemented by the search engine, search/search_engine.cpp) ---
    // The worker searches a private copy of the open index (its own descriptor,
    // header and annotation table), so the owner may close, reopen or destroy this
    // reader at any time: a running worker is then stopped and left to end on its
    // own, sending nothing more, instead of being waited for. Waiting could deadlock,
    // because the worker may be blocked in a Send to the very thread that closes.
    // The notify target must outlive any Send already in progress.
    void SetSearchOptions(IMessageTarget* notify, std::string_view typeFilter, uint8_t options);
    // Starts the worker; nullptr (and no worker) when no index is open or this
    // reader's previous search has not finished yet.
    std::thread* BeginSearch(std::string_view keyword);
    // Raises the abort flag of a search that is running or about to start; returns
    // at once.
    void StopSearch();
    // True from BeginSearch until just before SEARCH_FINISHED is posted.
    bool IsSearching() const;
    // The abort flag of the latest search (kept after it finished, until the next
    // BeginSearch or Open), and clearing it.
    bool SearchAborted() const;
    void ClearSearchAbort();
    // When on, a search whose keyword provably lies in no name and no annotation of
    // the index ends at once with a single progress of 100 instead of walking every
    // entry; hits are the same either way. Off by default: the walk then reports
    // progress entry by entry.
    void SetSearchShortcut(bool on) { searchShortcut_ = on; }
    // Matching single entries on the calling thread, for a caller that already
    // knows which entries may match (the library name index): PrepareEntryMatch
    // takes the keyword as BeginSearch does, under the options of
    // SetSearchOptions; MatchEntryAt reads the record at recordOffset and runs the
    // search's own test on it (1: a hit; 0: no hit or no record there). The
    // annotation pointer stays valid until the annotations change or the index
    // closes. Not while this reader's worker runs.
    void PrepareEntryMatch(std::string_view keyword);
    int MatchEntryAt(int32_t recordOffset, int32_t id, IndexEntry& entry,
                     const std::string*& annotation);
    // The same test on a record the caller already holds in memory (available
    // bytes from its start), e.g. from a mapping of the index file.
    int MatchRecordBytes(const unsigned char* record, size_t available, int32_t recordOffset,
                         int32_t id, IndexEntry& entry, const std::string*& annotation);

private:
    bool ReadAt(uint64_t offset, void* buf, size_t n);
    // n bytes at offset inside the read cache (loaded as needed); null past the end.
    const unsigned char* Peek(uint64_t offset, size_t n) {
        if (offset >= cacheOffset_ && offset + n <= cacheOffset_ + cacheLength_)
            return cache_.get() + (offset - cacheOffset_);
        return Load(offset, n);
    }
    const unsigned char* Load(uint64_t offset, size_t n);
    // Reads the whole file into the cache when it has at most limit bytes, so a
    // search reads it once; false (cache untouched) otherwise.
    bool LoadWholeFile(uint64_t limit);
    void InvalidateCache() { cacheLength_ = 0; }
    int ReadEntryAt(int32_t link, int32_t mustExceed, IndexEntry& out);
    // True when remark and cover lie where the writers put them: after every
    // record, back to back, up to the end of the file.
    bool VariablePartConsistent();
    // Makes the cover's temporary copy and decodes it, once per open.
    void LoadCover() const;
    // The cover bytes as the open file holds them.
    bool ReadCover(std::string& out);
    // Writes a new whole index with the remark and/or cover replaced (null: keep
    // the current one) beside the file and renames it over, then reads on from it.
    int RewriteVariablePart(const std::string_view* remark, const std::string* cover);
    // Follows the index to the file now at its path when that holds the same disc
    // (another window rewrote its remark or cover); false when it is gone or
    // another disc stands there.
    bool FollowReplacedIndex();
    bool ReopenAt(const std::string& path);
    static std::vector<Annotation> ParseAnnotations(const std::string& data);
    void LoadAnnotations();
    // Applies the entries edited here since the companion was last read.
    void ApplyOwnChanges(std::vector<Annotation>& into) const;
    bool MergeAndWriteCompanion(const std::string& companion);
    void SetError(const char* text) { lastError_ = text; }
    // Stops a running search before the file goes away: a finished worker is
    // joined, a running one is told to stop, to send nothing more, and is detached.
    void EndSearchForClose();

    // Search worker. It runs on a private reader made by BeginSearch, which the
    // worker owns and frees when it ends.
    struct SearchControl {
        std::atomic<int> running{0};   // set by BeginSearch, so an early stop is not lost
        std::atomic<int> abort{0};     // a stop was asked for
        std::atomic<int> detached{0};  // the owner is gone: send nothing more
    };
    static void SearchThreadProc(CIndexReader* self);
    // Builds the keyword's fold tables, prefilter and annotation lookup.
    void PrepareMatching();
    // Walks the level below parent (nullptr: the top level) and, depth first, every
    // level below it; displayPath is that level's display path and is restored
    // before returning.
    void SearchDirectory(const IndexEntry* parent, std::string& displayPath, uint64_t& visited,
                         uint64_t& budget);
    bool MatchEntry(const IndexEntry& entry, int32_t id, const std::string*& annotation) const;
    // The byte test: finds where the keyword may stand in the file (all of it held
    // in the cache). False when no name can hold it.
    bool FindKeywordBytes();
    bool NameMayHoldKeyword(const IndexEntry& entry) const;
    void SendSearchProgress();
    LRESULT SendSearchEvent(WPARAM code, LPARAM lParam) const;

    bool open_ = false;
    int fd_ = -1;
    OpenMode mode_ = OpenMode::ReadShareAll;
    std::string path_;
    uint64_t fileSize_ = 0;
    IndexHeader header_;
    // Filled by LoadCover on first use.
    mutable int coverFd_ = -1;
    mutable std::unique_ptr<IPicture> picture_;
    mutable bool coverLoaded_ = false;
    std::vector<Annotation> annotations_;
    bool annotationsChanged_ = false;
    FileStamp companionStamp_;         // the companion as last read or written here
    std::vector<int32_t> changedIds_;  // edited since the companion was last read
    bool indexMoved_ = false;
    std::string movedIndexPath_;
    bool openElsewhere_ = false;
    int openErrno_ = 0;  // why the last open of the file failed
    std::string lastError_;

    // A read cache over the file, so a walk costs memory copies, not system calls.
    std::unique_ptr<unsigned char[]> cache_;  // uninitialised: every byte used is read first
    size_t cacheCapacity_ = 0;
    uint64_t cacheOffset_ = 0;
    size_t cacheLength_ = 0;

    // Search state. The flags live in a block shared by the owner and its worker,
    // so they stay valid for a worker that outlives the owner's index.
    std::string searchKeyword_;
    std::vector<std::string> searchTypes_;
    bool searchAnyType_ = false;  // the type list holds "*"
    uint8_t searchOptions_ = 0;
    IMessageTarget* searchNotify_ = nullptr;
    std::thread searchThread_;
    std::shared_ptr<SearchControl> searchControl_;
    // Worker side: the percentage kept incrementally, the fold table and where the
    // keyword may be folded, and the annotations by id (first record of each id)
    // when the table is too long for a linear scan per entry.
    uint64_t searchTotal_ = 0;
    uint64_t searchPercent_ = 0;
    uint64_t searchPercentRest_ = 0;
    unsigned char searchFold_[256] = {};
    std::vector<unsigned char> searchFoldAt_;
    // A word-at-a-time test for the keyword's first one or two bytes that rules
    // out most names before the character-by-character search.
    struct SearchPrefilter {
        uint64_t k0 = 0, k1 = 0;  // the bytes, repeated in every lane
        uint64_t m0 = 0, m1 = 0;  // 0x20 in every lane where a letter may be folded
        int bytes = 0;            // 0: no prefilter
    };
    SearchPrefilter searchPrefilter_;
    // The pinyin matcher of this search; null when SF_PINYIN is clear or the
    // keyword cannot spell pinyin.
    std::shared_ptr<const CPinyinMatcher> searchPinyin_;
    bool searchShortcut_ = false;
    // File offsets where the keyword's bytes (A-Z folded unless the case must
    // match) occur, ascending; only used when searchByteTest_ is set. A name that
    // holds none of them cannot match.
    bool searchByteTest_ = false;
    std::vector<uint32_t> searchKeywordAt_;
    std::vector<std::pair<int32_t, const std::string*>> searchAnnotationIndex_;
};

}  // namespace orb
