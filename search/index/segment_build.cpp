// SPDX-License-Identifier: GPL-3.0-or-later
// Coding the posting lists of a name index segment from the keys of its blocks.
#include "search/index/segment_build.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/files.h"
#include "search/index/name_index.h"

namespace orb::segment_build {

namespace {

using segment_bits::BucketOf;
using segment_bits::CBitWriter;

// Buffers kept from disc to disc on a thread, so building a library allocates
// (and page faults) once, not per disc; a huge disc's are not kept.
struct Work {
    std::vector<uint64_t> seen;
    std::vector<uint32_t> buckets, start, fill, sorted, lists, counts;
    void Trim() {
        constexpr size_t kKeep = size_t{8} << 20;
        if (seen.capacity() > kKeep) std::vector<uint64_t>().swap(seen);
        for (std::vector<uint32_t>* v : {&buckets, &start, &fill, &sorted, &lists})
            if (v->capacity() > kKeep) std::vector<uint32_t>().swap(*v);
    }
};

// Rice parameter near the mean gap times ln 2.
unsigned RiceParameter(uint64_t postings, uint64_t blocks, uint64_t used) {
    unsigned k = 0;
    while (k < 15 && (postings << (k + 1)) * 10 <= blocks * used * 7) ++k;
    return k;
}

// Codes written without a branch to guess per code: each stores eight bytes and
// steps on by the bytes it completed. It takes over a CBitWriter::Run and hands
// one back (its bits pending first written out), so the stream's bytes are the
// same as the Run's own codes give.
struct FastRun {
    uint64_t acc;
    unsigned pending;  // bits in acc, below 8 between codes
    uint64_t bits;
    unsigned char* out;

    explicit FastRun(const CBitWriter::Run& r)
        : acc(r.acc), pending(r.pending), bits(r.bits), out(r.out) {
        for (; pending >= 8; pending -= 8, acc >>= 8) *out++ = static_cast<unsigned char>(acc);
    }
    CBitWriter::Run Back() const { return CBitWriter::Run{acc, pending, bits, out}; }

