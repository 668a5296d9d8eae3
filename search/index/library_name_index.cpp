// SPDX-License-Identifier: GPL-3.0-or-later
// A library's name index held open across searches.
#include "search/index/library_name_index.h"

#include <sys/resource.h>

#include <algorithm>
#include <unordered_set>

#include "index/index_format.h"
#include "index/index_reader.h"
#include "search/index/name_index.h"

namespace orb {

namespace {

constexpr size_t kFdsPerDisc = 3;  // the segment, the index, the reader's index

size_t DiscsTheLimitAllows() {
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return 1000000;
    // A quarter of the descriptors is left to everything else the process opens
    // (a few hundred for the window and its workers).
    return static_cast<size_t>(rl.rlim_cur / 4 * 3 / kFdsPerDisc);
}

}  // namespace

struct CNameIndex::Disc {
    std::mutex mutex;
    bool keepsFiles = true;  // false: its files are opened for each search
    // Its folder's reports and its files' own (null: none can be had; a companion
    // that was missing at the look is its folder's news), and the look at which
    // its files were last found to be the ones its segment describes.
    std::shared_ptr<const CFolderChanges::Watched> folder, file, companion;
    bool companionMissing = false;
    bool watchLater = false;  // no folder entry yet, but one may be had
    uint64_t lookedAt = 0;
    std::unique_ptr<CNameSegment> segment;  // null: no fresh segment at the last look
    std::unique_ptr<CIndexReader> reader;   // opened at the disc's first candidate
};

void RaiseOpenFileLimit() {
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur >= rl.rlim_max) return;
    constexpr rlim_t kEnough = rlim_t{1} << 16;
    rl.rlim_cur = std::min(rl.rlim_max, std::max(rl.rlim_cur, kEnough));
    ::setrlimit(RLIMIT_NOFILE, &rl);
}

CNameIndex::CNameIndex(std::string cacheDir, size_t maxOpenDiscs)
    : cacheDir_(std::move(cacheDir)),
      maxOpen_(maxOpenDiscs != kFromLimit ? maxOpenDiscs : DiscsTheLimitAllows()) {}

CNameIndex::~CNameIndex() = default;

std::shared_ptr<CNameIndex::Disc> CNameIndex::DiscOf(const std::string& indexPath) {
    bool mayKeep;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = discs_.find(indexPath);
        if (it != discs_.end()) return it->second;
        if (open_ >= maxOpen_ && closed_ >= kMaxClosedDiscs) return nullptr;
        mayKeep = open_ < maxOpen_;
    }
    auto disc = std::make_shared<Disc>();
    // Watched before its files are first looked at, so nothing done to them after
    // that look goes unreported; not a disc that will not keep its files.
    const size_t slash = indexPath.rfind('/');
    if (mayKeep && slash != std::string::npos)
        disc->folder = changes_.Watch(indexPath.substr(0, slash), &disc->watchLater);
    else
        disc->watchLater = slash != std::string::npos;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = discs_.find(indexPath);
    if (it != discs_.end()) return it->second;  // made meanwhile by another search
    if (open_ < maxOpen_) {
        ++open_;
    } else if (closed_ < kMaxClosedDiscs) {
        // Two opens and closes a search: far cheaper than reading the segment's
        // tables again.
        disc->keepsFiles = false;
        ++closed_;
    } else {
        return nullptr;
    }
    return discs_.emplace(indexPath, std::move(disc)).first->second;
}

bool CNameIndex::Reopen(Disc& disc, const std::string& indexPath) {
    disc.reader.reset();
    disc.segment = CNameSegment::OpenFresh(cacheDir_, indexPath);
    if (disc.segment && !disc.segment->KeepTables()) disc.segment.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    if (disc.segment) ++counts_.opened;
    return disc.segment != nullptr;
}

bool CNameIndex::SearchDisc(const std::string& indexPath, const DiscSearchOptions& options,
                            const std::function<void(const SearchResult&)>& onHit) {
    auto declined = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.declined;
        return false;
    };
    if (!NameIndexCanNarrow(options)) return declined();
    std::shared_ptr<Disc> disc = DiscOf(indexPath);
    if (!disc) {
        // Past the descriptors this object may keep: opened for this search only.
        CIndexReader reader;
        if (!SearchDiscThroughIndex(cacheDir_, indexPath, options, reader, onHit))
            return declined();
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.answered;
        return true;
    }
    std::lock_guard<std::mutex> discLock(disc->mutex);
    if (!LookAt(*disc, indexPath)) return declined();
    struct CloseAfter {
        Disc& disc;
        ~CloseAfter() {
            if (disc.keepsFiles) return;
            disc.reader.reset();
            if (disc.segment) disc.segment->CloseFiles();
        }
    } closeAfter{*disc};
    CNameSegment& segment = *disc->segment;
    auto openReader = [&]() -> CIndexReader* {
        if (!disc->reader) {
            auto reader = std::make_unique<CIndexReader>();
            // The annotations just read must be the ones the segment was built
            // with: the companion is looked at again after the read.
            if (!reader->Open(indexPath, OpenMode::ReadShareAll) ||
                !segment.StillDescribes(indexPath))
                return nullptr;
            disc->reader = std::move(reader);
        }
        return disc->reader.get();
    };
    const bool ok = segment.Search(indexPath, options, openReader, onHit);
    const CNameSegment::SearchCost cost = segment.LastCost();
    if (!ok) {
        // Damaged or changed while being read: opened afresh by the next search.
        disc->segment.reset();
        disc->reader.reset();
        return declined();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.answered;
    counts_.keys += cost.keys;
    counts_.ahead += cost.ahead;
    counts_.blocks += cost.blocks;
    counts_.records += cost.records;
    counts_.hits += cost.hits;
    return true;
}

