// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/duplicates.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "audit/index_walk.h"
#include "index/index_reader.h"
#include "platform/text.h"

namespace orb {

namespace {

uint64_t Mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// The key of a file: its size, and its name with A-Z folded unless sizes alone
// count. Names compare as Windows compares them, so README.TXT and readme.txt on
// two discs are one file. The name is folded eight bytes at a time on the way
// into the hash, with no copy.
uint64_t KeyHash(uint64_t size, std::string_view name, bool sizeOnly) {
    uint64_t h = Mix(size + 0x9e3779b97f4a7c15ull);
    if (sizeOnly) return h;
    const char* p = name.data();
    size_t n = name.size();
    h ^= n * 0xd6e8feb86659fd93ull;
    while (n) {
        uint64_t w = 0;
        size_t k = 8;
        if (n >= 8) {
            std::memcpy(&w, p, 8);
        } else if (n >= 4) {  // two loads that may overlap, no byte loop
            uint32_t a, b;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + n - 4, 4);
            w = a | (uint64_t{b} << 32);
            k = n;
        } else {
            for (size_t i = 0; i < n; ++i)
                w |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
            k = n;
        }
        // Bytes 'A'..'Z' gain 0x20: (b + 0x3f) has its top bit for b >= 'A',
        // (b + 0x25) for b > 'Z'; only for bytes below 0x80.
        const uint64_t lo7 = w & 0x7f7f7f7f7f7f7f7full;
        const uint64_t ge = lo7 + 0x3f3f3f3f3f3f3f3full;
        const uint64_t gt = lo7 + 0x2525252525252525ull;
        const uint64_t upper = ge & ~gt & ~w & 0x8080808080808080ull;
        w |= upper >> 2;
        h = std::rotl((h ^ w) * 0x9fb21c651e98df25ull, 29);
        p += k;
        n -= k;
    }
    return Mix(h);
}

// Two Bloom filters side by side in one table of cache lines: "seen on a disc"
// and "seen on a second disc". A key's probes of both lie in one 64-byte line,
// so a key costs one memory miss per pass, not one per probe. No false
// negatives, so no duplicate is missed; a false positive only adds a candidate
// that the exact grouping drops.
class CPairedBloom {
public:
    explicit CPairedBloom(uint64_t lines) : mask_(lines - 1) {
        // Huge pages where the system gives them: random probes over tens of
        // megabytes would otherwise miss the address cache as well.
        const size_t bytes = lines * sizeof(Line);
        void* p = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
        if (!p) throw std::bad_alloc();
        ::madvise(p, bytes, MADV_HUGEPAGE);
        std::memset(p, 0, bytes);  // an empty filter; Line is a plain block of words
        lines_.reset(static_cast<Line*>(p));
    }
    // Marks the key as seen on one more disc: on the second, it is a candidate.
    void AddDisc(uint64_t h) {
        Line& l = lines_[h & mask_];
        if (Has(l.seen, h))
            Set(l.multi, h);
        else
            Set(l.seen, h);
    }
    bool OnTwoDiscs(uint64_t h) const { return Has(lines_[h & mask_].multi, h); }
    // Asks for the key's line ahead of use: a batch of keys then waits for memory
    // once, not once per key.
    void Prefetch(uint64_t h) const { __builtin_prefetch(&lines_[h & mask_]); }

private:
    struct alignas(64) Line {
        uint64_t seen[4];
        uint64_t multi[4];
    };
    static_assert(std::is_trivial_v<Line>);
    static constexpr int kProbes = 4;
    // The probes take 8 bits each from the hash above the line's bits.
    static bool Has(const uint64_t (&half)[4], uint64_t h) {
        uint64_t g = Mix(h);
        for (int i = 0; i < kProbes; ++i, g >>= 8)
            if (!(half[(g >> 6) & 3] & (1ull << (g & 63)))) return false;
        return true;
    }
    static void Set(uint64_t (&half)[4], uint64_t h) {
        uint64_t g = Mix(h);
        for (int i = 0; i < kProbes; ++i, g >>= 8) half[(g >> 6) & 3] |= 1ull << (g & 63);
    }
    uint64_t mask_;
    static constexpr size_t kHugePage = size_t{2} << 20;
    struct Free {
        void operator()(Line* p) const { std::free(p); }  // Line is trivially destructible
    };
    std::unique_ptr<Line[], Free> lines_;
};

// The keys of one disc, each once: a disc holding two copies of a file does not
// by itself make the file a candidate.
class CDiscKeySet {
public:
    void Reset(uint64_t expected) {
        // A header's count is only a hint: the set grows when it was too low.
        expected = std::clamp<uint64_t>(expected, 8, uint64_t{1} << 20);
        const size_t n = std::bit_ceil<size_t>(expected * 3 / 2);
        if (slots_.size() != n)
            slots_.assign(n, 0);
        else
            std::fill(slots_.begin(), slots_.end(), 0);
        used_ = 0;
    }
    // True when the key is new on this disc.
    bool Insert(uint64_t h) {
        if (h == 0) h = 1;  // 0 marks an empty slot
        if ((used_ + 1) * 4 > slots_.size() * 3) Grow();
        for (size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == h) return false;
            if (slots_[i] == 0) {
                slots_[i] = h;
                ++used_;
                return true;
            }
        }
    }

private:
    void Grow() {
        std::vector<uint64_t> old;
        old.swap(slots_);
        slots_.assign(old.size() * 2, 0);
        used_ = 0;
        for (uint64_t h : old)
            if (h) Insert(h);
    }
    std::vector<uint64_t> slots_;
    size_t used_ = 0;
};

