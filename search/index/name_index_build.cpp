// SPDX-License-Identifier: GPL-3.0-or-later
// Building the segments of the library name index and keeping a library's index
// up to date.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <unordered_map>

#include "index/index_format.h"
#include "library/store/library_store.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/index/name_index.h"
#include "search/index/name_keys.h"
#include "search/index/segment_bits.h"
#include "search/index/segment_build.h"
#include "search/index/segment_layout.h"

namespace orb {

namespace {

using namespace name_keys;
using namespace segment_bits;
using namespace segment_layout;

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

}  // namespace

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
        while (bits < kMaxBucketBits && std::ldexp(1.0, static_cast<int>(bits)) * std::sqrt(2.0) <
                                            static_cast<double>(entries) * 6.0)
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
        // Not by bitmaps: those of this thread were given up on for this disc.
        segment_build::CodeBucketLists({keyed, blockEnds}, bucketBits, kGroupShift, groupBits, bits,
                                       segment_build::ListMethod::BlockSets);
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
    // Nor is the folder swept for crashed saves' temporaries each time, which
    // would look at every segment once per disc built: the refresh sweeps once.
    if (path.empty() ||
        !ReplaceFileAtomically(path, out, /*durable=*/false, nullptr, /*sweepTemps=*/false)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
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

}  // namespace orb
