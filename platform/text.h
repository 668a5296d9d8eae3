// SPDX-License-Identifier: GPL-3.0-or-later
// Stored text: the code page 936 / GB18030 bytes kept in index files, companions,
// favorite.dat and drag blocks. Every comparison, case fold and search the program
// makes on names works on these bytes, never on host strings, so orders and matches
// are the same as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orb {

// Host text is UTF-8 (Linux file names, Qt strings converted with toStdString).
// Host -> stored encodes as GB18030, identical to CP936 for every GBK character
// and lossless for all others. Bytes that are not valid UTF-8 are kept as they are
// when they cannot be encoded, so nothing is silently turned into "?".
std::string HostToStored(std::string_view utf8);
// Stored -> host decodes GB18030 (a superset of CP936). An undecodable byte becomes
// U+FFFD.
std::string StoredToHost(std::string_view stored);

// Lower-cases the single-byte letters A to Z only; every byte of a multi-byte
// character (its trailing bytes included) is left alone. LowerAZ(char) is for a
// byte known to be a single-byte character.
inline char LowerAZ(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
void LowerAZInPlace(std::string& s);
std::string LowerAZCopy(std::string_view s);
// Writes the n bytes at src, folded, to dst (which has room for n bytes).
void LowerAZCopyTo(const char* src, size_t n, char* dst);

// Length in bytes of the character starting at p (1, 2 or 4), never running past end.
// A lead byte 0x81-0xFE starts a double-byte character, or a four-byte GB18030
// sequence when the next byte is 0x30-0x39. Inline: name loops call it per byte.
inline size_t StoredCharLength(const char* p, const char* end) {
    if (p >= end) return 0;
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x81 || c > 0xFE || end - p < 2) return 1;
    const unsigned char c2 = static_cast<unsigned char>(p[1]);
    if (c2 >= 0x30 && c2 <= 0x39) return end - p >= 4 ? 4 : static_cast<size_t>(end - p);
    return 2;
}
inline size_t StoredCharLength(const unsigned char* p, const unsigned char* end) {
    return StoredCharLength(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end));
}

// Byte-wise search: a match may start on any byte.
size_t FindBytes(std::string_view haystack, std::string_view needle);
// Character-wise search: a match starts only on a character boundary.
size_t FindChars(std::string_view haystack, std::string_view needle);

// Compares as unsigned bytes (like strcmp on the stored form).
int CompareBytes(std::string_view a, std::string_view b);
// Compares after folding A-Z to a-z, as unsigned bytes.
int CompareNoCaseAZ(std::string_view a, std::string_view b);
bool EqualsNoCaseAZ(std::string_view a, std::string_view b);
// Natural order for names people read: runs of the digits 0-9 compare as numbers
// (照片_2 before 照片_10), everything else as CompareNoCaseAZ. Names that differ
// only in leading zeros fall back to CompareNoCaseAZ, so only names equal under
// A-Z folding compare equal.
int CompareNatural(std::string_view a, std::string_view b);
// The first eight bytes of a name, A-Z folded, big-endian and zero padded, up to
// and including its first digit, which counts as '0'. Keys that differ order two
// names as CompareNatural does, so a sort compares names only when keys tie.
uint64_t NaturalSortKey(std::string_view name);

// The longest prefix of s of at most maxBytes bytes that ends on a character
// boundary.
std::string_view CutAtCharBoundary(std::string_view s, size_t maxBytes);

// Copies s into a fixed NUL-terminated buffer of size bufSize, cut at a character
// boundary so that the terminator fits; the rest of the buffer is zeroed.
void CopyToFixed(char* buf, size_t bufSize, std::string_view s);
// The text of a fixed buffer up to its terminator (or its whole size).
std::string_view FromFixed(const char* buf, size_t bufSize);

// Path separators between host paths ('/') and stored paths ('\').
std::string StoredPathToHost(std::string_view storedPath);  // '\' -> '/', decoded
std::string HostPathToStored(std::string_view hostPath);    // '/' -> '\', encoded

// True when a stored name is one safe path component: not empty, not "." or "..",
// no '/', '\' or NUL. Names read from an index must pass before they are joined
// into a host path.
bool IsSafePathComponent(std::string_view storedName);

// UCS-2 big-endian text as Joliet and UDF keep it, up to its first NUL, as UTF-8;
// UTF-16 surrogate pairs are joined, a lone surrogate becomes U+FFFD.
std::string Ucs2BeToUtf8(const unsigned char* p, size_t bytes);

}  // namespace orb
