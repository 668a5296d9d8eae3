// SPDX-License-Identifier: GPL-3.0-or-later
// Segments of the library name index: building, checking, mapping and searching.
#include "search/index/name_index.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace orb {

namespace {

// Layout (little-endian): a fixed header, then the entries (record offset,
// parent ordinal or -1, name offset, name length: 16 bytes each), the names, the
// key table (key, offset of its list: 8 bytes each, ascending keys) and the
// posting lists (ordinal gaps as base-128 varints).
constexpr char kMagic[8] = {'K', 'O', 'R', 'B', 'N', 'I', 'X', '1'};
constexpr size_t kFixed = 168;
constexpr size_t kEntrySize = 16;
constexpr size_t kKeySize = 8;
constexpr uint32_t kPairTag = 1u << 24;  // keys of byte pairs; trigrams stay below

inline unsigned char FoldByte(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// Keys of a text: every byte trigram and every byte pair that starts with a high
// byte, over the text with every A-Z byte folded. That fold also touches trailing
// bytes of double-byte characters, which the engine leaves alone; it is a
// function of single bytes, so any match the engine makes, in any letter case,
// is still a match of the folded bytes, and the keys never rule out a hit.
template <typename F>
void ForEachKey(std::string_view text, F add) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i + 1 < n; ++i) {
        const uint32_t a = FoldByte(p[i]), b = FoldByte(p[i + 1]);
        if (a >= 0x80) add(kPairTag | (a << 8) | b);
        if (i + 2 < n) add((a << 16) | (b << 8) | FoldByte(p[i + 2]));
    }
}

uint64_t Fnv1a(const unsigned char* p, size_t n, uint64_t h = 1469598103934665603ULL) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

// A checksum of the segment's body, eight bytes a step: fast enough to check
// every segment a search takes candidates from.
uint64_t BodySum(const unsigned char* p, size_t n) {
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, p + i, 8);
        h = (h ^ v) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ULL;
    return h;
}

void Put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
uint64_t Get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

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