bool CNameIndex::Vouched(const Disc& disc) const {
    return disc.keepsFiles && disc.segment && disc.folder && disc.file &&
           (disc.companion || disc.companionMissing) && takesChanges_.load() &&
           changes_.Unchanged(*disc.folder, disc.lookedAt) &&
           changes_.Unchanged(*disc.file, disc.lookedAt) &&
           (!disc.companion || changes_.Unchanged(*disc.companion, disc.lookedAt));
}

bool CNameIndex::LookAt(Disc& disc, const std::string& indexPath) {
    if (Vouched(disc)) return true;
    // Watched before the look, as the paths are now: a folder moved somewhere on
    // the disc's path (a failed watch keeps the old entry, tried again at the next
    // look), and the files themselves, which may be other files by now.
    if (disc.keepsFiles && (disc.folder ? disc.folder->Gone() : disc.watchLater)) {
        bool retry = false;
        if (auto folder = changes_.Watch(indexPath.substr(0, indexPath.rfind('/')), &retry)) {
            disc.folder = std::move(folder);
            disc.watchLater = false;
        } else if (!disc.folder) {
            disc.watchLater = retry;
        }
    }
    if (disc.folder && disc.keepsFiles && takesChanges_.load()) {
        disc.file = changes_.WatchFile(indexPath);
        disc.companion = changes_.WatchFile(CompanionPath(indexPath), &disc.companionMissing);
    }
    // Read before the files are looked at: a change made after the look is
    // reported at a later one.
    const uint64_t look = changes_.Look();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_.looked;
    }
    // Both index and companion are looked at before anything kept is trusted.
    const bool kept = disc.segment && (disc.keepsFiles ? disc.segment->StillDescribes(indexPath)
                                                       : disc.segment->ReopenFiles(indexPath));
    if (!kept && !Reopen(disc, indexPath)) return false;
    disc.lookedAt = look;
    return true;
}

void CNameIndex::ReadAhead(const std::string* indexPaths, size_t count,
                           const DiscSearchOptions& options) {
    if (count == 0 || !NameIndexCanNarrow(options)) return;
    // Before the locks, so they are let go before the discs may go.
    std::vector<std::shared_ptr<Disc>> held;
    std::vector<std::unique_lock<std::mutex>> locks;
    std::vector<const CNameSegment*> segments;
    std::vector<BatchRead> reads;
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Disc> disc = DiscOf(indexPaths[i]);
        if (!disc) continue;
        std::unique_lock<std::mutex> lock(disc->mutex, std::try_to_lock);
        // Only a disc vouched for: any other is looked at (or opened) by its
        // search, and looking here too would double the stats.
        if (!lock || !Vouched(*disc)) continue;
        disc->segment->PlanReads(options, reads);
        segments.push_back(disc->segment.get());
        // Held until the reads landed: the bytes land in the segment.
        locks.push_back(std::move(lock));
        held.push_back(std::move(disc));
    }
    if (reads.empty()) return;
    ReadInBatch(reads);
    for (const CNameSegment* s : segments) s->Landed(reads);
    // Then the records of the blocks those lists lead to.
    reads.clear();
    for (const CNameSegment* s : segments) s->PlanRecordReads(options, reads);
    if (reads.empty()) return;
    ReadInBatch(reads);
    for (const CNameSegment* s : segments) s->LandedRecords(reads);
}

void CNameIndex::ForgetAhead(const std::string* indexPaths, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Disc> disc;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = discs_.find(indexPaths[i]);
            if (it == discs_.end()) continue;
            disc = it->second;
        }
        std::lock_guard<std::mutex> discLock(disc->mutex);
        if (disc->segment) disc->segment->ForgetPlanned();
    }
}

void CNameIndex::TakeChanges() {
    changes_.Take();
    takesChanges_.store(true);
}

size_t CNameIndex::OpenDiscs(const std::vector<std::string>& indexPaths) {
    size_t fresh = 0;
    for (const std::string& path : indexPaths) {
        std::shared_ptr<Disc> disc = DiscOf(path);
        if (!disc) break;
        std::lock_guard<std::mutex> discLock(disc->mutex);
        if (LookAt(*disc, path)) {
            ++fresh;
            if (!disc->keepsFiles) disc->segment->CloseFiles();
        }
    }
    return fresh;
}

void CNameIndex::KeepOnly(const std::vector<std::string>& indexPaths) {
    const std::unordered_set<std::string> keep(indexPaths.begin(), indexPaths.end());
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = discs_.begin(); it != discs_.end();) {
        if (keep.count(it->first)) {
            ++it;
            continue;
        }
        --(it->second->keepsFiles ? open_ : closed_);
        changes_.ForgetFile(it->first);
        changes_.ForgetFile(CompanionPath(it->first));
        it = discs_.erase(it);
    }
}

size_t CNameIndex::BytesHeldAhead() {
    std::vector<std::shared_ptr<Disc>> discs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [path, disc] : discs_) discs.push_back(disc);
    }
    size_t bytes = 0;
    for (const auto& disc : discs) {
        std::lock_guard<std::mutex> discLock(disc->mutex);
        if (disc->segment) bytes += disc->segment->BytesHeldAhead();
    }
    return bytes;
}

CNameIndex::Counts CNameIndex::GetCounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

}  // namespace orb
