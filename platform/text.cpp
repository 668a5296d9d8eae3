// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace orb {

namespace {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// One converter per thread and direction: iconv_t is not thread safe and opening
// one costs far more than a short conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts in; on an invalid input sequence calls onInvalid(byte) and skips one
    // byte.
    template <typename F>
    std::string Run(std::string_view in, F onInvalid) {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 4 + 8);
        char* inp = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char* outp = out.data();
        size_t outLeft = out.size();
        while (inLeft > 0) {
            size_t r = iconv(cd_, &inp, &inLeft, &outp, &outLeft);
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                size_t used = static_cast<size_t>(outp - out.data());
                out.resize(out.size() * 2);
                outp = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            // EILSEQ or EINVAL (truncated sequence at the end): handle one byte.
            std::string repl = onInvalid(static_cast<unsigned char>(*inp));
            size_t used = static_cast<size_t>(outp - out.data());
            if (outLeft < repl.size() + 8) {
                out.resize(out.size() * 2 + repl.size());
                outp = out.data() + used;
                outLeft = out.size() - used;
            }
            std::memcpy(outp, repl.data(), repl.size());
            outp += repl.size();
            outLeft -= repl.size();
            ++inp;
            --inLeft;
        }
        out.resize(static_cast<size_t>(outp - out.data()));
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::string HostToStored(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    thread_local Converter conv("GB18030", "UTF-8");
    // A byte that is not UTF-8 cannot name a GB18030 character; keep it as it is.
    return conv.Run(utf8, [](unsigned char b) { return std::string(1, static_cast<char>(b)); });
}

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Decodes one whole GB18030 sequence with iconv: its UTF-8, or empty when iconv
// does not take all of it as characters.
std::string DecodeSequence(Converter& conv, std::string_view seq) {
    bool bad = false;
    std::string out = conv.Run(seq, [&](unsigned char) {
        bad = true;
        return std::string();
    });
    return bad ? std::string() : out;
}

// The UTF-8 of every single byte 0x80-0xFF and double-byte GB18030 character,
// made once from iconv, so decoding a name costs a lookup per character instead
// of an iconv call. Four-byte sequences are rare and still go to iconv.
class DecodeTable {
public:
    DecodeTable() {
        Converter conv("UTF-8", "GB18030");
        for (int c = 0x80; c <= 0xFF; ++c)
            Set(single_[c - 0x80], DecodeSequence(conv, std::string(1, static_cast<char>(c))));
        for (int lead = 0x81; lead <= 0xFE; ++lead)
            for (int trail = 0; trail <= 0xFF; ++trail) {
                char seq[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                Set(pair_[lead - 0x81][trail], DecodeSequence(conv, std::string_view(seq, 2)));
            }
    }
    // UTF-8 of up to four bytes; size 0: not a character.
    struct Entry {
        unsigned char size = 0;
        char bytes[4] = {};
    };
    const Entry& Single(unsigned char c) const { return single_[c - 0x80]; }
    const Entry& Pair(unsigned char lead, unsigned char trail) const {
        return pair_[lead - 0x81][trail];
    }

private:
    static void Set(Entry& e, const std::string& utf8) {
        if (utf8.empty() || utf8.size() > sizeof(e.bytes)) return;
        e.size = static_cast<unsigned char>(utf8.size());
        std::memcpy(e.bytes, utf8.data(), utf8.size());
    }
    Entry single_[0x80];
    Entry pair_[0x7E][0x100];
};

}  // namespace

std::string StoredToHost(std::string_view stored) {
    if (IsAscii(stored)) return std::string(stored);
    static const DecodeTable table;
    // The same result as iconv over the whole text: a byte that starts no
    // character becomes U+FFFD and decoding goes on at the next byte.
    std::string out;
    out.reserve(stored.size() * 3 / 2 + 3);
    const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
    const auto* end = p + stored.size();
    auto put = [&](const DecodeTable::Entry& e) {
        if (e.size == 0) {
            out += kReplacement;
            return false;
        }
        out.append(e.bytes, e.size);
        return true;
    };
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++p;
        } else if (c < 0x81 || c > 0xFE || end - p < 2) {
            put(table.Single(c));
            ++p;
        } else if (p[1] >= 0x30 && p[1] <= 0x39) {
            thread_local Converter conv("UTF-8", "GB18030");
            std::string utf8;
            if (end - p >= 4)
                utf8 = DecodeSequence(conv, std::string_view(reinterpret_cast<const char*>(p), 4));
            if (utf8.empty()) {
                out += kReplacement;
                ++p;
            } else {
                out += utf8;
                p += 4;
            }
        } else {
            p += put(table.Pair(c, p[1])) ? 2 : 1;
        }
    }
    return out;
}

