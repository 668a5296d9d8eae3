// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <random>

#include <algorithm>
#include <vector>

namespace orb {
namespace {

// 工具 in CP936.
const std::string kGongJu = "\xB9\xA4\xBE\xDF";

TEST(Codec, GbkCharactersMatchCodePage936) {
    EXPECT_EQ(HostToStored("工具"), kGongJu);
    EXPECT_EQ(StoredToHost(kGongJu), "工具");
    EXPECT_EQ(HostToStored("Setup.EXE"), "Setup.EXE");
}

TEST(Codec, NonGbkCharactersRoundTripAsGb18030) {
    // Characters outside GBK take four-byte GB18030 sequences instead of "?".
    for (const char* host : {"😀.txt", "ü-á", "한국어", "𠀀"}) {
        std::string stored = HostToStored(host);
        EXPECT_EQ(stored.find('?'), std::string::npos) << host;
        EXPECT_EQ(StoredToHost(stored), host);
    }
    std::string emoji = HostToStored("😀");
    ASSERT_EQ(emoji.size(), 4u);
    EXPECT_EQ(StoredCharLength(emoji.data(), emoji.data() + 4), 4u);
}

TEST(Codec, InvalidBytesNeverVanish) {
    // A file name that is not UTF-8 keeps its bytes; undecodable stored bytes
    // become the replacement character rather than being dropped.
    EXPECT_EQ(HostToStored(std::string("a\xFF"
                                       "b"))
                  .size(),
              3u);
    EXPECT_EQ(StoredToHost(std::string("a\xFF"
                                       "b")),
              "a\xEF\xBF\xBD"
              "b");
}

// iconv over the whole text, a byte that starts no character replaced by U+FFFD:
// what the decoder must give for any input.
std::string DecodeWithIconv(const std::string& in) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    std::string out(in.size() * 4 + 8, '\0');
    char* inp = const_cast<char*>(in.data());
    size_t inLeft = in.size(), outLeft = out.size();
    char* outp = out.data();
    while (inLeft > 0 && iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
        std::memcpy(outp, "\xEF\xBF\xBD", 3);
        outp += 3;
        outLeft -= 3;
        ++inp;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(static_cast<size_t>(outp - out.data()));
    return out;
}

TEST(Codec, DecodingAgreesWithIconvOnAnyBytes) {
    // Every lead and trail byte pair, between ASCII and at the very end.
    for (int lead = 0x80; lead <= 0xFF; ++lead)
        for (int trail = 0; trail <= 0xFF; ++trail) {
            std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            for (const std::string& s : {"a" + pair + "b", pair, pair.substr(0, 1)})
                ASSERT_EQ(StoredToHost(s), DecodeWithIconv(s)) << std::hex << lead << " " << trail;
        }
    // Random runs heavy in lead bytes and four-byte digits.
    std::mt19937 rng(99);
    const unsigned char bytes[] = {0x81, 0x82, 0x84, 0x90, 0xB0, 0xFE, 0xFF, 0x80,
                                   0x30, 0x39, 0x35, 0xA1, 0x40, 0x7F, 'a',  0x00};
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        for (size_t n = rng() % 12; n > 0; --n) s += static_cast<char>(bytes[rng() % 16]);
        ASSERT_EQ(StoredToHost(s), DecodeWithIconv(s)) << ::testing::PrintToString(s);
    }
}

TEST(StoredText, LowerCasesOnlySingleByteLetters) {
    // 0xC4 0x41: 'A' as the trailing byte of a double-byte character stays.
    std::string s = std::string("ABC\xC4\x41z") + kGongJu + "XY";
    EXPECT_EQ(LowerAZCopy(s), std::string("abc\xC4\x41z") + kGongJu + "xy");
    EXPECT_EQ(LowerAZCopy("ÀÉ"), "ÀÉ");  // only A to Z
}

TEST(StoredText, CharacterLengths) {
    const std::string s = std::string("a") + kGongJu + "\x81\x30\x81\x30" + "\xB0";
    const char* p = s.data();
    const char* end = p + s.size();
    std::vector<size_t> lens;
    while (p < end) {
        size_t n = StoredCharLength(p, end);
        lens.push_back(n);
        p += n;
    }
    // A lone lead byte at the end counts as one byte: never past the end.
    EXPECT_EQ(lens, (std::vector<size_t>{1, 2, 2, 4, 1}));
}

TEST(StoredText, CharacterSearchStartsOnBoundaries) {
    // 啊啊 is B0 A1 B0 A1; the bytes A1 B0 straddle the two characters.
    const std::string aa = "\xB0\xA1\xB0\xA1";
    const std::string straddle = "\xA1\xB0";
    EXPECT_EQ(FindBytes(aa, straddle), 1u);
    EXPECT_EQ(FindChars(aa, straddle), std::string_view::npos);
    EXPECT_EQ(FindChars(aa, "\xB0\xA1"), 0u);
    EXPECT_EQ(FindChars("x" + aa, "\xB0\xA1"), 1u);
    EXPECT_EQ(FindChars("mysetup", "setup"), 2u);
    EXPECT_EQ(FindChars("set", "setup"), std::string_view::npos);
    EXPECT_EQ(FindChars("abc", ""), 0u);
    // An ASCII letter that is the trailing byte of a double-byte character is not
    // a match.
    EXPECT_EQ(FindChars("\xC4\x41", "A"), std::string_view::npos);
}

TEST(StoredText, ComparisonsAreUnsignedBytes) {
    EXPECT_LT(CompareBytes("a", "b"), 0);
    EXPECT_LT(CompareBytes("Z", "a"), 0);
    EXPECT_LT(CompareBytes("z", kGongJu), 0);  // 0x7A < 0xB9 unsigned
    EXPECT_LT(CompareBytes("ab", "abc"), 0);
    EXPECT_EQ(CompareBytes("abc", "abc"), 0);
    EXPECT_EQ(CompareNoCaseAZ("ABC", "abc"), 0);
    EXPECT_GT(CompareNoCaseAZ("Zeta", "alpha"), 0);
    EXPECT_TRUE(EqualsNoCaseAZ("D:/LIB/A.ORB", "d:/lib/a.orb"));
    EXPECT_FALSE(EqualsNoCaseAZ("\xC4\x41", "\xC4\x61"));
    // Folding follows characters: a trailing 0x41 stays, a letter after a
    // double-byte character folds.
    EXPECT_EQ(CompareNoCaseAZ("aB\xC4\x41Z", "Ab\xC4\x41z"), 0);
    EXPECT_LT(CompareNoCaseAZ("a\xC4\x41", "a\xC4\x61"), 0);
    EXPECT_EQ(CompareNoCaseAZ("\x81\x30\x81\x30Q", "\x81\x30\x81\x30q"), 0);
}

TEST(StoredText, CuttingKeepsWholeCharacters) {
    const std::string s = "ab" + kGongJu;  // 2 + 2 + 2 bytes
    EXPECT_EQ(CutAtCharBoundary(s, 6), s);
    EXPECT_EQ(CutAtCharBoundary(s, 5), "ab\xB9\xA4");
    EXPECT_EQ(CutAtCharBoundary(s, 3), "ab");
    EXPECT_EQ(CutAtCharBoundary(s, 0), "");
    char buf[5];
    CopyToFixed(buf, sizeof(buf), s);
    EXPECT_EQ(std::string(buf), "ab\xB9\xA4");
    EXPECT_EQ(FromFixed(buf, sizeof(buf)), "ab\xB9\xA4");
    char full[3] = {'x', 'y', 'z'};
    EXPECT_EQ(FromFixed(full, 3), "xyz");  // no terminator: never reads past
}

TEST(StoredText, PathsAndComponents) {
    EXPECT_EQ(HostPathToStored("工具/setup/"), kGongJu + "\\setup\\");
    EXPECT_EQ(StoredPathToHost(kGongJu + "\\setup\\"), "工具/setup/");
    struct Case {
        std::string name;
        bool safe;
    } cases[] = {
        {"a.txt", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"a\\b", false},
        {std::string("a\0b", 3), false},
        {"...", true},
        {"\xB1\x5C", true},  // 0x5C as a trailing byte is not a separator
        {"\x81/", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSafePathComponent(c.name), c.safe) << c.name;
}

TEST(NaturalOrder, NumbersCompareByValueAndTheKeyNeverContradictsTheNames) {
    const std::string photo = HostToStored("照片_");
    // 𠀀 is a four-byte GB18030 sequence whose second and fourth bytes are digits.
    const std::string ext = HostToStored("𠀀");
    std::vector<std::string> names = {photo + "10", photo + "2",  photo + "1",  "file10.txt",
                                      "File2.txt",  "file02.txt", "a",          "B",
                                      "a1b",        "a!",         "abcdefgh12", "abcdefgh9",
                                      ext + "1",    ext,          "9",          "10"};
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const std::string& a, const std::string& b) { return CompareNatural(a, b) < 0; });
    const std::vector<std::string> expected = {
        "9",          "10",        "a",          "a!",        "a1b",        "abcdefgh9",
        "abcdefgh12", "B",         "file02.txt", "File2.txt", "file10.txt", ext,
        ext + "1",    photo + "1", photo + "2",  photo + "10"};
    EXPECT_EQ(sorted, expected);
    for (const std::string& a : names) {
        EXPECT_EQ(CompareNatural(a, a), 0);
        EXPECT_EQ(CompareNatural(a + "X", a + "x"), 0);
        for (const std::string& b : names) {
            const int r = CompareNatural(a, b);
            EXPECT_EQ(r, -CompareNatural(b, a)) << a << " / " << b;
            if (!EqualsNoCaseAZ(a, b)) {
                EXPECT_NE(r, 0) << a << " / " << b;
            }
            const uint64_t ka = NaturalSortKey(a), kb = NaturalSortKey(b);
            if (ka != kb) {
                EXPECT_EQ(ka < kb, r < 0) << a << " / " << b;
            }
        }
    }
}

}  // namespace
}  // namespace orb
