// The search engine: the search operations of CIndexReader. BeginSearch hands a
// private copy of the open index to a worker thread, which walks it depth first
// and reports hits, progress and its end to the notify target.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "index/index_reader.h"
#include "platform/text.h"

namespace orb {

namespace {

// Up to this many annotations a linear scan per entry is cheapest; longer tables
// get a sorted index so a hostile companion cannot make the walk quadratic.
constexpr size_t kAnnotationScanLimit = 8;
constexpr int kBelowNormalNiceStep = 4;

// Below-normal priority: the nice value of the calling thread only.
void LowerThisThreadPriority() {
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return;
    ::setpriority(PRIO_PROCESS, tid, std::min(current + kBelowNormalNiceStep, 19));
}

// Copies n bytes from src to dst folding A-Z to a-z; every byte of a multi-byte
// character is copied unchanged.
void FoldAZ(const char* src, size_t n, char* dst) {
    const char* end = src + n;
    while (src < end) {
        unsigned char c = static_cast<unsigned char>(*src);
        if (c < 0x80) {
            *dst++ = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++src;
        } else {
            size_t k = StoredCharLength(src, end);
            std::memcpy(dst, src, k);
            dst += k;
            src += k;
        }
    }
}

}  // namespace

void CIndexReader::SetSearchOptions(IMessageTarget* notify, std::string_view typeFilter,
                                    uint8_t options) {
    searchNotify_ = notify;
    searchOptions_ = options;
    searchTypes_.clear();
    searchAnyType_ = false;
    // Cut at every '|'; pieces are neither trimmed nor checked, empty ones are kept.
    size_t start = 0;
    for (;;) {
        size_t bar = typeFilter.find('|', start);
        std::string_view piece = typeFilter.substr(
            start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        searchTypes_.push_back(LowerAZCopy(piece));
        if (searchTypes_.back() == "*") searchAnyType_ = true;
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
}

std::thread* CIndexReader::BeginSearch(std::string_view keyword) {
    if (!open_ || IsSearching()) return nullptr;
    // A previous worker that got this far has posted its end; joining it is quick.
    if (searchThread_.joinable()) searchThread_.join();

    searchKeyword_.assign(keyword);
    if (!(searchOptions_ & SF_MATCHCASE)) LowerAZInPlace(searchKeyword_);
    // A fresh block per search: a detached earlier worker keeps its own. Running is
    // set here rather than by the worker, so a stop before the worker's first step
    // still counts.
    auto control = std::make_shared<SearchControl>();
    control->running.store(1);
    searchControl_ = control;

    auto failed = [&]() -> std::thread* {
        control->running.store(0);
        if (searchNotify_) searchNotify_->Post(WM_SEARCH_EVENT, SEARCH_FINISHED, 0);
        return nullptr;
    };

    int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return failed();
    auto walker = std::make_unique<CIndexReader>();
    walker->open_ = true;
    walker->fd_ = fd;
    walker->mode_ = OpenMode::ReadShareAll;
    walker->path_ = path_;
    walker->fileSize_ = fileSize_;
    walker->header_ = header_;
    walker->annotations_ = annotations_;
    walker->searchKeyword_ = searchKeyword_;
    walker->searchTypes_ = searchTypes_;
    walker->searchAnyType_ = searchAnyType_;
    walker->searchOptions_ = searchOptions_;
    walker->searchNotify_ = searchNotify_;
    walker->searchControl_ = control;
    try {
        searchThread_ = std::thread([w = std::move(walker)] { SearchThreadProc(w.get()); });
    } catch (const std::system_error&) {
        return failed();
    }
    return &searchThread_;
}

LRESULT CIndexReader::SendSearchEvent(WPARAM code, LPARAM lParam) const {
    if (!searchNotify_ || searchControl_->detached.load(std::memory_order_relaxed)) return 0;
    return searchNotify_->Send(WM_SEARCH_EVENT, code, lParam);
}

void CIndexReader::SendSearchProgress(uint64_t visited) const {
    // Counts of a damaged header may be 0 or too small: never divide by zero, never
    // report more than 100.
    uint64_t percent = searchTotal_ ? visited * 100 / searchTotal_ : 100;
    SendSearchEvent(SEARCH_PROGRESS, static_cast<LPARAM>(std::min<uint64_t>(percent, 100)));
}

void CIndexReader::SearchThreadProc(CIndexReader* self) {
    LowerThisThreadPriority();
    SearchControl& control = *self->searchControl_;
    self->SendSearchEvent(SEARCH_STARTED, 0);

    if (self->annotations_.size() > kAnnotationScanLimit) {
        auto& index = self->searchAnnotationIndex_;
        index.reserve(self->annotations_.size());
        for (const Annotation& a : self->annotations_) index.emplace_back(a.id, &a.text);
        // Stable, so the first record of an id stays first, as FindAnnotation has it.
        std::stable_sort(index.begin(), index.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    self->searchTotal_ = uint64_t{self->header_.fileCount} + uint64_t{self->header_.dirCount};

    std::string path;
    self->GetVolumeLabel(path);
    path += ":\\";
    uint64_t visited = 0;
    uint64_t budget = self->MaxEntryCount();
    if (!control.abort.load()) self->SearchDirectory(nullptr, path, visited, budget);

    IMessageTarget* notify = self->searchNotify_;
    bool detached = control.detached.load() != 0;
    control.running.store(0);
    if (notify && !detached) notify->Post(WM_SEARCH_EVENT, SEARCH_FINISHED, 0);
}

void CIndexReader::SearchDirectory(const IndexEntry* parent, std::string& displayPath,
                                   uint64_t& visited, uint64_t& budget) {
    const SearchControl& control = *searchControl_;
    const size_t basePathLength = displayPath.size();
    // The directories whose contents are being walked, innermost last. Only the
    // links and the path length are kept, so a deep (or hostile) index costs a few
    // bytes per level and no stack.
    struct OpenLevel {
        int32_t nextSibling;
        int32_t recordOffset;
        size_t pathLength;
    };
    std::vector<OpenLevel> levels;
    IndexEntry entry;
    IndexEntry links;  // carries a finished entry's links to ReadNextEntry
    SearchResult result;

    if (!ReadFirstEntry(parent, entry)) return;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    bool more = true;
    while (more && budget > 0) {
        --budget;
        const std::string* annotation = nullptr;
        if (MatchEntry(entry, id, annotation)) {
            CopyToFixed(result.indexPath, sizeof(result.indexPath), path_);
            CopyToFixed(result.parentPath, sizeof(result.parentPath), displayPath);
            result.fullIndexPath = path_;
            result.fullParentPath = displayPath;
            result.entry = entry;
            if (annotation)
                result.annotation = *annotation;
            else
                result.annotation.clear();
            SendSearchEvent(SEARCH_FOUND, reinterpret_cast<LPARAM>(&result));
        }
        ++visited;
        SendSearchProgress(visited);

        if (entry.IsDirectory()) {
            OpenLevel level{entry.nextSibling, entry.recordOffset, displayPath.size()};
            int32_t childId = entry.firstChild;
            displayPath.append(entry.Name());
            displayPath += '\\';
            if (ReadFirstEntry(&entry, entry)) {
                levels.push_back(level);
                id = childId;
                continue;
            }
            displayPath.resize(level.pathLength);
        }
        // The entry and its whole subtree are done: on to the next sibling, leaving
        // every level that has none. A stop is looked at only here.
        links.nextSibling = entry.nextSibling;
        links.recordOffset = entry.recordOffset;
        for (;;) {
            if (control.abort.load(std::memory_order_relaxed)) {
                more = false;
                break;
            }
            if (ReadNextEntry(links, entry)) {
                id = links.nextSibling;
                break;
            }
            if (levels.empty()) {
                more = false;
                break;
            }
            links.nextSibling = levels.back().nextSibling;
            links.recordOffset = levels.back().recordOffset;
            displayPath.resize(levels.back().pathLength);
            levels.pop_back();
        }
    }
    displayPath.resize(basePathLength);
}

bool CIndexReader::MatchEntry(const IndexEntry& entry, int32_t id,
                              const std::string*& annotation) const {
    const bool matchCase = (searchOptions_ & SF_MATCHCASE) != 0;
    const bool wholeName = (searchOptions_ & SF_WHOLENAME) != 0;
    const std::string_view keyword = searchKeyword_;
    const std::string_view name = entry.Name();
    char folded[kMaxPath];
    bool hit = false;

    if (entry.IsDirectory()) {
        if (searchOptions_ & SF_DIRECTORIES) {
            std::string_view text = name;
            if (!matchCase) {
                FoldAZ(name.data(), name.size(), folded);
                text = std::string_view(folded, name.size());
            }
            // Byte-wise: a match may start on the second byte of a character.
            hit = wholeName ? text == keyword : FindBytes(text, keyword) != std::string_view::npos;
        }
    } else if (searchOptions_ & SF_FILES) {
        // Base and extension split at the last dot; the keyword is never looked for
        // in the extension.
        const size_t dot = name.rfind('.');
        const bool hasDot = dot != std::string_view::npos;
        const size_t baseLength = hasDot ? dot : name.size();
        std::string_view base = name.substr(0, baseLength);
        if (!matchCase) {
            FoldAZ(base.data(), base.size(), folded);
            base = std::string_view(folded, base.size());
        }
        bool nameMatches =
            wholeName ? base == keyword : FindChars(base, keyword) != std::string_view::npos;
        if (nameMatches) {
            if (searchAnyType_) {
                hit = true;
            } else {
                std::string_view ext = hasDot ? name.substr(dot + 1) : std::string_view();
                char extFolded[kMaxPath];
                FoldAZ(ext.data(), ext.size(), extFolded);
                ext = std::string_view(extFolded, ext.size());
                hit =
                    std::find(searchTypes_.begin(), searchTypes_.end(), ext) != searchTypes_.end();
            }
        }
    }

    // Looked up for every entry: a hit carries its annotation even when found by name.
    if (searchAnnotationIndex_.empty()) {
        annotation = FindAnnotation(id);
    } else {
        auto it = std::lower_bound(searchAnnotationIndex_.begin(), searchAnnotationIndex_.end(), id,
                                   [](const auto& a, int32_t v) { return a.first < v; });
        annotation = it != searchAnnotationIndex_.end() && it->first == id ? it->second : nullptr;
    }
    if (!hit && (searchOptions_ & SF_ANNOTATIONS) && annotation && !annotation->empty()) {
        std::string_view text = *annotation;
        std::string copy;
        if (!matchCase) {
            copy = LowerAZCopy(text);
            text = copy;
        }
        hit = wholeName ? text == keyword : FindBytes(text, keyword) != std::string_view::npos;
    }
    return hit;
}

}  // namespace orb