void LowerAZCopyTo(const char* src, size_t n, char* dst) {
    const char* end = src + n;
    while (src < end) {
        // Only single-byte characters are folded; a trailing byte in 0x41-0x5A
        // belongs to a double-byte character and stays as it is.
        if (static_cast<unsigned char>(*src) < 0x80) {
            *dst++ = LowerAZ(*src++);
        } else {
            for (size_t k = StoredCharLength(src, end); k > 0; --k) *dst++ = *src++;
        }
    }
}

void LowerAZInPlace(std::string& s) {
    LowerAZCopyTo(s.data(), s.size(), s.data());
}

std::string LowerAZCopy(std::string_view s) {
    std::string r(s.size(), '\0');
    LowerAZCopyTo(s.data(), s.size(), r.data());
    return r;
}

size_t FindBytes(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle);
}

size_t FindChars(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return 0;
    if (needle.size() > haystack.size()) return std::string_view::npos;
    const char* begin = haystack.data();
    const char* end = begin + haystack.size();
    const char* last = end - needle.size();
    const char first = needle[0];
    const char* p = begin;
    while (p <= last) {
        if (*p == first && std::memcmp(p, needle.data(), needle.size()) == 0)
            return static_cast<size_t>(p - begin);
        // Pure ASCII runs step one byte at a time quickly.
        p += StoredCharLength(p, end);
    }
    return std::string_view::npos;
}

