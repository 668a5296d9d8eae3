// SPDX-License-Identifier: GPL-3.0-or-later
// Segments of the library name index: checking, reading and searching them.
#include "search/index/name_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "index/index_format.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/index/keyword_bytes.h"
#include "search/index/name_keys.h"
#include "search/index/segment_bits.h"
#include "search/index/segment_layout.h"

namespace orb {

namespace {

using namespace name_keys;
using namespace segment_bits;

using namespace segment_layout;

// The keys a search looks up: every literal key must be in a candidate's block;
// with pinyin, a block holding any pinyin key is a candidate too.
struct KeyQuery {
    std::vector<uint32_t> all;
    std::vector<uint32_t> first, last;  // pinyin: a key of each
};

bool MakeQueryNow(const DiscSearchOptions& options, KeyQuery& q) {
    q.all = NameIndexKeys(options.keyword);
    if (q.all.empty()) return false;
    // Annotations are matched by their bytes only, so pinyin needs names searched.
    if ((options.flags & SF_PINYIN) && (options.flags & (SF_FILES | SF_DIRECTORIES)) &&
        IsPinyinKeyword(options.keyword))
        return PinyinQueryEnds(options.keyword, q.first, q.last);
    return true;
}

// The options that shape a search's keys, and so its candidate blocks.
uint8_t CandidateFlags(uint8_t flags) {
    return flags & (SF_PINYIN | SF_FILES | SF_DIRECTORIES);
}

// The keys of the last search on this thread: a search asks once per disc.
bool MakeQuery(const DiscSearchOptions& options, KeyQuery& q) {
    struct Last {
        std::string keyword;
        uint8_t flags = 0;
        bool ok = false;
        bool made = false;
        KeyQuery q;
    };
    static thread_local Last last;
    const uint8_t flags = CandidateFlags(options.flags);
    if (!last.made || last.keyword != options.keyword || last.flags != flags) {
        last.made = true;
        last.keyword = options.keyword;
        last.flags = flags;
        last.q = KeyQuery{};
        last.ok = MakeQueryNow(options, last.q);
    }
    q = last.q;
    return last.ok;
}

}  // namespace

std::string NameIndexDirectory(const std::string& libraryDir) {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.cache";
    }
    // Keyed by the library's resolved path, so two spellings of one library share
    // their cache and two libraries never do.
    char* real = ::realpath(libraryDir.c_str(), nullptr);
    std::string key = real ? real : libraryDir;
    std::free(real);
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    std::string name = key.substr(key.rfind('/') + 1);
    for (char& c : name)
        if (c == '.' || static_cast<unsigned char>(c) < 0x20) c = '_';
    char hash[24];
    std::snprintf(hash, sizeof(hash), "%016llx",
                  static_cast<unsigned long long>(
                      Fnv1a(reinterpret_cast<const unsigned char*>(key.data()), key.size())));
    return base + "/kelvane-orb/" + name.substr(0, 64) + "-" + hash;
}

