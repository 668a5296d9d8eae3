// CIndexReader: one open disc index with its header, cover picture, annotation
// table and search state. Several exist at once, each used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "index/index_format.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/picture.h"

namespace orb {

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
    // The full texts when they do not fit the 260-byte fields (deep paths).
    std::string fullIndexPath;
    std::string fullParentPath;
};

// Reads the header of an index file without a reader: 1 when the file opened and
// began with the magic, else 0.
int ProbeIndexHeader(const std::string& path, IndexHeader& header);

class CIndexReader {
public:
    CIndexReader();
    ~CIndexReader();
    CIndexReader(const CIndexReader&) = delete;
    CIndexReader& operator=(const CIndexReader&) = delete;

    // --- opening and walking ---
    int Open(const std::string& path, OpenMode mode);
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

    // --- remark, cover and annotations ---
    int ReadRemark(std::string& text);
    int WriteRemark(std::string_view text);
    int ReplaceCover(const std::string& picturePath);
    const std::string* FindAnnotation(int32_t id) const;
    void SetAnnotation(int32_t id, std::string_view text);
    const std::vector<Annotation>& Annotations() const { return annotations_; }
    bool AnnotationsChanged() const { return annotationsChanged_; }

    const IPicture* Picture() const { return picture_.get(); }
    std::string CoverTempPath() const { return coverTemp_; }
    const std::string& LastError() const { return lastError_; }

    // --- search (implemented by the search engine) ---
    void SetSearchOptions(IMessageTarget* notify, std::string_view typeFilter, uint8_t options);
    std::thread* BeginSearch(std::string_view keyword);
    void StopSearch();
    bool IsSearching() const { return searchRunning_.load() != 0; }

private:
    bool ReadAt(uint64_t offset, void* buf, size_t n);
    void InvalidateCache() { cacheLength_ = 0; }
    int ReadEntryAt(int32_t link, int32_t mustExceed, IndexEntry& out);
    bool WriteHeader();
    bool WriteCover(uint64_t at);
    void LoadAnnotations();
    bool SaveAnnotations();
    void SetError(const char* text) { lastError_ = text; }
    // Stops a running search and waits for its worker before the file goes away.
    void EndSearchForClose();

    // Search worker.
    static void SearchThreadProc(CIndexReader* self);
    void SearchDirectory(const IndexEntry* parent, const std::string& displayPath,
                         uint32_t& visited, uint64_t& budget);
    bool MatchEntry(const IndexEntry& entry, int32_t id, std::string& annotation) const;

    bool open_ = false;
    int fd_ = -1;
    OpenMode mode_ = OpenMode::ReadShareAll;
    std::string path_;
    uint64_t fileSize_ = 0;
    IndexHeader header_;
    std::string coverTemp_;
    std::unique_ptr<IPicture> picture_;
    std::vector<Annotation> annotations_;
    bool annotationsChanged_ = false;
    std::string lastError_;

    // A read cache over the file, so a walk costs memory copies, not system calls.
    std::vector<unsigned char> cache_;
    uint64_t cacheOffset_ = 0;
    size_t cacheLength_ = 0;

    // Search state.
    std::string searchKeyword_;
    std::vector<std::string> searchTypes_;
    uint8_t searchOptions_ = 0;
    IMessageTarget* searchNotify_ = nullptr;
    std::thread searchThread_;
    std::atomic<int> searchRunning_{0};
    std::atomic<int> searchAbort_{0};
};

}  // namespace orb