int CompareBytes(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (r != 0) return r < 0 ? -1 : 1;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int CompareNoCaseAZ(std::string_view a, std::string_view b) {
    // Folds on the fly. Up to the first difference both texts have the same bytes
    // but for the case of single-byte letters, so they share character boundaries.
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    size_t rest = 0;  // trailing bytes left of the current character
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (rest > 0) {
            --rest;
        } else if (x >= 0x80) {
            rest = StoredCharLength(a.data() + i, a.data() + a.size()) - 1;
        } else {
            x = static_cast<unsigned char>(LowerAZ(static_cast<char>(x)));
            if (y < 0x80) y = static_cast<unsigned char>(LowerAZ(static_cast<char>(y)));
        }
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCaseAZ(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCaseAZ(a, b) == 0;
}

namespace {
inline bool IsDigitByte(char c) {
    return c >= '0' && c <= '9';
}
}  // namespace

int CompareNatural(std::string_view a, std::string_view b) {
    const char* p = a.data();
    const char* pe = p + a.size();
    const char* q = b.data();
    const char* qe = q + b.size();
    // Walks both names a character at a time: a digit inside a multi-byte
    // character (GB18030 four-byte sequences hold some) never starts a number.
    while (p < pe && q < qe) {
        if (IsDigitByte(*p) && IsDigitByte(*q)) {
            const char* ps = p;
            const char* qs = q;
            while (p < pe && IsDigitByte(*p)) ++p;
            while (q < qe && IsDigitByte(*q)) ++q;
            // Leading zeros carry no value; a longer rest is a larger number.
            while (ps + 1 < p && *ps == '0') ++ps;
            while (qs + 1 < q && *qs == '0') ++qs;
            if (p - ps != q - qs) return p - ps < q - qs ? -1 : 1;
            const int r = std::memcmp(ps, qs, static_cast<size_t>(p - ps));
            if (r != 0) return r < 0 ? -1 : 1;
            continue;
        }
        const size_t np = StoredCharLength(p, pe);
        const size_t nq = StoredCharLength(q, qe);
        const size_t n = np < nq ? np : nq;
        for (size_t i = 0; i < n; ++i) {
            unsigned char x = static_cast<unsigned char>(np == 1 ? LowerAZ(p[i]) : p[i]);
            unsigned char y = static_cast<unsigned char>(nq == 1 ? LowerAZ(q[i]) : q[i]);
            if (x != y) return x < y ? -1 : 1;
        }
        if (np != nq) return np < nq ? -1 : 1;
        p += np;
        q += nq;
    }
    if (p < pe || q < qe) return p < pe ? 1 : -1;
    return CompareNoCaseAZ(a, b);
}

uint64_t NaturalSortKey(std::string_view name) {
    uint64_t key = 0;
    size_t i = 0;
    const char* p = name.data();
    const char* end = p + name.size();
    while (i < 8 && p < end) {
        const size_t n = StoredCharLength(p, end);
        if (n == 1 && IsDigitByte(*p)) {
            // Any number meets a non-digit as its first digit would, and two
            // numbers at the same place are left to the full comparison.
            key |= static_cast<uint64_t>('0') << (56 - 8 * i);
            break;
        }
        for (size_t k = 0; k < n && i < 8; ++k, ++i) {
            const char c = n == 1 ? LowerAZ(p[k]) : p[k];
            key |= static_cast<uint64_t>(static_cast<unsigned char>(c)) << (56 - 8 * i);
        }
        p += n;
    }
    return key;
}

std::string_view CutAtCharBoundary(std::string_view s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s;
    const char* begin = s.data();
    const char* end = begin + s.size();
    const char* p = begin;
    while (p < end) {
        size_t n = StoredCharLength(p, end);
        if (static_cast<size_t>(p - begin) + n > maxBytes) break;
        p += n;
    }
    return s.substr(0, static_cast<size_t>(p - begin));
}

void CopyToFixed(char* buf, size_t bufSize, std::string_view s) {
    if (bufSize == 0) return;
    size_t nul = s.find('\0');
    if (nul != std::string_view::npos) s = s.substr(0, nul);
    std::string_view cut = CutAtCharBoundary(s, bufSize - 1);
    std::memcpy(buf, cut.data(), cut.size());
    std::memset(buf + cut.size(), 0, bufSize - cut.size());
}

std::string_view FromFixed(const char* buf, size_t bufSize) {
    const void* nul = std::memchr(buf, 0, bufSize);
    size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - buf) : bufSize;
    return std::string_view(buf, n);
}

std::string StoredPathToHost(std::string_view storedPath) {
    std::string host = StoredToHost(storedPath);
    for (char& c : host)
        if (c == '\\') c = '/';
    return host;
}

std::string HostPathToStored(std::string_view hostPath) {
    std::string stored = HostToStored(hostPath);
    // Only single-byte '/' may be swapped: a '/' (0x2F) can never be a trailing byte
    // of a GB18030 character (trail bytes are 0x30-0x39 or 0x40-0xFE).
    for (char& c : stored)
        if (c == '/') c = '\\';
    return stored;
}

bool IsSafePathComponent(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    // '/' and NUL are never trailing bytes, so any of them is refused; '\\' is
    // refused only as a character of its own (0x5C is a legal trailing byte).
    if (name.find('/') != std::string_view::npos) return false;
    if (name.find('\0') != std::string_view::npos) return false;
    const char* p = name.data();
    const char* end = p + name.size();
    while (p < end) {
        size_t n = StoredCharLength(p, end);
        if (n == 1 && *p == '\\') return false;
        p += n;
    }
    return true;
}

static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Ucs2BeToUtf8(const unsigned char* p, size_t bytes) {
    std::string out;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        uint32_t u = (uint32_t(p[i]) << 8) | p[i + 1];
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes) {
            uint32_t lo = (uint32_t(p[i + 2]) << 8) | p[i + 3];
            if (lo >= 0xDC00 && lo < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

}  // namespace orb
