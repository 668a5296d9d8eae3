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

// StoredCharLength, inlined for the per-entry loops.
inline size_t CharLength(const unsigned char* p, const unsigned char* end) {
    if (*p < 0x81 || *p > 0xFE || end - p < 2) return 1;
    if (p[1] >= 0x30 && p[1] <= 0x39) return end - p >= 4 ? 4 : static_cast<size_t>(end - p);
    return 2;
}

constexpr uint64_t kLanes01 = 0x0101010101010101ULL;
constexpr uint64_t kLanes80 = 0x8080808080808080ULL;

inline uint64_t Load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}
// Non-zero when some byte of v is zero (exactly when, though the flagged lanes
// may include false ones above a true zero).
inline uint64_t ZeroLanes(uint64_t v) {
    return (v - kLanes01) & ~v & kLanes80;
}

// 0x80 in exactly the lanes of v that are zero.
inline uint64_t ExactZeroLanes(uint64_t v) {
    constexpr uint64_t k7F = 0x7F7F7F7F7F7F7F7FULL;
    return ~(((v & k7F) + k7F) | v) & kLanes80;
}

// The length of an entry's name and the position of its last dot (npos when it
// has none), in one pass over the NUL-terminated 260-byte buffer, a word at a time.
void ScanName(const char* buf, size_t& length, size_t& lastDot) {
    const auto* p = reinterpret_cast<const unsigned char*>(buf);
    lastDot = std::string_view::npos;
    for (size_t i = 0; i + 8 <= kMaxNameBytes + 1; i += 8) {
        uint64_t v = Load64(p + i);
        uint64_t nul = ExactZeroLanes(v);
        uint64_t dots = ExactZeroLanes(v ^ (kLanes01 * '.'));
        if (nul) {
            uint64_t first = static_cast<uint64_t>(__builtin_ctzll(nul));
            dots &= (first ? (uint64_t{1} << first) - 1 : 0);  // lanes before the NUL
            if (dots) lastDot = i + (63 - static_cast<size_t>(__builtin_clzll(dots))) / 8;
            length = i + first / 8;
            return;
        }
        if (dots) lastDot = i + (63 - static_cast<size_t>(__builtin_clzll(dots))) / 8;
    }
    // No NUL in the first 256 bytes: cannot come from the reader; take the slow way.
    std::string_view name = FromFixed(buf, kMaxPath);
    length = name.size();
    lastDot = name.rfind('.');
}

// False only when no position of h[0, n) can start the keyword: its first byte
// (and second, when it has one) are compared eight positions at a time, letters
// with bit 0x20 set on both sides, so both letter cases pass (as do a few other
// bytes, which the exact search then turns down). The buffer at h must have at
// least 8 + Bytes - 1 readable bytes even when n is shorter; lanes past the text
// are masked out.
template <int Bytes>
bool MayContain(const unsigned char* h, size_t n, uint64_t k0, uint64_t m0, uint64_t k1,
                uint64_t m1) {
    auto test = [&](const unsigned char* p) {
        uint64_t hit = ZeroLanes((Load64(p) | m0) ^ k0);
        if (Bytes == 2) hit &= ZeroLanes((Load64(p + 1) | m1) ^ k1);
        return hit;
    };
    if (n < Bytes) return false;
    const size_t last = n - Bytes;  // the last position a match may start at
    size_t i = 0;
    for (; i + 7 <= last; i += 8)
        if (test(h + i)) return true;
    if (i > last) return false;
    // One more load ending at the last position: overlapping the previous one
    // when the text is long enough, else within the buffer, masked.
    if (last >= 7) return test(h + last - 7) != 0;
    const size_t lanes = last + 1 - i;
    return (test(h + i) & ((uint64_t{1} << (8 * lanes)) - 1)) != 0;
}

