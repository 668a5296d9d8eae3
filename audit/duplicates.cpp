// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/duplicates.h"

#include <algorithm>
#include <bit>

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
// two discs are one file.
uint64_t KeyHash(uint64_t size, std::string_view foldedName, bool sizeOnly) {
    uint64_t h = Mix(size + 0x9e3779b97f4a7c15ull);
    if (!sizeOnly) {
        uint64_t f = 1469598103934665603ull;
        for (unsigned char c : foldedName) f = (f ^ c) * 1099511628211ull;
        h = Mix(h ^ f);
    }
    return h;
}

// A Bloom filter of fixed size: no false negatives, so no duplicate is missed;
// a false positive only adds a candidate that the exact grouping drops.
class CBloom {
public:
    explicit CBloom(uint64_t bits) : mask_(bits - 1), words_(bits / 64, 0) {}
    void Add(uint64_t h) {
        for (uint64_t i = 0, g = Second(h); i < kProbes; ++i) {
            const uint64_t b = (h + i * g) & mask_;
            words_[b >> 6] |= 1ull << (b & 63);
        }
    }
    bool Has(uint64_t h) const {
        for (uint64_t i = 0, g = Second(h); i < kProbes; ++i) {
            const uint64_t b = (h + i * g) & mask_;
            if (!(words_[b >> 6] & (1ull << (b & 63)))) return false;
        }
        return true;
    }

private:
    static constexpr uint64_t kProbes = 4;
    static uint64_t Second(uint64_t h) { return Mix(h) | 1; }
    uint64_t mask_;
    std::vector<uint64_t> words_;
};

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

    // Size the filters from the headers' file counts: about 16 bits per file
    // keeps false candidates near a tenth of a percent, up to a fixed ceiling.
    uint64_t files = 0;
    for (const std::string& path : indexPaths) {
        IndexHeader h;
        if (ProbeIndexHeader(path, h)) files += h.fileCount;
    }
    const uint64_t bits = std::clamp<uint64_t>(std::bit_ceil(std::max<uint64_t>(files, 1) * 16),
                                               uint64_t{1} << 16, uint64_t{1} << 29);
    CBloom seen(bits), multi(bits);

    auto keyOf = [&](const IndexEntry& e, std::string& folded) {
        folded.clear();
        if (!options.sizeOnly) folded = LowerAZCopy(e.Name());
        return KeyHash(e.Size(), folded, options.sizeOnly);
    };
    auto wanted = [&](const IndexEntry& e) {
        return !e.IsDirectory() && e.Size() >= std::max<uint64_t>(options.minSize, 1);
    };

    // Pass 1: a key met on a second disc is marked. Keys are made unique per disc
    // first, so two copies on one disc do not count.
    std::vector<bool> opened(indexPaths.size(), false);
    std::vector<uint64_t> discKeys;
    std::string folded;
    for (size_t i = 0; i < indexPaths.size() && !stopped(); ++i) {
        CIndexReader reader;
        if (reader.Open(indexPaths[i], OpenMode::ReadShareAll)) {
            opened[i] = true;
            discKeys.clear();
            WalkIndex(
                reader,
                [&](const IndexEntry& e, int32_t, const std::string&) {
                    if (wanted(e)) discKeys.push_back(keyOf(e, folded));
                    return true;
                },
                stop);
            std::sort(discKeys.begin(), discKeys.end());
            discKeys.erase(std::unique(discKeys.begin(), discKeys.end()), discKeys.end());
            for (uint64_t k : discKeys) {
                if (seen.Has(k))
                    multi.Add(k);
                else
                    seen.Add(k);
            }
        } else {
            result.failed.push_back(indexPaths[i]);
        }
        if (progress) progress(++done, total);
    }
    std::vector<uint64_t>().swap(discKeys);

    // Pass 2: the marked entries become candidates.
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < indexPaths.size() && !stopped(); ++i) {
        if (!opened[i]) {
            if (progress) progress(++done, total);
            continue;
        }
        CIndexReader reader;
        if (!reader.Open(indexPaths[i], OpenMode::ReadShareAll)) {
            result.failed.push_back(indexPaths[i]);
            if (progress) progress(++done, total);
            continue;
        }
        DupeDisc disc;
        disc.indexPath = indexPaths[i];
        reader.GetVolumeLabel(disc.label);
        const std::string root = disc.label + ":\\";
        const uint32_t discNumber = static_cast<uint32_t>(result.discs.size());
        bool any = false;
        WalkIndex(
            reader,
            [&](const IndexEntry& e, int32_t id, const std::string& dirPath) {
                if (!wanted(e)) return true;
                ++result.filesSeen;
                const uint64_t k = keyOf(e, folded);
                if (!multi.Has(k)) return true;
                any = true;
                Candidate c;
                c.size = e.Size();
                c.key = folded;
                c.copy.disc = discNumber;
                c.copy.dirPath = root + dirPath;
                c.copy.name = std::string(e.Name());
                c.copy.writeTime = e.writeTime;
                c.copy.entryId = id;
                candidates.push_back(std::move(c));
                return true;
            },
            stop);
        if (any) result.discs.push_back(std::move(disc));
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