bool ReadIdentity(const std::string& indexPath, Identity& id) {
    int fd = OpenShared(indexPath, OpenMode::ReadShareAll);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              ReadFully(fd, id.header, kHeaderSize, kMagicSize);
    ::close(fd);
    if (!ok) return false;
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

void PutIdentity(std::string& out, const Identity& id) {
    Put64(out, id.size);
    Put64(out, static_cast<uint64_t>(id.mtimeNs));
    Put64(out, id.ino);
    Put64(out, id.dev);
    Put64(out, static_cast<uint64_t>(id.companionSize));
    Put64(out, static_cast<uint64_t>(id.companionMtimeNs));
    out.append(reinterpret_cast<const char*>(id.header), kHeaderSize);
}

bool MakeDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
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
    if (keyword.size() == 2 && static_cast<unsigned char>(keyword[0]) >= 0x80) {
        keys.push_back(kPairTag | uint32_t{FoldByte(static_cast<unsigned char>(keyword[0]))} << 8 |
                       FoldByte(static_cast<unsigned char>(keyword[1])));
    } else if (keyword.size() >= 3) {
        const auto* p = reinterpret_cast<const unsigned char*>(keyword.data());
        for (size_t i = 0; i + 2 < keyword.size(); ++i)
            keys.push_back(uint32_t{FoldByte(p[i])} << 16 | uint32_t{FoldByte(p[i + 1])} << 8 |
                           FoldByte(p[i + 2]));
    }
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
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
    Identity id;
    if (!ReadIdentity(indexPath, id)) {
        error = "cannot read the index";
        return false;
    }
    CIndexReader reader;
    if (!reader.Open(indexPath, OpenMode::ReadShareAll)) {
        error = reader.LastError();
        return false;
    }
    // The first annotation of each id, as the engine finds it.
    std::unordered_map<int32_t, const std::string*> notes;
    for (const Annotation& a : reader.Annotations()) notes.emplace(a.id, &a.text);

    // The walk of the engine: depth first, each directory before its contents.
    std::string entries, names;
    std::vector<uint64_t> pairs;  // key << 32 | ordinal
    struct Level {
        IndexEntry entry;
        int32_t ordinal;
    };
    std::vector<Level> stack;  // the open directories, innermost last
    uint64_t budget = reader.MaxEntryCount();
    uint32_t ordinal = 0;
    IndexEntry e;
    bool more = reader.ReadFirstEntry(nullptr, e) != 0;
    while (more && budget-- > 0) {
        const int32_t parent = stack.empty() ? -1 : stack.back().ordinal;
        std::string_view name = e.Name();
        Put32(entries, static_cast<uint32_t>(e.recordOffset));
        Put32(entries, static_cast<uint32_t>(parent));
        Put32(entries, static_cast<uint32_t>(names.size()));
        Put32(entries, static_cast<uint32_t>(name.size()));
        names.append(name);
        auto add = [&](uint32_t key) { pairs.push_back(uint64_t{key} << 32 | ordinal); };
        ForEachKey(name, add);
        const int32_t entryId = e.recordOffset == static_cast<int32_t>(kFirstEntryOffset)
                                    ? kFirstEntryId
                                    : e.recordOffset;
        auto note = notes.find(entryId);
        if (note != notes.end()) ForEachKey(*note->second, add);
        ++ordinal;

        IndexEntry next;
        if (e.IsDirectory() && reader.ReadFirstEntry(&e, next)) {
            stack.push_back({e, static_cast<int32_t>(ordinal - 1)});
            e = next;
            continue;
        }
        // On to the next sibling, leaving every level that has none.
        more = false;
        IndexEntry at = e;
        for (;;) {
            if (reader.ReadNextEntry(at, next)) {
                e = next;
                more = true;
                break;
            }
            if (stack.empty()) break;
            at = stack.back().entry;
            stack.pop_back();
        }
    }
    reader.Close();

    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::string keys, postings;
    for (size_t i = 0; i < pairs.size();) {
        const uint32_t key = static_cast<uint32_t>(pairs[i] >> 32);
        Put32(keys, key);
        Put32(keys, static_cast<uint32_t>(postings.size()));
        uint32_t last = 0;
        bool first = true;
        for (; i < pairs.size() && static_cast<uint32_t>(pairs[i] >> 32) == key; ++i) {
            const uint32_t ord = static_cast<uint32_t>(pairs[i]);
            uint32_t gap = first ? ord : ord - last;
            first = false;
            last = ord;
            do {
                unsigned char b = gap & 0x7F;
                gap >>= 7;
                postings += static_cast<char>(gap ? b | 0x80 : b);
            } while (gap);
        }
    }
    std::string body = entries + names + keys + postings;
    std::string out(kMagic, sizeof(kMagic));
    PutIdentity(out, id);
    Put32(out, ordinal);
    Put32(out, static_cast<uint32_t>(names.size()));
    Put32(out, static_cast<uint32_t>(keys.size() / kKeySize));
    Put32(out, static_cast<uint32_t>(postings.size()));
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
    if (path.empty() || !ReplaceFileAtomically(path, out, false)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

CNameSegment::~CNameSegment() {
    if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
}

std::unique_ptr<CNameSegment> CNameSegment::OpenFresh(const std::string& cacheDir,
                                                      const std::string& indexPath) {
    Identity id;
    if (!ReadIdentity(indexPath, id)) return nullptr;
    std::string path = NameSegmentPath(cacheDir, indexPath);
    if (path.empty()) return nullptr;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(kFixed)) {
        ::close(fd);
        return nullptr;
    }
    void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return nullptr;
    std::unique_ptr<CNameSegment> seg(new CNameSegment);
    seg->data_ = static_cast<const unsigned char*>(map);
    seg->size_ = static_cast<size_t>(st.st_size);
    std::string expected(kMagic, sizeof(kMagic));
    PutIdentity(expected, id);
    if (std::memcmp(seg->data_, expected.data(), expected.size()) != 0 || !seg->Check())
        return nullptr;
    return seg;
}

// Sizes that add up to the file: a truncated, extended or foreign file is refused
// here. Only what a search reads is checked further, as it reads it (an open must
// not read the whole segment); the checksum is checked when the index is
// refreshed.
bool CNameSegment::Check() {
    const unsigned char* h = data_ + kFixed - 24;
    entryCount_ = Get32(h);
    namesBytes_ = Get32(h + 4);
    keyCount_ = Get32(h + 8);
    postingBytes_ = Get32(h + 12);
    const uint64_t total = kFixed + uint64_t{entryCount_} * kEntrySize + namesBytes_ +
                           uint64_t{keyCount_} * kKeySize + postingBytes_;
    if (total != size_) return false;
    entries_ = data_ + kFixed;
    names_ = entries_ + size_t{entryCount_} * kEntrySize;
    keys_ = names_ + namesBytes_;
    postings_ = keys_ + size_t{keyCount_} * kKeySize;
    IndexHeader header;
    DecodeHeader(data_ + 56, header);
    label_ = std::string(HeaderLabel(header));
    return true;
}

bool CNameSegment::DecodeList(uint32_t key, std::vector<uint32_t>& out) const {
    out.clear();
    size_t lo = 0, hi = keyCount_;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (Get32(keys_ + mid * kKeySize) < key)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == keyCount_ || Get32(keys_ + lo * kKeySize) != key) return true;  // no entry
    const uint32_t begin = Get32(keys_ + lo * kKeySize + 4);
    const uint32_t end =
        lo + 1 < keyCount_ ? Get32(keys_ + (lo + 1) * kKeySize + 4) : postingBytes_;
    if (end < begin) return false;
    uint64_t ord = 0;
    bool first = true;
    for (uint32_t at = begin; at < end;) {
        uint64_t gap = 0;
        int shift = 0;
        unsigned char b;
        do {
            if (at >= end || shift > 28) return false;
            b = postings_[at++];
            gap |= uint64_t{b & 0x7Fu} << shift;
            shift += 7;
        } while (b & 0x80);
        if (!first && gap == 0) return false;
        ord = first ? gap : ord + gap;
        first = false;
        if (ord >= entryCount_) return false;
        out.push_back(static_cast<uint32_t>(ord));
    }
    return true;
}

