// SPDX-License-Identifier: GPL-3.0-or-later
// Segments of the library name index: building, checking, reading and searching.
#include "search/index/name_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <unordered_map>

#include "index/index_format.h"
#include "library/store/library_store.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/index/keyword_bytes.h"
#include "search/index/name_keys.h"
#include "search/index/segment_bits.h"
#include "search/index/segment_build.h"

namespace orb {

namespace {

using namespace name_keys;
using namespace segment_bits;

// Layout (little-endian): a fixed part (magic, what the segment describes, the
// counts and a checksum of the rest), then
//   - the record offset of the first entry of every block of kBlock entries in walk
//     order; when the index file does not hold its records in walk order, the
//     record offset of every entry follows;
//   - the directories (ordinal, ordinal after its subtree, parent directory,
//     record offset: 16 bytes each), which give a hit its path;
//   - per 64 buckets the bit offset of their first list and a check of their
//     bytes;
//   - the lists, one per bucket of hashed keys (each family of keys in buckets
//     of its own, see BucketOf): the blocks holding a key of the bucket,
//     Rice-coded gaps.
// Names are not copied: they are read from the index file, whose
// identity the segment checks. Postings name blocks, not entries: a key of
// random text is rare in a block, so a block costs about as many postings as
// its entries would, and gaps between blocks are much shorter. Blocks of 128
// entries keep the index within 16 bytes an entry; smaller blocks check fewer
// names per candidate (32: a quarter, for about 40% more bytes).
constexpr char kMagic[8] = {'K', 'O', 'R', 'B', 'N', 'I', 'X', '5'};
constexpr size_t kIdentitySize = 48 + kHeaderSize;
constexpr size_t kCounts = sizeof(kMagic) + kIdentitySize;
constexpr size_t kFixed = kCounts + 32 + 8;
constexpr size_t kGroupEntry = 6;  // bit offset of the group, check of its bytes
constexpr unsigned kBlockShift = 7;
constexpr uint32_t kBlock = 1u << kBlockShift;
constexpr unsigned kGroupShift = 6;  // buckets per entry of the group table
constexpr size_t kDirSize = 16;
constexpr uint32_t kFlagSequential = 1;
constexpr uint32_t kMaxBucketBits = 22;

// What a segment must agree with to describe its index: the index file's size,
// time, inode and header, and the companion's size and time (-1 when absent).
struct Identity {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t ino = 0;
    uint64_t dev = 0;
    int64_t companionSize = -1;
    int64_t companionMtimeNs = -1;
    unsigned char header[kHeaderSize] = {};
};

// The identity of an open index file, with its companion's; false when it is no
// regular file or its header cannot be read.
bool ReadIdentity(int fd, const std::string& indexPath, Identity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !ReadFully(fd, id.header, kHeaderSize, kMagicSize))
        return false;
    id.size = static_cast<uint64_t>(st.st_size);
    id.mtimeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    id.ino = st.st_ino;
    id.dev = st.st_dev;
    struct stat cs {};
    if (::stat(CompanionPath(indexPath).c_str(), &cs) == 0) {
        id.companionSize = cs.st_size;
        id.companionMtimeNs = int64_t{cs.st_mtim.tv_sec} * 1000000000 + cs.st_mtim.tv_nsec;
    }
    return true;
}

// Index files up to this size are read whole, once, for the walk and to learn
// whether their records lie in walk order; larger ones are walked through the
// reader's window and get every entry's offset in the segment.
constexpr uint64_t kWholeIndexLimit = uint64_t{64} << 20;

// The identity of the index file at path, taken before its entries are read: a
// change made meanwhile leaves the segment stale, never trusted.
bool IdentityOf(const std::string& indexPath, Identity& id) {
    int fd = OpenShared(indexPath, OpenMode::ReadShareAll);
    if (fd < 0) return false;
    const bool ok = ReadIdentity(fd, indexPath, id) && id.size >= kFirstEntryOffset;
    ::close(fd);
    return ok;
}

void PutIdentity(std::string& out, const Identity& id) {
    Put64(out, id.size);
    Put64(out, static_cast<uint64_t>(id.mtimeNs));
    Put64(out, id.ino);
    Put64(out, id.dev);
    Put64(out, static_cast<uint64_t>(id.companionSize));
    Put64(out, static_cast<uint64_t>(id.companionMtimeNs));
    out.append(reinterpret_cast<const char*>(id.header), kHeaderSize);
}

struct BuildWork {
    std::vector<uint32_t> offsets, keyed, blockEnds;
    void Clear() {
        // A huge disc's buffers are not kept for the next.
        constexpr size_t kKeep = size_t{8} << 20;
        for (std::vector<uint32_t>* v : {&offsets, &keyed, &blockEnds}) {
            if (v->capacity() > kKeep) std::vector<uint32_t>().swap(*v);
            v->clear();
        }
    }
};

bool MakeDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

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
    const uint8_t flags = options.flags & (SF_PINYIN | SF_FILES | SF_DIRECTORIES);
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

bool BuildNameSegment(const std::string& cacheDir, const std::string& indexPath,
                      std::string& error) {
    Identity identity;
    if (!IdentityOf(indexPath, identity)) {
        error = "cannot read the index";
        return false;
    }
    CIndexReader reader;
    if (!reader.Open(indexPath, OpenMode::ReadShareAll)) {
        error = reader.LastError();
        return false;
    }
    // Read once: the walk below reads from these bytes.
    size_t fileBytes = 0;
    const unsigned char* bytes = reader.HoldWholeFile(kWholeIndexLimit, fileBytes);
    // The first annotation of each id, as the engine finds it.
    std::unordered_map<int32_t, const std::string*> notes;
    for (const Annotation& a : reader.Annotations()) notes.emplace(a.id, &a.text);

    // Buffers kept from disc to disc: building a library then allocates (and page
    // faults) once per thread, not per disc.
    static thread_local BuildWork work;
    static thread_local segment_build::CBucketBitmaps maps;
    const uint64_t most = reader.MaxEntryCount();
    // The walk of the engine: depth first, each directory before its contents.
    std::vector<uint32_t>& offsets = work.offsets;
    struct Dir {
        uint32_t ordinal, end;
        int32_t parent;
        uint32_t recordOffset;
    };
    std::vector<Dir> dirs;
    std::vector<uint32_t>& keyed = work.keyed;          // keys in walk order, block after block
    std::vector<uint32_t>& blockEnds = work.blockEnds;  // per block, the end of its keys
    uint32_t ordinal = 0;
    bool sequential = false;
    uint64_t nextOffset = kFirstEntryOffset;
    // Walks the disc, giving each entry's keys to add and calling block(b) as
    // block b begins; false when block refuses.
    auto walk = [&](auto add, auto block) {
        work.Clear();
        dirs.clear();
        ordinal = 0;
        sequential = bytes != nullptr;
        nextOffset = kFirstEntryOffset;
        struct Level {
            IndexEntry entry;  // links and offset only
            int32_t dir;
        };
        IndexEntry links;
        std::vector<Level> stack;  // the open directories, innermost last
        uint64_t budget = most;
        IndexEntry e;
        bool more = reader.ReadFirstEntry(nullptr, e) != 0;
        while (more && budget-- > 0) {
            if ((ordinal & (kBlock - 1)) == 0 && !block(ordinal >> kBlockShift)) return false;
            const uint32_t at = static_cast<uint32_t>(e.recordOffset);
            offsets.push_back(at);
            if (at != nextOffset || uint64_t{at} + kRecordFixedSize > fileBytes)
                sequential = false;
            else
                nextOffset = uint64_t{at} + kRecordFixedSize + bytes[at + kEntryFixedSize];
            std::string_view name = e.Name();
            ForEachKey(name, add);
            ForEachPinyinKey(name, add);
            const int32_t entryId = e.recordOffset == static_cast<int32_t>(kFirstEntryOffset)
                                        ? kFirstEntryId
                                        : e.recordOffset;
            if (!notes.empty()) {
                auto note = notes.find(entryId);
                if (note != notes.end()) ForEachKey(*note->second, add);
            }
            ++ordinal;

            // Only an entry's links and offset are needed to go on after it (a read
            // that fails may leave e half written).
            links.nextSibling = e.nextSibling;
            links.recordOffset = e.recordOffset;
            if (e.IsDirectory()) {
                dirs.push_back({ordinal - 1, 0, stack.empty() ? -1 : stack.back().dir, at});
                if (reader.ReadFirstEntry(&e, e)) {
                    stack.push_back({links, static_cast<int32_t>(dirs.size() - 1)});
                    continue;
                }
                dirs.back().end = ordinal;
            }
            // On to the next sibling, leaving every level that has none.
            more = false;
            for (;;) {
                if (reader.ReadNextEntry(links, e)) {
                    more = true;
                    break;
                }
                if (stack.empty()) break;
                links = stack.back().entry;
                dirs[static_cast<size_t>(stack.back().dir)].end = ordinal;
                stack.pop_back();
            }
        }
        for (const Level& l : stack) dirs[static_cast<size_t>(l.dir)].end = ordinal;
        return true;
    };
    // Buckets from the entry count: about six per entry (the nearest power of
    // two, 4.2 to 8.5) keeps a rare key's bucket out of most blocks that do not
    // hold it, at about 15 bytes an entry.
    auto bucketBitsFor = [](uint64_t entries) {
        unsigned bits = kGroupShift;
        while (bits < kMaxBucketBits &&
               std::ldexp(1.0, static_cast<int>(bits)) * std::sqrt(2.0) < entries * 6.0)
            ++bits;
        return bits;
    };
    // The header's counts give the buckets before the walk, so each key goes
    // straight into its bucket's bitmap. When the walk finds another count (a
    // damaged header) or the disc is too large for bitmaps, it is walked again
    // keeping its keys.
    const uint64_t expected =
        std::min<uint64_t>(uint64_t{reader.GetFileCount()} + reader.GetDirectoryCount(), most);
    unsigned bucketBits = bucketBitsFor(expected);
    std::vector<uint32_t> groupBits;
    CBitWriter bits;
    bool coded = false;
    // The block's plane and bit in locals, which the compiler keeps in registers
    // (the bitmaps' own fields it would read again after every store).
    uint64_t* plane = nullptr;
    uint64_t bit = 0;
    const unsigned keyBits = bucketBits;
    if (maps.Start(bucketBits, (expected + kBlock - 1) / kBlock) &&
        walk([&](uint32_t key) { plane[BucketOf(key, keyBits)] |= bit; },
             [&](size_t b) {
                 if (b >= maps.Blocks()) return false;
                 plane = maps.Plane(b);
                 bit = uint64_t{1} << (b & 63);
                 return true;
             }) &&
        bucketBitsFor(ordinal) == bucketBits) {
        maps.Code((ordinal + kBlock - 1) / kBlock, kGroupShift, groupBits, bits);
        coded = true;
    } else {
        walk([&](uint32_t key) { keyed.push_back(key); },
             [&](size_t b) {
                 if (b > 0) blockEnds.push_back(static_cast<uint32_t>(keyed.size()));
                 return true;
             });
    }
    reader.Close();
    const uint32_t blocks = (ordinal + kBlock - 1) / kBlock;
    if (!coded) {
        blockEnds.push_back(static_cast<uint32_t>(keyed.size()));
        blockEnds.resize(blocks);
        bucketBits = bucketBitsFor(ordinal);
        segment_build::CodeBucketLists({keyed, blockEnds}, bucketBits, kGroupShift, groupBits,
                                       bits);
    }

    std::string& stream = bits.Finish();
    stream.append(8, '\0');  // the reader's word reads stay inside
    if (bits.Size() > UINT32_MAX) {
        error = "the index is too large for its segment";
        return false;
    }
    // A search checks the bytes of each group it reads, so a damaged list is
    // found before it is trusted.
    std::string groups;
    segment_build::PutGroupTable(stream, groupBits, groups);

    std::string body;
    for (uint32_t blk = 0; blk < blocks; ++blk) Put32(body, offsets[size_t{blk} * kBlock]);
    // Where the last record ends, so that every block's records can be checked to
    // fill it exactly (0 when they are not in walk order).
    Put32(body, sequential ? static_cast<uint32_t>(nextOffset) : 0);
    if (!sequential)
        for (uint32_t o : offsets) Put32(body, o);
    const size_t dirsAt = body.size();
    for (const Dir& d : dirs) {
        Put32(body, d.ordinal);
        Put32(body, d.end);
        Put32(body, static_cast<uint32_t>(d.parent));
        Put32(body, d.recordOffset);
    }
    const uint32_t dirSum = static_cast<uint32_t>(
        Fnv1a(reinterpret_cast<const unsigned char*>(body.data()) + dirsAt, body.size() - dirsAt));
    body += groups;
    body += stream;

    std::string out(kMagic, sizeof(kMagic));
    PutIdentity(out, identity);
    Put32(out, ordinal);
    Put32(out, sequential ? kFlagSequential : 0);
    Put32(out, kBlockShift);
    Put32(out, bucketBits);
    Put32(out, static_cast<uint32_t>(dirs.size()));
    Put32(out, static_cast<uint32_t>(stream.size()));
    Put32(out, dirSum);
    Put32(out, 0);
    Put64(out, BodySum(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
    out += body;

    if (!MakeDirectories(cacheDir)) {
        error = "cannot create the cache folder " + cacheDir;
        return false;
    }
    std::string path = NameSegmentPath(cacheDir, indexPath);
    // Renamed into place, never written over: a crash leaves the old segment or
    // the new one. Not flushed to the disk: a cache lost with the power is only
    // rebuilt, and a flush per disc would make building a library take minutes.
    if (path.empty() || !segment_build::SaveSegment(path, out)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
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
    std::vector<unsigned char>& buf = groupBuffer_;
    buf.resize(bytes);
    if (!ReadSegment(stream_ + firstByte, buf.data(), bytes)) return false;
    if (GroupCheck(buf.data() + (from / 8 - firstByte), from, to) != check) return false;
    CBitReader r(buf.data(), to - firstByte * 8, from - firstByte * 8);
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
        buffer.resize(static_cast<size_t>(end - begin));
        if (!ReadFully(fileFd_, buffer.data(), buffer.size(), begin)) return false;
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

NameIndexRefresh RefreshNameIndex(const std::string& libraryDir, bool rebuild,
                                  const std::atomic<int>* abort) {
    NameIndexRefresh r;
    const std::string cacheDir = NameIndexDirectory(libraryDir);
    std::set<std::string> used;
    std::vector<std::string> stale;  // discs whose segment is built
    // Discs whose segment still describes them, and their segments.
    std::vector<std::string> fresh, freshSegments;
    for (const std::string& path : LibraryDiscPaths(libraryDir)) {
        if (abort && abort->load()) return r;
        ++r.discs;
        std::string seg = NameSegmentPath(cacheDir, path);
        if (!seg.empty()) used.insert(seg.substr(seg.rfind('/') + 1));
        if (!rebuild && !seg.empty() && CNameSegment::OpenFresh(cacheDir, path)) {
            fresh.push_back(path);
            freshSegments.push_back(seg);
            continue;
        }
        stale.push_back(path);
    }
    segment_build::SegmentBuilds builds = segment_build::BuildSegments(cacheDir, stale, abort);
    // Fresh segments are then read whole to check their checksums, so that one
    // damaged inside is rebuilt (a search declines it only where it reads); after
    // the builds, so new and changed discs do not wait for them.
    if (!(abort && abort->load())) {
        const std::vector<std::string> damaged =
            segment_build::DamagedSegments(cacheDir, fresh, freshSegments, abort);
        const segment_build::SegmentBuilds again =
            segment_build::BuildSegments(cacheDir, damaged, abort);
        builds.built += again.built;
        builds.failed += again.failed;
        r.fresh = fresh.size() - damaged.size();
    }
    r.built = builds.built;
    r.failed = builds.failed;
    if (abort && abort->load()) return r;
    // Segments of discs that left the library, and what a crash left behind.
    ListDirectory(cacheDir, [&](const DirEntry& d) {
        const std::string full = cacheDir + "/" + d.name;
        const bool segment = d.name.size() > 4 && d.name.compare(d.name.size() - 4, 4, ".seg") == 0;
        if (!segment) {
            // A temporary file of a save that never finished (a running save is
            // a few milliseconds old).
            struct stat st {};
            if (::stat(full.c_str(), &st) == 0 && st.st_mtime + 60 < ::time(nullptr))
                ::unlink(full.c_str());
        } else if (used.count(d.name) == 0) {
            if (::unlink(full.c_str()) == 0) ++r.removed;
        } else {
            struct stat st {};
            if (::stat(full.c_str(), &st) == 0) r.bytes += static_cast<uint64_t>(st.st_size);
        }
        return true;
    });
    return r;
}

bool CNameSegment::Search(const std::string& indexPath, const DiscSearchOptions& options,
                          const std::function<CIndexReader*()>& openReader,
                          const std::function<void(const SearchResult&)>& onHit) const {
    cost_ = SearchCost{};
    KeyQuery q;
    if (!MakeQuery(options, q)) return false;
    std::vector<uint32_t> blocks, pinyinBlocks;
    if (!CandidateBlocks(q.all, q.first, q.last, blocks, &pinyinBlocks)) return false;
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
        uint32_t run = 1;
        while (i + run < blocks.size() && run < kMostBlocksAtOnce &&
               blocks[i + run] == blocks[i] + run)
            ++run;
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
            return opened ? &reader : nullptr;
        },
        onHit);
    if (opened) reader.Close();
    return ok;
}

}  // namespace orb