std::vector<uint32_t> NameIndexKeys(std::string_view keyword) {
    std::vector<uint32_t> keys;
    const auto* p = reinterpret_cast<const unsigned char*>(keyword.data());
    const size_t n = keyword.size();
    // The keys ForEachKey gives a name: trigrams of single bytes, pairs from a
    // high byte on.
    for (size_t i = 0; i + 1 < n; ++i) {
        const uint32_t a = FoldByte(p[i]), b = FoldByte(p[i + 1]);
        if (a >= 0x80) keys.push_back(kPairTag | a << 8 | b);
        if (i + 2 < n && ((a | b | p[i + 2]) & 0x80) == 0)
            keys.push_back(a << 16 | b << 8 | FoldByte(p[i + 2]));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

bool NameIndexCanNarrow(const DiscSearchOptions& options) {
    KeyQuery q;
    return MakeQuery(options, q);
}

std::string NameSegmentPath(const std::string& cacheDir, const std::string& indexPath) {
    struct stat st {};
    if (::stat(indexPath.c_str(), &st) != 0) return std::string();
    char name[64];
    std::snprintf(name, sizeof(name), "/%llx-%llx.seg", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return cacheDir + name;
}

CNameSegment::~CNameSegment() {
    CloseFiles();
}

bool CNameSegment::ReadSegment(uint64_t at, void* buf, size_t n) const {
    return at <= size_ && n <= size_ - at && ReadFully(fd_, buf, n, at);
}

// Read, not mapped: a search touches a few hundred bytes of most segments, and
// mapping and unmapping two files per disc costs more than a few reads.
std::unique_ptr<CNameSegment> CNameSegment::OpenFresh(const std::string& cacheDir,
                                                      const std::string& indexPath) {
    std::unique_ptr<CNameSegment> seg(new CNameSegment);
    seg->fileFd_ = OpenShared(indexPath, OpenMode::ReadShareAll);
    if (seg->fileFd_ < 0) return nullptr;
    Identity id;
    if (!ReadIdentity(seg->fileFd_, indexPath, id)) return nullptr;
    seg->fileSize_ = id.size;
    char name[64];
    std::snprintf(name, sizeof(name), "/%llx-%llx.seg", static_cast<unsigned long long>(id.dev),
                  static_cast<unsigned long long>(id.ino));
    seg->segmentPath_ = cacheDir + name;
    seg->fd_ = ::open(seg->segmentPath_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat ss {};
    if (seg->fd_ < 0 || ::fstat(seg->fd_, &ss) != 0 || ss.st_size < static_cast<off_t>(kFixed))
        return nullptr;
    seg->size_ = static_cast<size_t>(ss.st_size);
    seg->segmentIno_ = ss.st_ino;
    seg->segmentDev_ = ss.st_dev;
    unsigned char fixed[kFixed];
    if (!seg->ReadSegment(0, fixed, kFixed)) return nullptr;
    std::string expected(kMagic, sizeof(kMagic));
    PutIdentity(expected, id);
    if (std::memcmp(fixed, expected.data(), expected.size()) != 0 || !seg->Check(fixed))
        return nullptr;
    seg->idSize_ = id.size;
    seg->idMtimeNs_ = id.mtimeNs;
    seg->idIno_ = id.ino;
    seg->idDev_ = id.dev;
    seg->idCompanionSize_ = id.companionSize;
    seg->idCompanionMtimeNs_ = id.companionMtimeNs;
    return seg;
}

bool CNameSegment::DescribesIndex(const struct stat& st) const {
    return static_cast<uint64_t>(st.st_size) == idSize_ && st.st_ino == idIno_ &&
           st.st_dev == idDev_ &&
           int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec == idMtimeNs_;
}

bool CNameSegment::CompanionUnchanged(const std::string& indexPath) const {
    struct stat cs {};
    if (::stat(CompanionPath(indexPath).c_str(), &cs) != 0) return idCompanionSize_ == -1;
    return cs.st_size == idCompanionSize_ &&
           int64_t{cs.st_mtim.tv_sec} * 1000000000 + cs.st_mtim.tv_nsec == idCompanionMtimeNs_;
}

bool CNameSegment::StillDescribes(const std::string& indexPath) const {
    struct stat st {};
    return ::stat(indexPath.c_str(), &st) == 0 && DescribesIndex(st) &&
           CompanionUnchanged(indexPath);
}

void CNameSegment::CloseFiles() {
    if (fd_ >= 0) ::close(fd_);
    if (fileFd_ >= 0) ::close(fileFd_);
    fd_ = fileFd_ = -1;
}

bool CNameSegment::ReopenFiles(const std::string& indexPath) {
    CloseFiles();
    fileFd_ = OpenShared(indexPath, OpenMode::ReadShareAll);
    fd_ = ::open(segmentPath_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    struct stat ss {};
    // A segment rebuilt meanwhile is another file: what is kept would not fit it.
    const bool same = fileFd_ >= 0 && fd_ >= 0 && ::fstat(fileFd_, &st) == 0 &&
                      ::fstat(fd_, &ss) == 0 && DescribesIndex(st) &&
                      static_cast<uint64_t>(ss.st_ino) == segmentIno_ &&
                      static_cast<uint64_t>(ss.st_dev) == segmentDev_ &&
                      static_cast<uint64_t>(ss.st_size) == size_ && CompanionUnchanged(indexPath);
    if (!same) CloseFiles();
    return same;
}

bool CNameSegment::KeepTables() {
    std::vector<unsigned char> table(size_t{groupCount_} * kGroupEntry);
    std::vector<unsigned char> starts((size_t{blockCount_} + 1) * 4);
    if (!ReadSegment(groups_, table.data(), table.size()) ||
        !ReadSegment(blockStarts_, starts.data(), starts.size()))
        return false;
    groupTable_ = std::move(table);
    blockStartTable_ = std::move(starts);
    return true;
}

// Sizes that add up to the file: a truncated, extended or foreign file is refused
// here. Only what a search reads is checked further, as it reads it; the checksum
// is checked when the index is refreshed.
bool CNameSegment::Check(const unsigned char* fixed) {
    const unsigned char* h = fixed + kCounts;
    entryCount_ = Get32(h);
    sequential_ = (Get32(h + 4) & kFlagSequential) != 0;
    const uint32_t blockShift = Get32(h + 8);
    bucketBits_ = Get32(h + 12);
    dirCount_ = Get32(h + 16);
    streamBytes_ = Get32(h + 20);
    dirSum_ = Get32(h + 24);
    if (blockShift != kBlockShift || bucketBits_ < kGroupShift || bucketBits_ > kMaxBucketBits ||
        streamBytes_ < 8)
        return false;
    blockCount_ = (entryCount_ + kBlock - 1) / kBlock;
    groupCount_ = ((uint32_t{1} << bucketBits_) >> kGroupShift) + 1;
    const uint64_t total =
        kFixed + (uint64_t{blockCount_} + 1) * 4 + (sequential_ ? 0 : uint64_t{entryCount_} * 4) +
        uint64_t{dirCount_} * kDirSize + uint64_t{groupCount_} * kGroupEntry + streamBytes_;
    if (total != size_) return false;
    blockStarts_ = kFixed;
    offsets_ = blockStarts_ + (uint64_t{blockCount_} + 1) * 4;
    dirs_ = offsets_ + (sequential_ ? 0 : uint64_t{entryCount_} * 4);
    groups_ = dirs_ + uint64_t{dirCount_} * kDirSize;
    stream_ = groups_ + uint64_t{groupCount_} * kGroupEntry;
    IndexHeader header;
    DecodeHeader(fixed + sizeof(kMagic) + 48, header);
    label_ = std::string(HeaderLabel(header));
    return true;
}

uint32_t CNameSegment::GroupBits(uint32_t key) const {
    const uint64_t at = uint64_t{BucketOf(key, bucketBits_) >> kGroupShift} * kGroupEntry;
    if (at + kGroupEntry + 4 > groupTable_.size()) return 0;  // not kept: as given
    const uint32_t from = Get32(groupTable_.data() + at),
                   to = Get32(groupTable_.data() + at + kGroupEntry);
    return to > from ? to - from : 0;
}

bool CNameSegment::BlocksOf(uint32_t key, std::vector<uint32_t>& out) const {
    out.clear();
    ++cost_.keys;
    const uint32_t bucket = BucketOf(key, bucketBits_);
    // The group's bits, read with the eight bytes after them (the stream's
    // padding at its end).
    unsigned char read[kGroupEntry + 4];
    const unsigned char* bounds = read;
    const uint64_t entryAt = uint64_t{bucket >> kGroupShift} * kGroupEntry;
    if (!groupTable_.empty()) {
        // Every bucket's group has a next entry: the table ends with the stream's end.
        if (entryAt + sizeof(read) > groupTable_.size()) return false;
        bounds = groupTable_.data() + entryAt;
    } else if (!ReadSegment(groups_ + entryAt, read, sizeof(read))) {
        return false;
    }
    const uint64_t from = Get32(bounds), to = Get32(bounds + kGroupEntry);
    const uint16_t check = static_cast<uint16_t>(bounds[4] | bounds[5] << 8);
    const uint64_t streamBits = (uint64_t{streamBytes_} - 8) * 8;
    if (from > to || to > streamBits) return false;
    const uint64_t firstByte = from / 8;
    const size_t bytes = static_cast<size_t>((to + 7) / 8 - firstByte + 8);
    const unsigned char* data = Planned(stream_ + firstByte, bytes);
    if (data) ++cost_.ahead;
    if (!data) {
        std::vector<unsigned char>& buf = groupBuffer_;
        buf.resize(bytes);
        if (!ReadSegment(stream_ + firstByte, buf.data(), bytes)) return false;
        data = buf.data();
    }
    if (GroupCheck(data, from, to) != check) return false;
    CBitReader r(data, to - firstByte * 8, from - firstByte * 8);
    const unsigned k = static_cast<unsigned>(r.Get(4));
    for (uint32_t b = bucket & ~((1u << kGroupShift) - 1);; ++b) {
        const uint64_t count = r.Gamma() - 1;
        if (!r.Ok() || count > blockCount_) return false;
        if (b < bucket) {
            for (uint64_t i = 0; i < count; ++i) r.Rice(k, blockCount_);
            continue;
        }
        uint64_t block = 0;
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t v = r.Rice(k, blockCount_);
            block = i == 0 ? v : block + 1 + v;
            if (!r.Ok() || block >= blockCount_) return false;
            out.push_back(static_cast<uint32_t>(block));
        }
        return r.Ok();
    }
}

// Lists read ahead per disc, at most (pinyin keywords have many keys).
constexpr size_t kMostPlannedReads = 32;

template <typename Item>
void CNameSegment::AddReads(int fd, std::vector<Item>& planned, size_t total,
                            std::vector<unsigned char>& bytes, std::vector<BatchRead>& reads) {
    bytes.resize(total);
    for (Item& item : planned) {
        const PlannedRead& p = item;
        reads.push_back({fd, p.at, bytes.data() + p.into, static_cast<uint32_t>(p.bytes), 0});
    }
}

template <typename Item>
void CNameSegment::MarkWhole(std::vector<Item>& planned, const std::vector<BatchRead>& reads) {
    for (Item& item : planned) {
        PlannedRead& p = item;
        p.whole = p.read < reads.size() && reads[p.read].result == static_cast<int64_t>(p.bytes);
    }
}

const unsigned char* CNameSegment::Planned(uint64_t at, size_t bytes) const {
    for (const PlannedRead& p : planned_)
        if (p.whole && p.at == at && p.bytes == bytes) return plannedBytes_.data() + p.into;
    return nullptr;
}

void CNameSegment::PlanReads(const DiscSearchOptions& options,
                             std::vector<BatchRead>& reads) const {
    planned_.clear();
    KeyQuery q;
    if (fd_ < 0 || groupTable_.empty() || !MakeQuery(options, q)) return;
    const uint64_t streamBits = (uint64_t{streamBytes_} - 8) * 8;
    size_t total = 0;
    for (const std::vector<uint32_t>* keys : {&q.all, &q.first, &q.last})
        for (uint32_t key : *keys) {
            const uint64_t entryAt =
                uint64_t{BucketOf(key, bucketBits_) >> kGroupShift} * kGroupEntry;
            if (entryAt + kGroupEntry + 4 > groupTable_.size()) continue;
            const uint64_t from = Get32(groupTable_.data() + entryAt),
                           to = Get32(groupTable_.data() + entryAt + kGroupEntry);
            // A damaged table is left to the search, which reads and refuses it.
            if (from > to || to > streamBits) continue;
            const uint64_t at = stream_ + from / 8;
            const size_t bytes = static_cast<size_t>((to + 7) / 8 - from / 8 + 8);
            if (planned_.size() == kMostPlannedReads || at + bytes > size_ ||
                std::any_of(planned_.begin(), planned_.end(),
                            [&](const PlannedRead& p) { return p.at == at; }))
                continue;
            planned_.push_back({at, bytes, total, reads.size() + planned_.size(), false});
            total += bytes;
        }
    AddReads(fd_, planned_, total, plannedBytes_, reads);
}

void CNameSegment::Landed(const std::vector<BatchRead>& reads) const {
    MarkWhole(planned_, reads);
}

bool CNameSegment::CandidateBlocks(const std::vector<uint32_t>& all,
                                   const std::vector<uint32_t>& any,
                                   std::vector<uint32_t>& out) const {
    return CandidateBlocks(all, any, {}, out, nullptr);
}

bool CNameSegment::CandidateBlocks(const std::vector<uint32_t>& all,
                                   const std::vector<uint32_t>& first,
                                   const std::vector<uint32_t>& last, std::vector<uint32_t>& out,
                                   std::vector<uint32_t>* endBlocks) const {
    std::vector<uint32_t> list, merged;
    // The blocks holding any key of keys.
    auto anyOf = [&](const std::vector<uint32_t>& keys, std::vector<uint32_t>& blocks) {
        blocks.clear();
        for (uint32_t key : keys) {
            if (!BlocksOf(key, list)) return false;
            merged.clear();
            std::set_union(blocks.begin(), blocks.end(), list.begin(), list.end(),
                           std::back_inserter(merged));
            blocks.swap(merged);
        }
        return true;
    };
    // With last, the blocks holding a key of first and one of last; else those
    // holding any key of first.
    std::vector<uint32_t> extra;
    if (!anyOf(first, extra)) return false;
    if (!last.empty() && !extra.empty() && last != first) {
        std::vector<uint32_t> lastBlocks, both;
        if (!anyOf(last, lastBlocks)) return false;
        std::set_intersection(extra.begin(), extra.end(), lastBlocks.begin(), lastBlocks.end(),
                              std::back_inserter(both));
        extra.swap(both);
    }
    out.clear();
    bool firstList = true;
    // Keys in shorter groups first: their lists tend to be shorter, and once the
    // blocks left are none the other lists are not read.
    std::vector<std::pair<uint32_t, uint32_t>> order;
    for (uint32_t key : all) order.emplace_back(GroupBits(key), key);
    std::sort(order.begin(), order.end());
    for (const auto& [bits, key] : order) {
        if (!BlocksOf(key, list)) return false;
        if (firstList) {
            out.swap(list);
            firstList = false;
        } else {
            merged.clear();
            std::set_intersection(out.begin(), out.end(), list.begin(), list.end(),
                                  std::back_inserter(merged));
            out.swap(merged);
        }
        if (out.empty()) break;
    }
    merged.clear();
    std::set_union(out.begin(), out.end(), extra.begin(), extra.end(), std::back_inserter(merged));
    out.swap(merged);
    if (endBlocks) endBlocks->swap(extra);
    return true;
}

std::vector<uint32_t> CNameSegment::Candidates(const std::vector<uint32_t>& keys) const {
    std::vector<uint32_t> blocks, result;
    if (!CandidateBlocks(keys, {}, blocks)) blocks.clear();
    for (uint32_t b : blocks)
        for (uint32_t o = b * kBlock; o < entryCount_ && o < (b + 1) * kBlock; ++o)
            result.push_back(o);
    return result;
}

bool CNameSegment::ChecksumMatches() const {
    // Kept from segment to segment: a refresh checks every segment of a library.
    static thread_local std::vector<unsigned char> body;
    body.resize(size_ - kFixed);
    unsigned char sum[8];
    const bool ok = ReadSegment(kCounts + 32, sum, 8) &&
                    ReadSegment(kFixed, body.data(), body.size()) &&
                    Get64(sum) == BodySum(body.data(), body.size());
    if (body.capacity() > (size_t{8} << 20)) std::vector<unsigned char>().swap(body);
    return ok;
}

// Neighbouring candidate blocks read at once, at most (a bound on the buffer).
constexpr uint32_t kMostBlocksAtOnce = 16;
// Record bytes read ahead per disc, at most.
constexpr size_t kMostPlannedRecordBytes = size_t{256} << 10;

namespace {

// The run of neighbouring candidate blocks from blocks[i] on that is read at once.
uint32_t RunAt(const std::vector<uint32_t>& blocks, size_t i) {
    uint32_t run = 1;
    while (i + run < blocks.size() && run < kMostBlocksAtOnce && blocks[i + run] == blocks[i] + run)
        ++run;
    return run;
}

}  // namespace

void CNameSegment::PlanRecordReads(const DiscSearchOptions& options,
                                   std::vector<BatchRead>& reads) const {
    plannedRuns_.clear();
    PlannedCandidates& c = plannedCandidates_;
    c.made = false;
    KeyQuery q;
    if (fileFd_ < 0 || !MakeQuery(options, q)) return;
    cost_ = SearchCost{};
    // A damaged segment is left to the search, which finds it so again.
    if (!CandidateBlocks(q.all, q.first, q.last, c.blocks, &c.pinyinBlocks)) return;
    c.made = true;
    c.keyword = options.keyword;
    c.flags = CandidateFlags(options.flags);
    c.cost = cost_;
    // Records in walk order only, whose runs' places are in the kept table.
    if (!sequential_ || blockStartTable_.empty()) return;
    size_t total = 0;
    for (size_t i = 0; i < c.blocks.size();) {
        const uint32_t block = c.blocks[i], run = RunAt(c.blocks, i);
        i += run;
        if ((uint64_t{block} + run) * 4 + 4 > blockStartTable_.size()) break;
        const uint64_t begin = Get32(blockStartTable_.data() + uint64_t{block} * 4),
                       end = Get32(blockStartTable_.data() + (uint64_t{block} + run) * 4);
        if (end <= begin || end > fileSize_ || total + (end - begin) > kMostPlannedRecordBytes)
            break;
        const size_t bytes = static_cast<size_t>(end - begin);
        plannedRuns_.push_back(
            {{begin, bytes, total, reads.size() + plannedRuns_.size(), false}, block, run});
        total += bytes;
    }
    AddReads(fileFd_, plannedRuns_, total, plannedRecords_, reads);
}

void CNameSegment::LandedRecords(const std::vector<BatchRead>& reads) const {
    MarkWhole(plannedRuns_, reads);
}

void CNameSegment::ForgetPlanned() const {
    plannedCandidates_.made = false;
    // Not kept for every disc held between searches.
    std::vector<PlannedRead>().swap(planned_);
    std::vector<PlannedRun>().swap(plannedRuns_);
    std::string().swap(plannedCandidates_.keyword);
    std::vector<unsigned char>().swap(plannedBytes_);
    std::vector<unsigned char>().swap(plannedRecords_);
    std::vector<uint32_t>().swap(plannedCandidates_.blocks);
    std::vector<uint32_t>().swap(plannedCandidates_.pinyinBlocks);
}

bool CNameSegment::ReadBlock(uint32_t block, std::vector<BlockRecord>& records,
                             std::string& buffer) const {
    return ReadBlocks(block, 1, records, buffer);
}

bool CNameSegment::ReadBlocks(uint32_t block, uint32_t blocks, std::vector<BlockRecord>& records,
                              std::string& buffer) const {
    records.clear();
    if (block >= blockCount_ || blocks == 0 || blocks > blockCount_ - block) return false;
    const uint32_t first = block * kBlock;
    const uint32_t count = std::min(kBlock * blocks, entryCount_ - first);
    constexpr uint64_t kMostRecord = kRecordFixedSize + kMaxNameBytes;
    auto parse = [&](size_t at, uint32_t ordinal, uint32_t offset) {
        if (offset < kFirstEntryOffset || at + kRecordFixedSize > buffer.size()) return false;
        const size_t n = static_cast<unsigned char>(buffer[at + kEntryFixedSize]);
        if (at + kRecordFixedSize + n > buffer.size()) return false;
        records.push_back({ordinal, offset, at, kRecordFixedSize + n});
        return true;
    };
    if (sequential_) {
        // The blocks' records lie back to back, up to the next block's first.
        uint64_t begin, end;
        if (!blockStartTable_.empty()) {
            if ((uint64_t{block} + blocks) * 4 + 4 > blockStartTable_.size()) return false;
            begin = Get32(blockStartTable_.data() + uint64_t{block} * 4);
            end = Get32(blockStartTable_.data() + (uint64_t{block} + blocks) * 4);
        } else {
            // One read for a short run, the two ends for a long one.
            unsigned char read[(kMostBlocksAtOnce + 1) * 4];
            const bool whole = blocks <= kMostBlocksAtOnce;
            if (!ReadSegment(blockStarts_ + uint64_t{block} * 4, read,
                             whole ? (size_t{blocks} + 1) * 4 : 4) ||
                (!whole &&
                 !ReadSegment(blockStarts_ + (uint64_t{block} + blocks) * 4, read + 4, 4)))
                return false;
            begin = Get32(read);
            end = Get32(read + (whole ? blocks * 4 : 4));
        }
        if (begin < kFirstEntryOffset || end <= begin || end > fileSize_ ||
            end - begin > count * kMostRecord)
            return false;
        const auto planned =
            std::find_if(plannedRuns_.begin(), plannedRuns_.end(), [&](const PlannedRun& r) {
                return r.whole && r.block == block && r.blocks == blocks && r.at == begin &&
                       r.bytes == end - begin;
            });
        if (planned != plannedRuns_.end()) {
            ++cost_.ahead;
            buffer.assign(reinterpret_cast<const char*>(plannedRecords_.data()) + planned->into,
                          planned->bytes);
        } else {
            buffer.resize(static_cast<size_t>(end - begin));
            if (!ReadFully(fileFd_, buffer.data(), buffer.size(), begin)) return false;
        }
        size_t at = 0;
        for (uint32_t i = 0; i < count; ++i) {
            if (!parse(at, first + i, static_cast<uint32_t>(begin + at))) return false;
            at += records.back().length;
        }
        // The records fill the block exactly up to the next one.
        return at == buffer.size();
    }
    buffer.clear();
    if (blocks > 1) {
        // Record by record: one block at a time.
        std::vector<BlockRecord> more;
        std::string moreBytes;
        for (uint32_t b = block; b < block + blocks; ++b) {
            if (!ReadBlocks(b, 1, more, moreBytes)) return false;
            for (BlockRecord r : more) {
                r.at += buffer.size();
                records.push_back(r);
            }
            buffer += moreBytes;
        }
        return true;
    }
    unsigned char offsets[kBlock * 4];
    if (!ReadSegment(offsets_ + uint64_t{first} * 4, offsets, count * 4)) return false;
    buffer.assign(count * kMostRecord, '\0');
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = Get32(offsets + i * 4);
        if (offset >= fileSize_) return false;
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(kMostRecord, fileSize_ - offset));
        const size_t at = i * kMostRecord;
        if (!ReadFully(fileFd_, buffer.data() + at, want, offset)) return false;
        // parse checks against the buffer's size: bound it by what was read.
        if (want < kRecordFixedSize ||
            kRecordFixedSize + static_cast<unsigned char>(buffer[at + kEntryFixedSize]) > want)
            return false;
        if (!parse(at, first + i, offset)) return false;
    }
    return true;
}

bool CNameSegment::ParentPath(uint32_t ordinal, std::string& parentPath) const {
    if (dirTable_.size() != size_t{dirCount_} * kDirSize) {
        dirTable_.resize(size_t{dirCount_} * kDirSize);
        if (!ReadSegment(dirs_, dirTable_.data(), dirTable_.size()) ||
            static_cast<uint32_t>(Fnv1a(dirTable_.data(), dirTable_.size())) != dirSum_) {
            dirTable_.clear();
            return false;
        }
    }
    auto dirAt = [&](size_t i, uint32_t& ord, uint32_t& end, int32_t& parent, uint32_t& rec) {
        const unsigned char* d = dirTable_.data() + i * kDirSize;
        ord = Get32(d);
        end = Get32(d + 4);
        parent = static_cast<int32_t>(Get32(d + 8));
        rec = Get32(d + 12);
    };
    // The innermost directory that starts before the entry and whose subtree
    // holds it.
    size_t lo = 0, hi = dirCount_;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        uint32_t ord, end, rec;
        int32_t parent;
        dirAt(mid, ord, end, parent, rec);
        if (ord < ordinal)
            lo = mid + 1;
        else
            hi = mid;
    }
    const std::string* chain[kMaxPath];
    size_t depth = 0;
    int64_t d = static_cast<int64_t>(lo) - 1;
    bool inside = false;
    while (d >= 0) {
        uint32_t ord, end, rec;
        int32_t parent;
        dirAt(static_cast<size_t>(d), ord, end, parent, rec);
        // Parents come before their children, so the chain ends.
        if (parent >= d || parent < -1) return false;
        if (!inside && end <= ordinal) {
            d = parent;
            continue;
        }
        inside = true;
        if (depth == kMaxPath) return false;
        auto cached = dirNames_.find(static_cast<uint32_t>(d));
        if (cached == dirNames_.end()) {
            unsigned char record[kRecordFixedSize + kMaxNameBytes];
            if (rec < kFirstEntryOffset || uint64_t{rec} + kRecordFixedSize > fileSize_)
                return false;
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(sizeof(record), fileSize_ - rec));
            if (!ReadFully(fileFd_, record, want, rec)) return false;
            const size_t n = record[kEntryFixedSize];
            if (kRecordFixedSize + n > want) return false;
            std::string_view name(reinterpret_cast<const char*>(record + kRecordFixedSize), n);
            cached =
                dirNames_
                    .emplace(static_cast<uint32_t>(d), std::string(name.substr(0, name.find('\0'))))
                    .first;
        }
        chain[depth++] = &cached->second;
        d = parent;
    }
    parentPath = label_ + ":\\";
    while (depth > 0) {
        parentPath.append(*chain[--depth]);
        parentPath += '\\';
    }
    return true;
}