std::vector<uint32_t> CNameSegment::Candidates(const std::vector<uint32_t>& keys) const {
    std::vector<uint32_t> result, list, merged;
    bool firstList = true;
    for (uint32_t key : keys) {
        // A list that does not decode cannot be trusted to narrow: every entry.
        if (!DecodeList(key, list)) {
            list.resize(entryCount_);
            for (uint32_t i = 0; i < entryCount_; ++i) list[i] = i;
        }
        if (firstList) {
            result.swap(list);
            firstList = false;
        } else {
            merged.clear();
            std::set_intersection(result.begin(), result.end(), list.begin(), list.end(),
                                  std::back_inserter(merged));
            result.swap(merged);
        }
        if (result.empty()) break;
    }
    return result;
}

bool CNameSegment::ChecksumMatches() const {
    return Get64(data_ + kFixed - 8) == BodySum(data_ + kFixed, size_ - kFixed);
}

bool CNameSegment::Entry(uint32_t ordinal, int32_t& recordOffset, std::string& parentPath,
                         std::string_view& name) const {
    auto read = [&](uint32_t at, int32_t& parent, std::string_view& n) {
        const unsigned char* e = entries_ + size_t{at} * kEntrySize;
        parent = static_cast<int32_t>(Get32(e + 4));
        const uint32_t offset = Get32(e + 8), length = Get32(e + 12);
        if (length > kMaxNameBytes || offset > namesBytes_ || length > namesBytes_ - offset)
            return false;
        n = std::string_view(reinterpret_cast<const char*>(names_ + offset), length);
        // Parents come before their children in walk order, so the chain ends.
        return parent >= -1 && parent < static_cast<int32_t>(at);
    };
    if (ordinal >= entryCount_) return false;
    int32_t parent;
    if (!read(ordinal, parent, name)) return false;
    recordOffset = static_cast<int32_t>(Get32(entries_ + size_t{ordinal} * kEntrySize));
    std::vector<std::string_view> chain;
    while (parent >= 0) {
        std::string_view n;
        const uint32_t at = static_cast<uint32_t>(parent);
        if (!read(at, parent, n)) return false;
        chain.push_back(n);
    }
    parentPath = label_ + ":\\";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        parentPath.append(it->data(), it->size());
        parentPath += '\\';
    }
    return true;
}