// Keys whose filter lines are fetched together.
constexpr size_t kBatch = 32;

struct Candidate {
    uint64_t size;
    std::string key;  // folded name (empty when sizes alone count)
    DupeCopy copy;
};

}  // namespace

void SortGroupsByWaste(std::vector<DupeGroup>& groups) {
    std::stable_sort(groups.begin(), groups.end(), [](const DupeGroup& a, const DupeGroup& b) {
        if (a.Wasted() != b.Wasted()) return a.Wasted() > b.Wasted();
        if (a.size != b.size) return a.size > b.size;
        return CompareNoCaseAZ(a.copies.front().name, b.copies.front().name) < 0;
    });
}

DupeResult FindDuplicates(const std::vector<std::string>& indexPaths, const DupeOptions& options,
                          const std::function<void(size_t, size_t)>& progress,
                          const std::atomic<bool>* stop) {
    DupeResult result;
    const size_t total = indexPaths.size() * 2;
    size_t done = 0;
    auto stopped = [&] { return stop && stop->load(std::memory_order_relaxed); };

    // Size the filters from the headers' file counts: about 16 bits per file in
    // each keeps false candidates near a few in a thousand, up to a fixed ceiling.
    uint64_t files = 0;
    for (const std::string& path : indexPaths) {
        IndexHeader h;
        if (ProbeIndexHeader(path, h)) files += h.fileCount;
    }
    const uint64_t lines = std::clamp<uint64_t>(std::bit_ceil(std::max<uint64_t>(files, 1) / 16),
                                                uint64_t{1} << 10, uint64_t{1} << 21);
    CPairedBloom bloom(lines);

    const uint64_t minSize = std::max<uint64_t>(options.minSize, 1);
    auto wanted = [&](bool isDirectory, uint64_t size) { return !isDirectory && size >= minSize; };
    auto keyOf = [&](uint64_t size, std::string_view name) {
        return KeyHash(size, name, options.sizeOnly);
    };

    // Pass 1: a key met on a second disc is marked. The records are read in file
    // order; a file whose records do not cover every entry is walked as a tree.
    std::vector<bool> opened(indexPaths.size(), false);
    CDiscKeySet discKeys;
    std::vector<uint64_t> batch;
    batch.reserve(kBatch);
    auto flushKeys = [&] {
        for (uint64_t k : batch) bloom.Prefetch(k);
        for (uint64_t k : batch) bloom.AddDisc(k);
        batch.clear();
    };
    auto addKey = [&](uint64_t size, std::string_view name) {
        const uint64_t k = keyOf(size, name);
        if (!discKeys.Insert(k)) return;
        batch.push_back(k);
        if (batch.size() == kBatch) flushKeys();
    };
    for (size_t i = 0; i < indexPaths.size() && !stopped(); ++i) {
        CFlatRecords flat;
        const bool flatOpened = flat.Open(indexPaths[i]);
        if (flatOpened) {
            discKeys.Reset(flat.Header().fileCount);
            FlatRecord r;
            uint64_t n = 0;
            while (flat.Next(r)) {
                if (wanted(r.IsDirectory(), r.size)) addKey(r.size, r.name);
                if ((++n & 0xfff) == 0 && stopped()) break;
            }
            flushKeys();
            if (flat.Whole() || stopped()) {
                opened[i] = true;
                if (progress) progress(++done, total);
                continue;
            }
        }
        // The keys the scan found stay in the disc's set, so none counts twice.
        CIndexReader reader;
        if (reader.Open(indexPaths[i], OpenMode::ReadShareAll)) {
            opened[i] = true;
            if (!flatOpened) discKeys.Reset(reader.GetFileCount());
            WalkIndex(
                reader,
                [&](const IndexEntry& e, int32_t, const std::string&) {
                    if (wanted(e.IsDirectory(), e.Size())) addKey(e.Size(), e.Name());
                    return true;
                },
                stop);
            flushKeys();
        } else {
            result.failed.push_back(indexPaths[i]);
        }
        if (progress) progress(++done, total);
    }

    // Pass 2: the marked entries become candidates. The records are read in file
    // order with their directories followed along; a file whose records do not
    // cover every entry is walked as a tree instead.
    std::vector<Candidate> candidates;
    auto addCandidate = [&](uint32_t disc, const std::string& dirPath, std::string_view name,
                            uint64_t size, const FILETIME& time, int32_t id) {
        Candidate c;
        c.size = size;
        if (!options.sizeOnly) c.key = LowerAZCopy(name);
        c.copy.disc = disc;
        c.copy.dirPath = dirPath;
        c.copy.name = std::string(name);
        c.copy.writeTime = time;
        c.copy.entryId = id;
        candidates.push_back(std::move(c));
    };
    for (size_t i = 0; i < indexPaths.size() && !stopped(); ++i) {
        if (!opened[i]) {
            if (progress) progress(++done, total);
            continue;
        }
        DupeDisc disc;
        disc.indexPath = indexPaths[i];
        const uint32_t discNumber = static_cast<uint32_t>(result.discs.size());
        const size_t candidatesBefore = candidates.size();
        bool scanned = false;
        {
            CFlatRecords flat;
            if (flat.Open(indexPaths[i]) && flat.TrackDirectories()) {
                disc.label = std::string(HeaderLabel(flat.Header()));
                const std::string root = disc.label + ":\\";
                std::pair<uint64_t, FlatRecord> pending[kBatch];
                size_t n = 0;
                uint64_t discFiles = 0;
                auto flush = [&] {
                    for (size_t k = 0; k < n; ++k) bloom.Prefetch(pending[k].first);
                    for (size_t k = 0; k < n; ++k) {
                        const FlatRecord& r = pending[k].second;
                        if (bloom.OnTwoDiscs(pending[k].first))
                            addCandidate(discNumber, root + flat.DirPath(r.dir), r.name, r.size,
                                         r.writeTime, r.id);
                    }
                    n = 0;
                };
                FlatRecord r;
                while (flat.Next(r)) {
                    if (r.dir == kFlatUnreached || !wanted(r.IsDirectory(), r.size)) continue;
                    ++discFiles;
                    pending[n++] = {keyOf(r.size, r.name), r};
                    if (n == kBatch) flush();
                }
                flush();
                scanned = flat.Whole();
                if (scanned)
                    result.filesSeen += discFiles;
                else
                    candidates.resize(candidatesBefore);
            }
        }
        if (!scanned) {
            CIndexReader reader;
            if (!reader.Open(indexPaths[i], OpenMode::ReadShareAll)) {
                result.failed.push_back(indexPaths[i]);
                if (progress) progress(++done, total);
                continue;
            }
            reader.GetVolumeLabel(disc.label);
            const std::string root = disc.label + ":\\";
            WalkIndex(
                reader,
                [&](const IndexEntry& e, int32_t id, const std::string& dirPath) {
                    if (!wanted(e.IsDirectory(), e.Size())) return true;
                    ++result.filesSeen;
                    if (bloom.OnTwoDiscs(keyOf(e.Size(), e.Name())))
                        addCandidate(discNumber, root + dirPath, e.Name(), e.Size(), e.writeTime,
                                     id);
                    return true;
                },
                stop);
        }
        if (candidates.size() > candidatesBefore) result.discs.push_back(std::move(disc));
        if (progress) progress(++done, total);
    }
    result.stopped = stopped();
    result.candidates = candidates.size();

    // Exact grouping: by size first, then by name; a group must span two discs.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) {
                         if (a.size != b.size) return a.size < b.size;
                         return a.key < b.key;
                     });
    for (size_t i = 0; i < candidates.size();) {
        size_t j = i + 1;
        while (j < candidates.size() && candidates[j].size == candidates[i].size &&
               candidates[j].key == candidates[i].key)
            ++j;
        bool twoDiscs = false;
        for (size_t k = i + 1; k < j && !twoDiscs; ++k)
            twoDiscs = candidates[k].copy.disc != candidates[i].copy.disc;
        if (twoDiscs) {
            DupeGroup g;
            g.size = candidates[i].size;
            for (size_t k = i; k < j; ++k) g.copies.push_back(std::move(candidates[k].copy));
            result.groups.push_back(std::move(g));
        }
        i = j;
    }
    SortGroupsByWaste(result.groups);
    return result;
}

}  // namespace orb