// Finds the (already folded) keyword in a file base, starting only on character
// boundaries, folding the base on the fly instead of copying it: the per-entry
// cost of a search is mostly this loop. Inside a candidate, only the bytes that
// are single-byte characters of the keyword are folded; where the keyword has a
// multi-byte character the base must hold the same bytes, which makes it the same
// character there too, so this equals folding the base character by character.
bool FindInBase(std::string_view base, std::string_view keyword, const unsigned char* fold,
                const std::vector<unsigned char>& foldAt) {
    const size_t m = keyword.size();
    if (m == 0) return true;
    if (m > base.size()) return false;
    const auto* h = reinterpret_cast<const unsigned char*>(base.data());
    const auto* k = reinterpret_cast<const unsigned char*>(keyword.data());
    const unsigned char* end = h + base.size();
    const unsigned char* last = end - m;
    const unsigned char k0 = k[0];
    auto rest = [&](const unsigned char* p) {
        for (size_t j = 1; j < m; ++j)
            if ((foldAt[j] ? fold[p[j]] : p[j]) != k[j]) return false;
        return true;
    };
    const unsigned char* p = h;
    while (p <= last) {
        unsigned char c = *p;
        if (c < 0x80) {
            if (fold[c] == k0 && rest(p)) return true;
            ++p;
        } else {
            if (c == k0 && rest(p)) return true;
            p += CharLength(p, end);
        }
    }
    return false;
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
            size_t k = CharLength(reinterpret_cast<const unsigned char*>(src),
                                  reinterpret_cast<const unsigned char*>(end));
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

void CIndexReader::SendSearchProgress() {
    // visited * 100 / total, truncated, kept incrementally: a division per entry
    // would be a noticeable part of the walk. Counts of a damaged header may be 0
    // or too small: never divide by zero, never report more than 100.
    if (searchPercent_ < 100) {
        if (searchTotal_ == 0) {
            searchPercent_ = 100;
        } else {
            searchPercentRest_ += 100;
            if (searchPercentRest_ >= searchTotal_) {
                uint64_t q = searchPercentRest_ / searchTotal_;
                searchPercent_ += q;
                searchPercentRest_ -= q * searchTotal_;
                if (searchPercent_ > 100) searchPercent_ = 100;
            }
        }
    }
    SendSearchEvent(SEARCH_PROGRESS, static_cast<LPARAM>(searchPercent_));
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
    self->searchPercent_ = 0;
    self->searchPercentRest_ = 0;
    // The fold table of this search, and which keyword bytes are single-byte
    // characters (the only ones a fold may change).
    const bool matchCase = (self->searchOptions_ & SF_MATCHCASE) != 0;
    for (int c = 0; c < 256; ++c)
        self->searchFold_[c] =
            static_cast<unsigned char>(!matchCase && c >= 'A' && c <= 'Z' ? c + 32 : c);
    const std::string& kw = self->searchKeyword_;
    self->searchFoldAt_.assign(kw.size(), 0);
    const auto* kb = reinterpret_cast<const unsigned char*>(kw.data());
    for (size_t i = 0; i < kw.size();) {
        size_t n = CharLength(kb + i, kb + kw.size());
        if (n == 1) self->searchFoldAt_[i] = 1;
        i += n;
    }
    SearchPrefilter& f = self->searchPrefilter_;
    f = SearchPrefilter{};
    if (!kw.empty() && kb[0] != 0 && (kw.size() < 2 || kb[1] != 0)) {
        auto lanes = [&](size_t i, uint64_t& k, uint64_t& m) {
            bool letter = !matchCase && self->searchFoldAt_[i] && kb[i] >= 'a' && kb[i] <= 'z';
            k = kLanes01 * kb[i];
            m = letter ? kLanes01 * 0x20 : 0;
        };
        lanes(0, f.k0, f.m0);
        f.bytes = 1;
        if (kw.size() >= 2) {
            lanes(1, f.k1, f.m1);
            f.bytes = 2;
        }
    }

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
        SendSearchProgress();

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
    std::string_view name;
    char folded[kMaxPath];
    bool hit = false;

    if (entry.IsDirectory()) {
        if (searchOptions_ & SF_DIRECTORIES) {
            name = entry.Name();
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
        size_t length, dot;
        ScanName(entry.name, length, dot);
        const bool hasDot = dot != std::string_view::npos;
        const size_t baseLength = hasDot ? dot : length;
        name = std::string_view(entry.name, length);
        std::string_view base = name.substr(0, baseLength);
        bool nameMatches;
        if (wholeName) {
            if (!matchCase) {
                FoldAZ(base.data(), base.size(), folded);
                base = std::string_view(folded, base.size());
            }
            nameMatches = base == keyword;
        } else {
            const SearchPrefilter& f = searchPrefilter_;
            // base lies at the start of the entry's 260-byte name buffer, which
            // leaves the prefilter room to read past a short name.
            const auto* b = reinterpret_cast<const unsigned char*>(base.data());
            bool may = f.bytes == 0 || base.size() < keyword.size() ? true
                       : f.bytes == 1 ? MayContain<1>(b, base.size(), f.k0, f.m0, 0, 0)
                                      : MayContain<2>(b, base.size(), f.k0, f.m0, f.k1, f.m1);
            nameMatches = may && FindInBase(base, keyword, searchFold_, searchFoldAt_);
        }
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