bool CNameSegment::Entry(uint32_t ordinal, int32_t& recordOffset, std::string& parentPath,
                         std::string_view& name) const {
    std::vector<BlockRecord> records;
    if (ordinal >= entryCount_ || !ReadBlock(ordinal / kBlock, records, entryBuffer_)) return false;
    const BlockRecord& r = records[ordinal % kBlock];
    name = std::string_view(entryBuffer_.data() + r.at + kRecordFixedSize,
                            r.length - kRecordFixedSize);
    name = name.substr(0, name.find('\0'));
    recordOffset = static_cast<int32_t>(r.offset);
    return ParentPath(ordinal, parentPath);
}

bool CNameSegment::Search(const std::string& indexPath, const DiscSearchOptions& options,
                          const std::function<CIndexReader*()>& openReader,
                          const std::function<void(const SearchResult&)>& onHit) const {
    cost_ = SearchCost{};
    // What was read ahead serves this search only.
    struct Forget {
        const CNameSegment& segment;
        ~Forget() { segment.ForgetPlanned(); }
    } forget{*this};
    KeyQuery q;
    if (!MakeQuery(options, q)) return false;
    std::vector<uint32_t> blocks, pinyinBlocks;
    PlannedCandidates& planned = plannedCandidates_;
    if (planned.made && planned.keyword == options.keyword &&
        planned.flags == CandidateFlags(options.flags)) {
        blocks.swap(planned.blocks);
        pinyinBlocks.swap(planned.pinyinBlocks);
        cost_ = planned.cost;
    } else if (!CandidateBlocks(q.all, q.first, q.last, blocks, &pinyinBlocks)) {
        return false;
    }
    if (blocks.empty()) return true;
    CIndexReader* open = openReader();
    if (!open) return false;
    CIndexReader& reader = *open;
    reader.SetSearchOptions(nullptr, options.typeFilter, options.flags);
    reader.PrepareEntryMatch(options.keyword);

    // Only records that may hit go to the matcher: those whose name holds the
    // keyword's bytes (letters folded), whose annotation does, and with pinyin
    // those whose name has a multi-byte character (the only ones pinyin finds
    // without the keyword's bytes) in a block that holds the pinyin keys.
    const std::string_view keyword = options.keyword;
    const bool names = (options.flags & (SF_FILES | SF_DIRECTORIES)) != 0;
    const bool pinyin = names && (options.flags & SF_PINYIN) && IsPinyinKeyword(keyword);
    std::vector<int32_t> noted;
    if (options.flags & SF_ANNOTATIONS) {
        for (const Annotation& a : reader.Annotations())
            if (keyword_bytes::MayHold(a.text, keyword)) noted.push_back(a.id);
        std::sort(noted.begin(), noted.end());
    }
    // Hits are kept until every candidate checked out: a segment found damaged
    // half way reports nothing, and the disc is walked instead.
    std::vector<SearchResult> hits;
    SearchResult hit;
    hit.fullIndexPath = indexPath;
    CopyToFixed(hit.indexPath, sizeof(hit.indexPath), indexPath);
    std::vector<BlockRecord> records;
    std::vector<char> mayHit;
    std::string buffer;
    // Neighbouring candidate blocks are read together.
    for (size_t i = 0; i < blocks.size();) {
        const uint32_t run = RunAt(blocks, i);
        if (!ReadBlocks(blocks[i], run, records, buffer)) return false;
        i += run;
        cost_.blocks += run;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        mayHit.assign(records.size(), 0);
        if (names) {
            size_t r = 0;
            keyword_bytes::ForEachPlace(bytes, buffer.size(), keyword, [&](size_t at) {
                while (r < records.size() && records[r].at + records[r].length <= at) ++r;
                if (r < records.size() && at >= records[r].at + kRecordFixedSize &&
                    at + keyword.size() <= records[r].at + records[r].length)
                    mayHit[r] = 1;
            });
        }
        for (size_t r = 0; r < records.size(); ++r) {
            const BlockRecord& rec = records[r];
            const int32_t at = static_cast<int32_t>(rec.offset);
            const int32_t id = rec.offset == kFirstEntryOffset ? kFirstEntryId : at;
            if (!mayHit[r] && !std::binary_search(noted.begin(), noted.end(), id)) {
                if (!pinyin || !std::binary_search(pinyinBlocks.begin(), pinyinBlocks.end(),
                                                   rec.ordinal >> kBlockShift))
                    continue;
                const unsigned char* name = bytes + rec.at + kRecordFixedSize;
                if (std::none_of(name, bytes + rec.at + rec.length,
                                 [](unsigned char c) { return c >= 0x80; }))
                    continue;
            }
            ++cost_.records;
            const std::string* annotation = nullptr;
            if (!reader.MatchRecordBytes(bytes + rec.at, rec.length, at, id, hit.entry, annotation))
                continue;
            if (!ParentPath(rec.ordinal, hit.fullParentPath)) return false;
            CopyToFixed(hit.parentPath, sizeof(hit.parentPath), hit.fullParentPath);
            hit.annotation = annotation ? *annotation : std::string();
            hits.push_back(hit);
        }
    }
    cost_.hits = hits.size();
    for (const SearchResult& h : hits) onHit(h);
    return true;
}

bool SearchDiscThroughIndex(const std::string& cacheDir, const std::string& indexPath,
                            const DiscSearchOptions& options, CIndexReader& reader,
                            const std::function<void(const SearchResult&)>& onHit) {
    KeyQuery q;
    if (!MakeQuery(options, q)) return false;
    std::unique_ptr<CNameSegment> seg = CNameSegment::OpenFresh(cacheDir, indexPath);
    if (!seg) return false;
    // The index is opened only for a disc with candidates.
    bool opened = false;
    const bool ok = seg->Search(
        indexPath, options,
        [&]() -> CIndexReader* {
            opened = reader.Open(indexPath, OpenMode::ReadShareAll) != 0;
            // The annotations just read must be the ones the segment was built
            // with: a note written since would be missed where no key leads to it.
            return opened && seg->StillDescribes(indexPath) ? &reader : nullptr;
        },
        onHit);
    if (opened) reader.Close();
    return ok;
}

}  // namespace orb