NameIndexRefresh RefreshNameIndex(const std::string& libraryDir, bool rebuild,
                                  const std::atomic<int>* abort) {
    NameIndexRefresh r;
    const std::string cacheDir = NameIndexDirectory(libraryDir);
    std::set<std::string> used;
    for (const std::string& path : LibraryDiscPaths(libraryDir)) {
        if (abort && abort->load()) return r;
        ++r.discs;
        std::string seg = NameSegmentPath(cacheDir, path);
        if (!seg.empty()) used.insert(seg.substr(seg.rfind('/') + 1));
        if (!rebuild) {
            std::unique_ptr<CNameSegment> fresh = CNameSegment::OpenFresh(cacheDir, path);
            if (fresh && fresh->ChecksumMatches()) {
                ++r.fresh;
                continue;
            }
        }
        std::string error;
        if (BuildNameSegment(cacheDir, path, error))
            ++r.built;
        else
            ++r.failed;
    }
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

bool SearchDiscThroughIndex(const std::string& cacheDir, const std::string& indexPath,
                            const DiscSearchOptions& options, CIndexReader& reader,
                            const std::function<void(const SearchResult&)>& onHit) {
    std::vector<uint32_t> keys = NameIndexKeys(options.keyword);
    if (keys.empty()) return false;
    std::unique_ptr<CNameSegment> seg = CNameSegment::OpenFresh(cacheDir, indexPath);
    if (!seg) return false;
    std::vector<uint32_t> candidates = seg->Candidates(keys);
    if (candidates.empty()) return true;
    if (!reader.Open(indexPath, OpenMode::ReadShareAll)) return false;
    reader.SetSearchOptions(nullptr, options.typeFilter, options.flags);
    reader.PrepareEntryMatch(options.keyword);
    // Hits are kept until every candidate checked out: a segment found damaged
    // half way reports nothing, and the disc is walked instead.
    std::vector<SearchResult> hits;
    SearchResult hit;
    hit.fullIndexPath = indexPath;
    CopyToFixed(hit.indexPath, sizeof(hit.indexPath), indexPath);
    for (uint32_t ordinal : candidates) {
        int32_t offset;
        std::string_view name;
        const std::string* annotation = nullptr;
        if (!seg->Entry(ordinal, offset, hit.fullParentPath, name)) {
            reader.Close();
            return false;
        }
        const int32_t id =
            offset == static_cast<int32_t>(kFirstEntryOffset) ? kFirstEntryId : offset;
        const bool match = reader.MatchEntryAt(offset, id, hit.entry, annotation) != 0;
        // The record must be the one the segment names.
        if (offset < static_cast<int32_t>(kFirstEntryOffset) || hit.entry.recordOffset != offset ||
            hit.entry.Name() != name) {
            reader.Close();
            return false;
        }
        if (!match) continue;
        CopyToFixed(hit.parentPath, sizeof(hit.parentPath), hit.fullParentPath);
        hit.annotation = annotation ? *annotation : std::string();
        hits.push_back(hit);
    }
    for (const SearchResult& h : hits) onHit(h);
    reader.Close();
    return true;
}

}  // namespace orb
