// SPDX-License-Identifier: GPL-3.0-or-later
// The bit-level coding of name index segments: bucket hashing, checks, little-
// endian numbers and the Rice/gamma bit streams the posting lists are kept in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace orb::segment_bits {

// Each family of keys (the key's top byte, see name_keys.h) hashes into a range
// of the buckets of its own, sized to the keys of that family a block holds, so
// that a literal keyword never shares a bucket with the dense pinyin keys, nor a
// pinyin one with common text. Ranges in sixteenths of the buckets: literal
// trigrams 9, double-byte pairs 2, pinyin pairs 1, pinyin triples 3, reading
// starts 1 (any other top byte goes with the literal keys).
struct BucketRange {
    uint8_t start, size;
};
constexpr BucketRange kBucketRanges[8] = {{0, 9},  {9, 2}, {11, 1}, {12, 3},
                                          {15, 1}, {0, 9}, {0, 9},  {0, 9}};

inline BucketRange RangeOf(uint32_t key) {
    return kBucketRanges[std::min(key >> 24, 7u)];
}

// bits >= 4.
inline uint32_t BucketOf(uint32_t key, unsigned bits) {
    // Mixed past a plain multiply by the golden ratio: with that alone, keys a
    // Fibonacci number apart ("gwp" and "dx.") share a bucket in every segment.
    uint64_t h = uint64_t{key} * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ULL;
    const BucketRange r = RangeOf(key);
    const uint64_t size = uint64_t{r.size} << (bits - 4);
    return static_cast<uint32_t>((uint64_t{r.start} << (bits - 4)) + (((h >> 32) * size) >> 32));
}

inline uint64_t Fnv1a(const unsigned char* p, size_t n, uint64_t h = 1469598103934665603ULL) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

// A group's check from the hash of its bytes.
inline uint16_t FoldCheck(uint64_t h) {
    return static_cast<uint16_t>(h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48));
}