    // value < 2^n, n <= 56.
    __attribute__((always_inline)) void Put(uint64_t value, unsigned n) {
        acc |= value << pending;
        pending += n;
        bits += n;
        uint64_t le = acc;
        if constexpr (std::endian::native == std::endian::big) le = __builtin_bswap64(le);
        std::memcpy(out, &le, 8);
        const unsigned whole = pending >> 3;  // at most 7
        out += whole;
        acc >>= whole * 8;
        pending &= 7;
    }
    void Ones(uint64_t n) {
        for (; n >= 32; n -= 32) Put(0xFFFFFFFFu, 32);
        Put((uint64_t{1} << n) - 1, static_cast<unsigned>(n));
    }
    __attribute__((always_inline)) void Gamma(uint64_t x) {  // x >= 1
        const unsigned top = 63 - static_cast<unsigned>(__builtin_clzll(x));
        const uint64_t low = (uint64_t{1} << top) - 1;
        if (top <= 27) return Put(low | (x & low) << (top + 1), 2 * top + 1);
        Ones(top);
        Put(0, 1);
        if (top > 32) {
            Put(x & 0xFFFFFFFFu, 32);
            Put((x & low) >> 32, top - 32);
        } else {
            Put(x & low, top);
        }
    }
    __attribute__((always_inline)) void Rice(uint64_t v, unsigned k) {
        const uint64_t q = v >> k;
        const uint64_t low = v & ((uint64_t{1} << k) - 1);
        if (q + 1 + k <= 56)
            return Put(((uint64_t{1} << q) - 1) | low << (q + 1), static_cast<unsigned>(q + 1 + k));
        Ones(q);
        Put(0, 1);
        Put(low, k);
    }
};

// A run's state as the bit writer takes it back.
inline CBitWriter::Run Handback(const FastRun& r) {
    return r.Back();
}
inline CBitWriter::Run Handback(const CBitWriter::Run& r) {
    return r;
}

// One group: its Rice parameter, then per bucket the number of its blocks and
// their gaps. counts holds how many blocks each bucket has; eachBlock(b, f)
// calls f with bucket b's blocks, ascending.
// Codes go through Writer: FastRun, or the bit writer's own Run (plain sorting
// uses it, so that the other ways are checked against a writer of their own).
template <typename Writer, typename EachBlock>
void CodeGroupWith(size_t postings, const std::vector<uint32_t>& counts, size_t blocks,
                   std::vector<uint32_t>& groupBits, CBitWriter& bits, EachBlock eachBlock) {
    groupBits.push_back(static_cast<uint32_t>(bits.Size()));
    uint64_t used = 0;
    for (uint32_t c : counts) used += c != 0;
    const unsigned rice = RiceParameter(postings, blocks, used);
    // A bucket's gaps add up to less than the blocks, so its quotients too; a
    // count's gamma code takes at most 65 bits. The bits pending before, and the
    // eight bytes each code stores, are room too.
    const uint64_t most =
        4 + counts.size() * (65 + (blocks >> rice)) + postings * (1 + rice) + 32 + 64;
    Writer run(bits.Begin(most));
    run.Put(rice, 4);
    for (size_t b = 0; b < counts.size(); ++b) {
        run.Gamma(uint64_t{counts[b]} + 1);
        uint32_t next = 0;  // the block after the last one coded
        eachBlock(b, [&](uint32_t block) {
            run.Rice(block - next, rice);
            next = block + 1;
        });
    }
    bits.End(Handback(run));
}

// The same from the group's buckets' blocks laid out one bucket after another.
template <typename Writer = FastRun>
void CodeGroup(const uint32_t* lists, size_t postings, const std::vector<uint32_t>& counts,
               size_t blocks, std::vector<uint32_t>& groupBits, CBitWriter& bits) {
    const uint32_t* at = lists;
    CodeGroupWith<Writer>(postings, counts, blocks, groupBits, bits, [&](size_t b, auto f) {
        for (const uint32_t* end = at + counts[b]; at < end; ++at) f(*at);
    });
}

// Bits set in a word, inline: built for any x86-64, the builtin is a call.
inline uint32_t BitCount(uint64_t w) {
    w -= (w >> 1) & 0x5555555555555555ULL;
    w = (w & 0x3333333333333333ULL) + ((w >> 2) & 0x3333333333333333ULL);
    w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<uint32_t>((w * 0x0101010101010101ULL) >> 56);
}

// Each block's buckets made distinct in a bit set of the buckets (a few
// kilobytes, in the first-level cache), then the block put in the list of each
// of them, by counting: blocks come in order, so each list is ascending.
// Memory and time follow the keys, whatever the disc's size.
void CodeByBlockSets(BlockKeys in, size_t n, unsigned bucketBits, unsigned groupShift,
                     std::vector<uint32_t>& groupBits, CBitWriter& bits, Work& w) {
    const size_t blocks = in.blockEnds.size();
    const size_t buckets = size_t{1} << bucketBits;
    w.seen.assign((buckets + 63) / 64, 0);
    uint64_t* seen = w.seen.data();
    std::vector<uint32_t>& postings = w.buckets;  // each block's buckets, block by block
    postings.resize(n);
    uint32_t* post = postings.data();
    std::vector<uint32_t>& start = w.start;
    start.assign(buckets + 1, 0);
    std::vector<uint32_t>& ends = w.lists;  // per block, the end of its postings
    ends.clear();
    const uint32_t* keys = in.keys.data();
    size_t k = 0, np = 0;
    for (size_t blk = 0; blk < blocks; ++blk) {
        const size_t end = std::min<size_t>(in.blockEnds[blk], n), first = np;
        // Without a branch to guess: a bucket's first key keeps its place.
        for (; k < end; ++k) {
            const uint32_t b = BucketOf(keys[k], bucketBits);
            uint64_t& word = seen[b / 64];
            const uint64_t bit = uint64_t{1} << (b % 64);
            post[np] = b;
            np += (word & bit) == 0;
            word |= bit;
        }
        for (size_t p = first; p < np; ++p) {
            seen[post[p] / 64] = 0;
            ++start[post[p] + 1];
        }
        ends.push_back(static_cast<uint32_t>(np));
    }
    postings.resize(np);
    for (size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
    std::vector<uint32_t>& sorted = w.sorted;
    sorted.resize(postings.size());
    {
        std::vector<uint32_t>& fill = w.counts;
        fill.assign(start.begin(), start.end() - 1);
        size_t p = 0;
        for (size_t blk = 0; blk < blocks; ++blk)
            for (; p < ends[blk]; ++p) sorted[fill[postings[p]]++] = static_cast<uint32_t>(blk);
    }
    const size_t group = size_t{1} << groupShift;
    std::vector<uint32_t>& counts = w.counts;
    counts.resize(group);
    for (size_t g = 0; g < buckets; g += group) {
        for (size_t b = 0; b < group; ++b) counts[b] = start[g + b + 1] - start[g + b];
        CodeGroup(sorted.data() + start[g], start[g + group] - start[g], counts, blocks, groupBits,
                  bits);
    }
}

// The keys' buckets sorted by counting: keys lie block by block, so each
// bucket's blocks come out ascending, and repeats are dropped as they are coded.
void CodeBySort(BlockKeys in, size_t n, unsigned bucketBits, unsigned groupShift,
                std::vector<uint32_t>& groupBits, CBitWriter& bits, Work& w) {
    const size_t blocks = in.blockEnds.size();
    const size_t buckets = size_t{1} << bucketBits;
    std::vector<uint32_t>& bucketOf = w.buckets;
    bucketOf.resize(n);
    std::vector<uint32_t>& start = w.start;
    start.assign(buckets + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        bucketOf[i] = BucketOf(in.keys[i], bucketBits);
        ++start[bucketOf[i] + 1];
    }
    for (size_t b = 0; b < buckets; ++b) start[b + 1] += start[b];
    std::vector<uint32_t>& fill = w.fill;
    fill.assign(start.begin(), start.end() - 1);
    std::vector<uint32_t>& sorted = w.sorted;
    sorted.resize(n);
    size_t k = 0;
    for (size_t blk = 0; blk < blocks; ++blk)
        for (const size_t end = std::min<size_t>(in.blockEnds[blk], n); k < end; ++k)
            sorted[fill[bucketOf[k]]++] = static_cast<uint32_t>(blk);

    const size_t group = size_t{1} << groupShift;
    std::vector<uint32_t>& counts = w.counts;
    counts.resize(group);
    std::vector<uint32_t>& lists = w.lists;  // the blocks of a group's buckets
    for (size_t g = 0; g < buckets; g += group) {
        lists.clear();
        for (size_t b = g; b < g + group; ++b) {
            const size_t before = lists.size();
            for (uint32_t i = start[b]; i < start[b + 1]; ++i)
                if (lists.size() == before || lists.back() != sorted[i]) lists.push_back(sorted[i]);
            counts[b - g] = static_cast<uint32_t>(lists.size() - before);
        }
        CodeGroup<CBitWriter::Run>(lists.data(), lists.size(), counts, blocks, groupBits, bits);
    }
}

}  // namespace

void CodeBucketLists(BlockKeys blocks, unsigned bucketBits, unsigned groupShift,
                     std::vector<uint32_t>& groupBits, CBitWriter& bits, ListMethod method) {
    static thread_local Work work;
    // Keys past the last block's end, if any, belong to no block.
    const size_t n = std::min<size_t>(blocks.blockEnds.empty() ? 0 : blocks.blockEnds.back(),
                                      blocks.keys.size());
    static thread_local CBucketBitmaps maps;
    if (method == ListMethod::Bitmaps) {
        const size_t count = blocks.blockEnds.size();
        if (maps.Start(bucketBits, count)) {
            size_t k = 0;
            for (size_t blk = 0; blk < count; ++blk) {
                maps.SetBlock(blk);
                for (const size_t end = std::min<size_t>(blocks.blockEnds[blk], n); k < end; ++k)
                    maps.Add(blocks.keys[k]);
            }
            maps.Code(count, groupShift, groupBits, bits);
            return;
        }
        method = ListMethod::BlockSets;
    }
    if (method == ListMethod::BlockSets)
        CodeByBlockSets(blocks, n, bucketBits, groupShift, groupBits, bits, work);
    else
        CodeBySort(blocks, n, bucketBits, groupShift, groupBits, bits, work);
    groupBits.push_back(static_cast<uint32_t>(bits.Size()));
    work.Trim();
}

void PutGroupTable(const std::string& stream, const std::vector<uint32_t>& groupBits,
                   std::string& out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    const size_t groups = groupBits.size();
    const size_t checked = groups > 0 ? groups - 1 : 0;  // the last entry is the end
    out.reserve(out.size() + groups * 6);
    for (size_t i = 0; i < groups; ++i) {
        segment_bits::Put32(out, groupBits[i]);
        const uint16_t check =
            i < checked
                ? segment_bits::GroupCheck(bytes + groupBits[i] / 8, groupBits[i], groupBits[i + 1])
                : 0;
        out += static_cast<char>(check);
        out += static_cast<char>(check >> 8);
    }
}

bool CBucketBitmaps::Start(unsigned bucketBits, size_t blocks) {
    const size_t planes = (blocks + 63) / 64;
    if (bucketBits > 30 || planes > (kMostBitmapWords >> bucketBits)) return false;
    bucketBits_ = bucketBits;
    blocks_ = blocks;
    // Every word is set again: a disc's bitmaps are of the size of its keys.
    map_.assign(planes << bucketBits, 0);
    plane_ = map_.data();
    bit_ = 1;
    return true;
}

// On x86-64 also built for processors with the newer bit instructions (shifts by
// any register, counting bits), picked at load time: coding is mostly shifts.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("default", "arch=x86-64-v3")))
#endif
void CBucketBitmaps::Code(size_t blocks, unsigned groupShift, std::vector<uint32_t>& groupBits,
                          CBitWriter& bits) {
    blocks = std::min(blocks, blocks_);
    const size_t buckets = size_t{1} << bucketBits_;
    // Planes past the blocks coded hold no bit.
    const size_t planes = (blocks + 63) / 64;
    const uint64_t* map = map_.data();
    const size_t group = size_t{1} << groupShift;
    // First each bucket's count and each group's Rice parameter, and a bound on
    // the bits (as CodeGroupWith's): the stream's room is then made once, not
    // doubled (copied and zeroed) as it grows.
    counts_.resize(buckets);
    rice_.resize(buckets >> groupShift);
    uint64_t most = 96;
    for (size_t g = 0; g < buckets; g += group) {
        uint64_t postings = 0, used = 0;
        for (size_t b = g; b < g + group; ++b) {
            uint32_t c = 0;
            for (size_t p = 0; p < planes; ++p) c += BitCount(map[p * buckets + b]);
            counts_[b] = c;
            postings += c;
            used += c != 0;
        }
        const unsigned rice = RiceParameter(postings, blocks, used);
        rice_[g >> groupShift] = static_cast<uint8_t>(rice);
        most += 4 + group * (65 + (blocks >> rice)) + postings * (1 + rice);
    }
    FastRun run(bits.Begin(most));
    for (size_t g = 0; g < buckets; g += group) {
        groupBits.push_back(static_cast<uint32_t>(run.bits));
        const unsigned rice = rice_[g >> groupShift];
        run.Put(rice, 4);
        for (size_t b = g; b < g + group; ++b) {
            const uint32_t count = counts_[b];
            run.Gamma(uint64_t{count} + 1);
            uint32_t next = 0;  // the block after the last one coded
            if (planes <= 2) {
                // Up to 128 blocks (most discs): the bits taken in a loop of a
                // known count, each from the low word until it is spent, picked
                // without a branch; a loop per word would be misguessed as each
                // word runs out.
                uint64_t lo = planes > 0 ? map[b] : 0, hi = planes > 1 ? map[buckets + b] : 0;
                for (uint32_t i = 0; i < count; ++i) {
                    const uint64_t spent = uint64_t{0} - (lo == 0);  // all ones: take from hi
                    const uint64_t word = lo | (hi & spent);
                    const uint32_t block =
                        static_cast<uint32_t>(__builtin_ctzll(word) | (spent & 64));
                    lo &= lo - 1;
                    hi ^= hi & (uint64_t{0} - hi) & spent;
                    run.Rice(block - next, rice);
                    next = block + 1;
                }
                continue;
            }
            for (size_t p = 0; p < planes; ++p) {
                for (uint64_t word = map[p * buckets + b]; word; word &= word - 1) {
                    const uint32_t block = static_cast<uint32_t>(p * 64 + __builtin_ctzll(word));
                    run.Rice(block - next, rice);
                    next = block + 1;
                }
            }
        }
    }
    bits.End(run.Back());
    groupBits.push_back(static_cast<uint32_t>(bits.Size()));
}

// Asks the kernel to read a file ahead, so a disc coming from the disk is in
// memory by the time its turn comes; its size (0 when it cannot be opened).
uint64_t ReadAhead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    ::fstat(fd, &st);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
    ::close(fd);
    return st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The files asked to be read ahead of the builders: enough that the disk is
// kept busy while every core builds, few enough not to push out of memory
// what was read ahead before its turn.
class CReadAheadWindow {
public:
    explicit CReadAheadWindow(const std::vector<std::string>& paths)
        : paths_(paths), sizes_(paths.size(), 0) {}
    // Disc taken is being built: files after it are asked for up to the bounds.
    void Taken(size_t taken) {
        constexpr size_t kMostFiles = 32;
        constexpr uint64_t kMostBytes = uint64_t{32} << 20;
        for (;;) {
            size_t ask;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (next_ <= taken) next_ = taken + 1;
                uint64_t ahead = 0;
                for (size_t i = taken + 1; i < next_; ++i) ahead += sizes_[i];
                if (next_ >= paths_.size() || next_ > taken + kMostFiles || ahead >= kMostBytes)
                    return;
                ask = next_++;
            }
            const uint64_t size = ReadAhead(paths_[ask]);
            std::lock_guard<std::mutex> lock(mutex_);
            sizes_[ask] = size;
        }
    }

private:
    const std::vector<std::string>& paths_;
    std::vector<uint64_t> sizes_;
    std::mutex mutex_;
    size_t next_ = 0;  // the first file not asked for
};

namespace {

// Runs work(i) for every i below paths.size() on the machine's cores (at most
// four), each thread at its caller's priority, with the files at paths read
// ahead of their turn. Stops starting new ones when abort becomes non-zero.
template <typename Work>
void OnCores(const std::vector<std::string>& paths, const std::atomic<int>* abort, Work work) {
    const size_t threads =
        std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 4, paths.size()});
    std::atomic<size_t> next{0};
    CReadAheadWindow ahead(paths);
    auto run = [&] {
        // A thread inherits its creator's nice value, so a build in the
        // background stays below the window.
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
            if (abort && abort->load()) return;
            ahead.Taken(i);
            work(i);
        }
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(run);
        } catch (const std::system_error&) {
            break;  // no thread to be had: this one does the rest
        }
    }
    run();
    for (std::thread& t : helpers) t.join();
}

}  // namespace

SegmentBuilds BuildSegments(const std::string& cacheDir, const std::vector<std::string>& indexPaths,
                            const std::atomic<int>* abort) {
    std::atomic<size_t> built{0}, failed{0};
    OnCores(indexPaths, abort, [&](size_t i) {
        std::string error;
        (BuildNameSegment(cacheDir, indexPaths[i], error) ? built : failed).fetch_add(1);
    });
    return {built.load(), failed.load()};
}

std::vector<std::string> DamagedSegments(const std::string& cacheDir,
                                         const std::vector<std::string>& indexPaths,
                                         const std::vector<std::string>& segmentPaths,
                                         const std::atomic<int>* abort) {
    std::vector<char> damaged(indexPaths.size(), 0);
    OnCores(segmentPaths, abort, [&](size_t i) {
        std::unique_ptr<CNameSegment> seg = CNameSegment::OpenFresh(cacheDir, indexPaths[i]);
        damaged[i] = !seg || !seg->ChecksumMatches();
    });
    std::vector<std::string> out;
    for (size_t i = 0; i < indexPaths.size(); ++i)
        if (damaged[i]) out.push_back(indexPaths[i]);
    return out;
}

}  // namespace orb::segment_build
