// SPDX-License-Identifier: GPL-3.0-or-later
// The search engine: the search operations of CIndexReader. BeginSearch hands a
// private copy of the open index to a worker thread, which walks it depth first
// and reports hits, progress and its end to the notify target.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "index/index_reader.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "search/pinyin_match.h"

namespace orb {

namespace {

// Up to this many annotations a linear scan per entry is cheapest; longer tables
// get a sorted index so a hostile companion cannot make the walk quadratic.
constexpr size_t kAnnotationScanLimit = 8;

// Indexes up to this size are read whole for a search (about 300,000 entries);
// larger ones are walked through the reader's window without the byte test.
constexpr uint64_t kWholeFileLimit = uint64_t{16} << 20;
// More keyword positions than this (a file full of the keyword) make the byte
// test pointless; the walk then tests every name.
constexpr size_t kMaxKeywordPositions = size_t{1} << 20;

// Folds every byte A-Z to a-z, trailing bytes of double-byte characters included,
// eight bytes at a time: a superset of the engine's own fold, so the byte test
// never rules out a name the engine would match.
void FoldAllAZ(char* dst, const unsigned char* src, size_t n) {
    constexpr uint64_t k01 = 0x0101010101010101ULL;
    constexpr uint64_t k80 = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, src + i, 8);
        const uint64_t low = v & ~k80;  // each byte's low seven bits
        // Per byte, bit 7 set: at least 'A', above 'Z', and a byte below 0x80.
        const uint64_t atLeastA = low + (0x80 - 'A') * k01;
        const uint64_t aboveZ = low + (0x80 - 'Z' - 1) * k01;
        const uint64_t upper = atLeastA & ~aboveZ & ~v & k80;
        v |= upper >> 2;  // 0x80 >> 2 is the case bit 0x20
        std::memcpy(dst + i, &v, 8);
    }
    for (; i < n; ++i) {
        unsigned char c = src[i];
        dst[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
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

// One pass over an entry's NUL-terminated 260-byte name buffer, a word at a time:
// the name's length, its last dot (npos: none) and the first position where the
// keyword's first one or two bytes may stand (npos: nowhere). Letters are
// compared with bit 0x20 set on both sides, so both letter cases pass (as do a
// few other bytes, which the exact search then turns down); no true position is
// ever missed, so npos rules the name out.
struct NameScan {
    size_t length = 0;
    size_t lastDot = std::string_view::npos;
    size_t firstCandidate = std::string_view::npos;
    bool multiByte = false;  // some byte is 0x80 or above: only then can pinyin add a hit
};

inline size_t HighestLane(uint64_t lanes) {
    return (63 - static_cast<size_t>(__builtin_clzll(lanes))) / 8;
}
inline size_t LowestLane(uint64_t lanes) {
    return static_cast<size_t>(__builtin_ctzll(lanes)) / 8;
}

template <int Bytes>
NameScan ScanName(const char* buf, uint64_t k0, uint64_t m0, uint64_t k1, uint64_t m1) {
    const auto* p = reinterpret_cast<const unsigned char*>(buf);
    NameScan r;
    // Words up to byte 256 hold any name of up to 255 bytes and its NUL; the
    // second-byte load reads one byte further, still inside the buffer.
    for (size_t i = 0; i + 8 <= kMaxNameBytes + 1; i += 8) {
        uint64_t v = Load64(p + i);
        uint64_t nul = ExactZeroLanes(v);
        uint64_t dots = ExactZeroLanes(v ^ (kLanes01 * '.'));
        uint64_t candidates = 0;
        uint64_t high = v & kLanes80;
        if (Bytes >= 1) candidates = ZeroLanes((v | m0) ^ k0);
        if (Bytes == 2) candidates &= ZeroLanes((Load64(p + i + 1) | m1) ^ k1);
        if (nul) {
            uint64_t before = (uint64_t{1} << __builtin_ctzll(nul)) - 1;  // lanes before the NUL
            dots &= before;
            candidates &= before;
            high &= before;
            r.length = i + LowestLane(nul);
        }
        if (dots) r.lastDot = i + HighestLane(dots);
        if (high) r.multiByte = true;
        if (candidates && r.firstCandidate == std::string_view::npos)
            r.firstCandidate = i + LowestLane(candidates);
        if (nul) return r;
    }
    // No NUL in the first 256 bytes: cannot come from the reader; take the slow way.
    std::string_view name = FromFixed(buf, kMaxPath);
    r.length = name.size();
    r.lastDot = name.rfind('.');
    r.firstCandidate = 0;
    r.multiByte = true;
    return r;
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
            p += StoredCharLength(p, end);
        }
    }
    return false;
}

bool HasMultiByte(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
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
    walker->searchShortcut_ = searchShortcut_;
    try {
        searchThread_ = std::thread([w = std::move(walker)] { SearchThreadProc(w.get()); });
    } catch (const std::system_error&) {
        return failed();
    }
    return &searchThread_;
}

inline LRESULT CIndexReader::SendSearchEvent(WPARAM code, LPARAM lParam) const {
    if (!searchNotify_ || searchControl_->detached.load(std::memory_order_relaxed)) return 0;
    return searchNotify_->Send(WM_SEARCH_EVENT, code, lParam);
}

inline void CIndexReader::SendSearchProgress() {
    // visited * 100 / total, truncated, kept incrementally: a division per entry
    // would be a noticeable part of the walk. Counts of a damaged header may be 0
    // or too small: never divide by zero, never report more than 100.
    const uint64_t before = searchPercent_;
    // Both are 0 only before the first entry (after it, a percentage of 0 leaves a
    // rest of 100 × visited, never 0).
    const bool first = searchPercent_ == 0 && searchPercentRest_ == 0;
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
    // Each Send is a round trip through the window: only a new whole percentage is
    // worth one. The first entry always reports, so the bar starts from the walk.
    if (searchPercent_ != before || first)
        SendSearchEvent(SEARCH_PROGRESS, static_cast<LPARAM>(searchPercent_));
}

void CIndexReader::PrepareMatching() {
    const bool matchCase = (searchOptions_ & SF_MATCHCASE) != 0;
    searchAnnotationIndex_.clear();
    searchByteTest_ = false;
    if (annotations_.size() > kAnnotationScanLimit) {
        auto& index = searchAnnotationIndex_;
        index.reserve(annotations_.size());
        for (const Annotation& a : annotations_) index.emplace_back(a.id, &a.text);
        // Stable, so the first record of an id stays first, as FindAnnotation has it.
        std::stable_sort(index.begin(), index.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    searchPinyin_.reset();
    if (searchOptions_ & SF_PINYIN) {
        auto pinyin = std::make_shared<CPinyinMatcher>(searchKeyword_, matchCase);
        if (pinyin->Active()) searchPinyin_ = std::move(pinyin);
    }
    searchTotal_ = uint64_t{header_.fileCount} + uint64_t{header_.dirCount};
    searchPercent_ = 0;
    searchPercentRest_ = 0;
    // The fold table of this search, and which keyword bytes are single-byte
    // characters (the only ones a fold may change).
    for (int c = 0; c < 256; ++c)
        searchFold_[c] =
            static_cast<unsigned char>(!matchCase && c >= 'A' && c <= 'Z' ? c + 32 : c);
    const std::string& kw = searchKeyword_;
    searchFoldAt_.assign(kw.size(), 0);
    const auto* kb = reinterpret_cast<const unsigned char*>(kw.data());
    for (size_t i = 0; i < kw.size();) {
        size_t n = StoredCharLength(kb + i, kb + kw.size());
        if (n == 1) searchFoldAt_[i] = 1;
        i += n;
    }
    SearchPrefilter& f = searchPrefilter_;
    f = SearchPrefilter{};
    if (!kw.empty() && kb[0] != 0 && (kw.size() < 2 || kb[1] != 0)) {
        auto lanes = [&](size_t i, uint64_t& k, uint64_t& m) {
            bool letter = !matchCase && searchFoldAt_[i] && kb[i] >= 'a' && kb[i] <= 'z';
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
}

void CIndexReader::PrepareEntryMatch(std::string_view keyword) {
    searchKeyword_.assign(keyword);
    if (!(searchOptions_ & SF_MATCHCASE)) LowerAZInPlace(searchKeyword_);
    PrepareMatching();
}

int CIndexReader::MatchEntryAt(int32_t recordOffset, int32_t id, IndexEntry& entry,
                               const std::string*& annotation) {
    annotation = nullptr;
    // One small read per record: the candidates of a disc are few and far apart,
    // and a window of the read cache per candidate would read the disc many times.
    unsigned char record[kRecordFixedSize + kMaxNameBytes];
    if (!open_ || recordOffset < static_cast<int32_t>(kFirstEntryOffset)) return 0;
    const uint64_t at = static_cast<uint64_t>(recordOffset);
    if (at + kRecordFixedSize > fileSize_) return 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof(record), fileSize_ - at));
    if (!ReadFully(fd_, record, want, at)) return 0;
    return MatchRecordBytes(record, want, recordOffset, id, entry, annotation);
}

int CIndexReader::MatchRecordBytes(const unsigned char* record, size_t available,
                                   int32_t recordOffset, int32_t id, IndexEntry& entry,
                                   const std::string*& annotation) {
    annotation = nullptr;
    if (available < kRecordFixedSize) return 0;
    const size_t n = record[kEntryFixedSize];
    if (kRecordFixedSize + n > available) return 0;
    DecodeEntryFixed(record, entry);
    std::memcpy(entry.name, record + kRecordFixedSize, n);
    entry.name[n] = '\0';
    entry.recordOffset = recordOffset;
    return MatchEntry(entry, id, annotation) ? 1 : 0;
}

void CIndexReader::SearchThreadProc(CIndexReader* self) {
    LowerCurrentThreadPriority();
    SearchControl& control = *self->searchControl_;
    self->SendSearchEvent(SEARCH_STARTED, 0);

    self->PrepareMatching();
    const bool matchCase = (self->searchOptions_ & SF_MATCHCASE) != 0;
    const std::string& kw = self->searchKeyword_;

    // The whole file is read once; the keyword's bytes are looked for in it, and
    // the walk then runs the literal tests only on names that hold them. A name
    // found by pinyin holds none of the keyword's bytes: with pinyin every name
    // with a multi-byte character is still given to the pinyin test, and no disc
    // is ruled out.
    self->searchByteTest_ = false;
    bool mayHit = true;
    if (!kw.empty() && (self->searchOptions_ & (SF_FILES | SF_DIRECTORIES)) &&
        self->LoadWholeFile(kWholeFileLimit))
        mayHit = self->FindKeywordBytes() || self->searchPinyin_ != nullptr;
    if (!mayHit && (self->searchOptions_ & SF_ANNOTATIONS)) {
        // The engine's own annotation test, over the whole table.
        for (const Annotation& a : self->annotations_) {
            std::string text = matchCase ? a.text : LowerAZCopy(a.text);
            bool hit = (self->searchOptions_ & SF_WHOLENAME)
                           ? text == kw
                           : FindBytes(text, kw) != std::string::npos;
            if (hit) {
                mayHit = true;
                break;
            }
        }
    }

    std::string path;
    self->GetVolumeLabel(path);
    path += ":\\";
    uint64_t visited = 0;
    uint64_t budget = self->MaxEntryCount();
    if (!mayHit && self->searchShortcut_) {
        if (self->searchTotal_ > 0) self->SendSearchEvent(SEARCH_PROGRESS, 100);
    } else if (!control.abort.load()) {
        self->SearchDirectory(nullptr, path, visited, budget);
    }

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
    // The index path is the same for every hit, and the parent path changes only
    // when the walk changes directory: each is copied into the result when it
    // changed, not per hit (the fixed copies clear the rest of their 260 bytes).
    CopyToFixed(result.indexPath, sizeof(result.indexPath), path_);
    result.fullIndexPath = path_;
    bool parentStale = true;
    int32_t id = parent ? parent->firstChild : kFirstEntryId;
    bool more = true;
    while (more && budget > 0) {
        --budget;
        const std::string* annotation = nullptr;
        if (MatchEntry(entry, id, annotation)) {
            if (parentStale) {
                CopyToFixed(result.parentPath, sizeof(result.parentPath), displayPath);
                result.fullParentPath = displayPath;
                parentStale = false;
            }
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
                parentStale = true;
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
            parentStale = true;
        }
    }
    displayPath.resize(basePathLength);
}

bool CIndexReader::FindKeywordBytes() {
    searchKeywordAt_.clear();
    const std::string& kw = searchKeyword_;
    const size_t m = kw.size();
    const size_t size = cacheLength_;
    searchByteTest_ = true;
    // No name is longer than kMaxNameBytes, and none starts before the records.
    if (m == 0 || m > kMaxNameBytes || size <= kFirstEntryOffset) return m == 0;
    std::string key = kw;
    FoldAllAZ(key.data(), reinterpret_cast<const unsigned char*>(kw.data()), m);
    // Only a keyword with letters needs the file folded: a byte that folds to a
    // non-letter is that byte itself.
    const bool fold =
        (searchOptions_ & SF_MATCHCASE) == 0 &&
        std::any_of(key.begin(), key.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    if (!fold) key = kw;
    const unsigned char* data = cache_.get();
    // Folded a chunk at a time into a small buffer that stays in the processor's
    // cache; each chunk carries the keyword's length - 1 bytes of the next, so no
    // match across chunks is lost.
    constexpr size_t kChunk = 64 * 1024;
    std::unique_ptr<char[]> buffer(fold ? new char[kChunk + kMaxNameBytes] : nullptr);
    for (size_t at = kFirstEntryOffset; at + m <= size; at += kChunk) {
        const size_t starts = std::min(kChunk, size - m + 1 - at);  // match starts in this chunk
        const size_t span = starts + m - 1;
        const char* hay;
        if (fold) {
            FoldAllAZ(buffer.get(), data + at, span);
            hay = buffer.get();
        } else {
            hay = reinterpret_cast<const char*>(data + at);
        }
        const char* p = hay;
        const char* end = hay + span;
        while (p + m <= end) {
            const void* found = ::memmem(p, static_cast<size_t>(end - p), key.data(), m);
            if (!found) break;
            const char* f = static_cast<const char*>(found);
            if (searchKeywordAt_.size() >= kMaxKeywordPositions) {
                searchByteTest_ = false;
                searchKeywordAt_.clear();
                return true;
            }
            searchKeywordAt_.push_back(static_cast<uint32_t>(at + static_cast<size_t>(f - hay)));
            p = f + 1;
        }
    }
    return !searchKeywordAt_.empty();
}

bool CIndexReader::NameMayHoldKeyword(const IndexEntry& entry) const {
    if (!searchByteTest_ || entry.recordOffset < 0) return true;
    const uint64_t nameStart =
        uint64_t{static_cast<uint32_t>(entry.recordOffset)} + kRecordFixedSize;
    auto it = std::lower_bound(searchKeywordAt_.begin(), searchKeywordAt_.end(), nameStart);
    return it != searchKeywordAt_.end() && *it + searchKeyword_.size() <= nameStart + kMaxNameBytes;
}

bool CIndexReader::MatchEntry(const IndexEntry& entry, int32_t id,
                              const std::string*& annotation) const {
    const bool matchCase = (searchOptions_ & SF_MATCHCASE) != 0;
    const bool wholeName = (searchOptions_ & SF_WHOLENAME) != 0;
    const std::string_view keyword = searchKeyword_;
    std::string_view name;
    char folded[kMaxPath];
    bool hit = false;
    // literalMay: the byte test leaves a literal match possible.
    const bool literalMay = NameMayHoldKeyword(entry);
    // Without a literal match only pinyin can hit, and most names are turned down
    // by its quick test before they are scanned.
    const bool nameMay =
        (searchOptions_ & (entry.IsDirectory() ? SF_DIRECTORIES : SF_FILES)) != 0 &&
        (literalMay || (searchPinyin_ &&
                        searchPinyin_->MayMatchName(entry.name, kMaxPath, !entry.IsDirectory())));

    if (entry.IsDirectory()) {
        if ((searchOptions_ & SF_DIRECTORIES) && nameMay) {
            name = entry.Name();
            std::string_view text = name;
            if (!matchCase) {
                LowerAZCopyTo(name.data(), name.size(), folded);
                text = std::string_view(folded, name.size());
            }
            // Byte-wise: a match may start on the second byte of a character.
            hit = literalMay && (wholeName ? text == keyword
                                           : FindBytes(text, keyword) != std::string_view::npos);
            // A name of single bytes only matches pinyin where it matched literally.
            if (!hit && searchPinyin_ && HasMultiByte(name))
                hit = searchPinyin_->Matches(name, wholeName);
        }
    } else if ((searchOptions_ & SF_FILES) && nameMay) {
        // Base and extension split at the last dot; the keyword is never looked for
        // in the extension.
        const SearchPrefilter& f = searchPrefilter_;
        NameScan scan = f.bytes == 2   ? ScanName<2>(entry.name, f.k0, f.m0, f.k1, f.m1)
                        : f.bytes == 1 ? ScanName<1>(entry.name, f.k0, f.m0, 0, 0)
                                       : ScanName<0>(entry.name, 0, 0, 0, 0);
        const size_t dot = scan.lastDot;
        const bool hasDot = dot != std::string_view::npos;
        const size_t baseLength = hasDot ? dot : scan.length;
        name = std::string_view(entry.name, scan.length);
        std::string_view base = name.substr(0, baseLength);
        bool nameMatches;
        if (!literalMay) {
            nameMatches = false;
        } else if (wholeName) {
            if (!matchCase) {
                LowerAZCopyTo(base.data(), base.size(), folded);
                base = std::string_view(folded, base.size());
            }
            nameMatches = base == keyword;
        } else {
            bool may = f.bytes == 0 || (scan.firstCandidate != std::string_view::npos &&
                                        scan.firstCandidate + keyword.size() <= baseLength);
            nameMatches = may && FindInBase(base, keyword, searchFold_, searchFoldAt_);
        }
        // A keyword with a dot ("setup.exe") may also name the extension: it is
        // tried on the full name too. Without a dot nothing changes.
        if (!nameMatches && literalMay && hasDot && keyword.find('.') != std::string_view::npos) {
            if (wholeName) {
                std::string_view full = name;
                if (!matchCase) {
                    LowerAZCopyTo(name.data(), name.size(), folded);
                    full = std::string_view(folded, name.size());
                }
                nameMatches = full == keyword;
            } else {
                nameMatches =
                    (f.bytes == 0 || (scan.firstCandidate != std::string_view::npos &&
                                      scan.firstCandidate + keyword.size() <= scan.length)) &&
                    FindInBase(name, keyword, searchFold_, searchFoldAt_);
            }
        }
        // Pinyin only adds hits, and only names with a multi-byte character can
        // give one the literal test did not.
        if (!nameMatches && searchPinyin_ && scan.multiByte)
            nameMatches = searchPinyin_->Matches(base, wholeName);
        if (nameMatches) {
            if (searchAnyType_) {
                hit = true;
            } else {
                std::string_view ext = hasDot ? name.substr(dot + 1) : std::string_view();
                char extFolded[kMaxPath];
                LowerAZCopyTo(ext.data(), ext.size(), extFolded);
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