// A checksum of the segment's body, eight bytes a step.
inline uint64_t BodySum(const unsigned char* p, size_t n) {
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

// The check of a group's lists: its bits [from, to) of the stream, whole bytes,
// hashed a word at a time (a search checks every group it reads).
inline uint16_t GroupCheck(const unsigned char* bytes, uint64_t from, uint64_t to) {
    return FoldCheck(BodySum(bytes, static_cast<size_t>((to + 7) / 8 - from / 8)));
}
inline uint16_t GroupCheck(const std::string& stream, uint64_t from, uint64_t to) {
    return GroupCheck(reinterpret_cast<const unsigned char*>(stream.data()) + from / 8, from, to);
}

inline void Put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
inline void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
inline uint64_t Get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Bits, lowest first. Codes are written through a Run, whose state lives in
// locals the compiler keeps in registers (through the writer's own fields every
// byte stored would make it reload them): a disc's lists are some hundred
// thousand codes.
class CBitWriter {
public:
    struct Run {
        uint64_t acc;
        unsigned pending;  // bits in acc, below 32
        uint64_t bits;     // written in all
        unsigned char* out;

        __attribute__((always_inline)) void Put(uint64_t value, unsigned n) {  // n <= 32
            acc |= (value & ((uint64_t{1} << n) - 1)) << pending;
            pending += n;
            bits += n;
            if (pending >= 32) {
                const uint32_t word = static_cast<uint32_t>(acc);
                out[0] = static_cast<unsigned char>(word);
                out[1] = static_cast<unsigned char>(word >> 8);
                out[2] = static_cast<unsigned char>(word >> 16);
                out[3] = static_cast<unsigned char>(word >> 24);
                out += 4;
                acc >>= 32;
                pending -= 32;
            }
        }
        void Ones(uint64_t n) {
            for (; n >= 32; n -= 32) Put(0xFFFFFFFFu, 32);
            Put(0xFFFFFFFFu, static_cast<unsigned>(n));
        }
        // x >= 1: the length of its binary form less one in unary, then its
        // bits below the top one.
        void Gamma(uint64_t x) {
            const unsigned top = 63 - static_cast<unsigned>(__builtin_clzll(x));
            if (top <= 15) {
                const uint64_t low = (uint64_t{1} << top) - 1;
                Put(low | (x & low) << (top + 1), 2 * top + 1);
                return;
            }
            Ones(top);
            Put(0, 1);
            Put(x, top);
        }
        void Rice(uint64_t v, unsigned k) {
            const uint64_t q = v >> k;
            if (q + 1 + k <= 32) {
                Put(((uint64_t{1} << q) - 1) | (v & ((uint64_t{1} << k) - 1)) << (q + 1),
                    static_cast<unsigned>(q + 1 + k));
                return;
            }
            Ones(q);
            Put(0, 1);
            Put(v, k);
        }
    };
    // A run of at most `most` bits; End takes its state back.
    Run Begin(uint64_t most) {
        const size_t have = used_;
        if (bytes_.size() < have + most / 8 + 8)
            bytes_.resize(std::max(bytes_.size() * 2, have + most / 8 + 8));
        return Run{acc_, pending_, bits_, reinterpret_cast<unsigned char*>(bytes_.data()) + have};
    }
    void End(const Run& r) {
        used_ = static_cast<size_t>(r.out - reinterpret_cast<unsigned char*>(bytes_.data()));
        acc_ = r.acc;
        pending_ = r.pending;
        bits_ = r.bits;
    }

    // Single codes, for a few.
    void Put(uint64_t value, unsigned bits) {
        Run r = Begin(32);
        r.Put(value, bits);
        End(r);
    }
    void Gamma(uint64_t x) {
        Run r = Begin(130);
        r.Gamma(x);
        End(r);
    }
    static uint64_t RiceBits(uint64_t v, unsigned k) { return (v >> k) + 1 + k; }
    void Rice(uint64_t v, unsigned k) {
        Run r = Begin(RiceBits(v, k));
        r.Rice(v, k);
        End(r);
    }
    uint64_t Size() const { return bits_; }
    // The bytes, the last one completed with zero bits.
    std::string& Finish() {
        bytes_.resize(used_);
        for (; pending_ > 0; pending_ = pending_ > 8 ? pending_ - 8 : 0) {
            bytes_ += static_cast<char>(acc_);
            acc_ >>= 8;
        }
        acc_ = 0;
        used_ = bytes_.size();
        return bytes_;
    }

private:
    std::string bytes_;  // the first used_ bytes written
    size_t used_ = 0;
    uint64_t acc_ = 0;
    unsigned pending_ = 0;
    uint64_t bits_ = 0;
};

// Reads what CBitWriter wrote, a word at a time. The stream is followed by eight
// zero bytes, so a word read at any bit before its end stays inside the mapping;
// any read past the end fails and stays failed.
class CBitReader {
public:
    CBitReader(const unsigned char* data, uint64_t bits, uint64_t at)
        : data_(data), end_(bits), at_(at), ok_(at <= bits) {}
    bool Ok() const { return ok_; }
    uint64_t Get(unsigned bits) {  // bits <= 32
        if (!ok_) return 0;
        const uint64_t v = Peek() & ((uint64_t{1} << bits) - 1);
        Advance(bits);
        return v;
    }
    // A run of one bits and the zero that ends it: the run's length.
    uint64_t Ones(uint64_t most) {
        uint64_t n = 0;
        while (ok_) {
            const uint64_t w = Peek();
            const unsigned run = static_cast<unsigned>(__builtin_ctzll(~w | (uint64_t{1} << 56)));
            n += run;
            if (n > most) {
                ok_ = false;
                return 0;
            }
            if (run < 56) {
                Advance(run + 1);
                break;
            }
            Advance(run);
        }
        return n;
    }
    uint64_t Gamma() {
        const uint64_t top = Ones(32);
        return ok_ ? (uint64_t{1} << top) | Get(static_cast<unsigned>(top)) : 0;
    }
    uint64_t Rice(unsigned k, uint64_t most) {
        const uint64_t q = Ones(most >> k);
        return (q << k) | Get(k);
    }

private:
    uint64_t Peek() const {
        uint64_t v;
        std::memcpy(&v, data_ + (at_ >> 3), sizeof(v));
        return v >> (at_ & 7);
    }
    void Advance(uint64_t bits) {
        at_ += bits;
        if (at_ > end_) ok_ = false;
    }
    const unsigned char* data_;
    uint64_t end_;
    uint64_t at_;
    bool ok_;
};

}  // namespace orb::segment_bits
