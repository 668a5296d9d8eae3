// SPDX-License-Identifier: GPL-3.0-or-later
// Pinyin search: the readings table, the matching rules (as a table of keyword and
// name pairs), agreement with a plain reference matcher over generated names, and
// the options as the search walk applies them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "platform/text.h"
#include "search/name_match.h"
#include "search/pinyin_match.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

std::string S(const char* utf8) {
    return HostToStored(utf8);
}

bool Has(const std::vector<std::string_view>& v, std::string_view s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(PinyinTable, ReadingsOfHeteronymsUmlautAndFourByteCharacters) {
    auto hang = PinyinReadings(S("行"));
    EXPECT_TRUE(Has(hang, "hang") && Has(hang, "xing"));
    auto zhang = PinyinReadings(S("长"));
    EXPECT_TRUE(Has(zhang, "chang") && Has(zhang, "zhang"));
    auto zhong = PinyinReadings(S("重"));
    EXPECT_TRUE(Has(zhong, "chong") && Has(zhong, "zhong"));
    auto lv = PinyinReadings(S("绿"));
    EXPECT_TRUE(Has(lv, "lv") && Has(lv, "lu"));
    // Tones dropped, nothing but lower-case letters.
    for (std::string_view r : PinyinReadings(S("女")))
        for (char c : r) EXPECT_TRUE(c >= 'a' && c <= 'z') << r;
    // Four-byte GB18030: CJK extension A (BMP) and extension B (plane 2).
    const std::string extA = S("\xE3\x90\x80");      // U+3400
    const std::string extB = S("\xF0\xA0\x80\x80");  // U+20000
    ASSERT_EQ(extA.size(), 4u);
    ASSERT_EQ(extB.size(), 4u);
    EXPECT_EQ(Gb18030FourByteCodePoint(reinterpret_cast<const unsigned char*>(extA.data()), 4),
              0x3400u);
    EXPECT_EQ(Gb18030FourByteCodePoint(reinterpret_cast<const unsigned char*>(extB.data()), 4),
              0x20000u);
    EXPECT_TRUE(Has(PinyinReadings(extA), "qiu"));
    EXPECT_TRUE(Has(PinyinReadings(extB), "he"));
    // No reading: punctuation, Latin, a truncated or malformed sequence.
    EXPECT_TRUE(PinyinReadings(S("，")).empty());
    EXPECT_TRUE(PinyinReadings("A").empty());
    EXPECT_TRUE(PinyinReadings("\x81\x30\x81").empty());
    EXPECT_EQ(
        Gb18030FourByteCodePoint(reinterpret_cast<const unsigned char*>("\x81\x30\x20\x30"), 4),
        0u);
}

struct Pair {
    const char* keyword;
    const char* name;  // UTF-8; a trailing '/' makes it a directory
    uint8_t options;
    bool match;
};

constexpr uint8_t P = SF_PINYIN;
constexpr uint8_t C = SF_MATCHCASE;
constexpr uint8_t W = SF_WHOLENAME;

TEST(PinyinMatch, PairTable) {
    const Pair pairs[] = {
        // full readings, initials, mixed, the last syllable cut short
        {"gongju", "工具箱.exe", P, true},
        {"gj", "工具箱.exe", P, true},
        {"gongj", "工具箱.exe", P, true},
        {"gjx", "工具箱.exe", P, true},
        {"gjxiang", "工具箱.exe", P, true},
        {"gjxia", "工具箱.exe", P, true},
        {"gongjuxiang", "工具箱.exe", P, true},
        {"jx", "工具箱.exe", P, true},
        {"gx", "工具箱.exe", P, false},        // not consecutive
        {"gjxiangz", "工具箱.exe", P, false},  // spells past the run
        {"gojx", "工具箱.exe", P, false},      // only the last syllable may be cut
        {"gjxx", "工具箱.exe", P, false},
        // heteronyms
        {"yinhang", "银行", P, true},
        {"yh", "银行", P, true},
        {"yinxing", "银行", P, true},
        {"zhongqing", "重庆", P, true},
        {"chongqing", "重庆", P, true},
        {"zhangda", "长大", P, true},
        {"changda", "长大", P, true},
        // zh, ch and sh whole and by their first letter
        {"zqh", "中期会", P, true},
        {"zhqh", "中期会", P, true},
        {"zhqhui", "中期会", P, true},
        {"cqh", "中期会", P, false},
        {"shj", "世界", P, true},
        {"sj", "世界", P, true},
        {"shhj", "世界", P, false},
        // u-umlaut typed v or u
        {"lvse", "绿色", P, true},
        {"luse", "绿色", P, true},
        {"lvs", "绿色", P, true},
        // Latin letters and digits inside the run; anything else ends it
        {"wingj", "Win工具.txt", P, true},
        {"win7gj", "Win7工具.txt", P, true},
        {"gj2x", "工具2箱", P, true},
        {"gjx", "工具2箱", P, false},
        {"gjx", "工具 箱", P, false},
        {"gj", "工，具", P, false},
        {"gjbox", "工具box", P, true},
        // case follows the case option; readings never distinguish case
        {"GJX", "工具箱", P, true},
        {"GJX", "工具箱", P | C, true},
        {"gjBOX", "工具box", P, true},
        {"gjBOX", "工具box", P | C, false},
        {"gjbox", "工具BOX", P | C, false},
        {"gjBOX", "工具BOX", P | C, true},
        // four-byte characters
        {"qiu", "\xE3\x90\x80", P, true},
        {"aqiu", "啊\xE3\x90\x80", P, true},
        {"hezhe", "\xF0\xA0\x80\x80\xF0\xAA\x9A\xA5", P, true},
        // whole name: the whole base of a file, the whole name of a directory
        {"gjx", "工具箱.exe", P | W, true},
        {"gj", "工具箱.exe", P | W, false},
        {"jx", "工具箱/", P | W, false},
        {"gjxiang", "工具箱/", P | W, true},
        {"gjxia", "工具箱/", P | W, true},
        // the extension never carries a match; a directory has none
        {"gj", "readme.工具", P, false},
        {"gj", "readme.工具/", P, true},
        // only keywords of ASCII letters (and digits) spell pinyin
        {"g j", "工具", P, false},
        {"12", "工具12", P, true},  // literal
        {"12", "工具", P, false},
        // pinyin off
        {"gj", "工具箱.exe", 0, false},
        {"gongju", "工具箱/", 0, false},
    };
    for (const Pair& p : pairs) {
        std::string name = p.name;
        const bool dir = name.back() == '/';
        if (dir) name.pop_back();
        NameMatchSpan span;
        EXPECT_EQ(FindNameMatch(S(name.c_str()), dir, p.keyword, p.options, span), p.match)
            << p.keyword << " / " << p.name << " options " << int(p.options);
    }
}

TEST(PinyinMatch, SpansAreTheLiteralMatchFirstThenTheLeftmostRun) {
    NameMatchSpan span;
    ASSERT_TRUE(FindNameMatch(S("工具箱.exe"), false, "jx", P, span));
    EXPECT_EQ(span.begin, 2u);  // 具箱
    EXPECT_EQ(span.end, 6u);
    // A literal match wins over an earlier pinyin run.
    ASSERT_TRUE(FindNameMatch(S("工具gj"), false, "gj", P, span));
    EXPECT_EQ(span.begin, 4u);
    EXPECT_EQ(span.end, 6u);
    ASSERT_TRUE(FindNameMatch(S("a工具箱工具"), false, "gj", P, span));
    EXPECT_EQ(span.begin, 1u);
    EXPECT_EQ(span.end, 5u);
    // A byte-wise directory match inside a character widens to whole characters.
    ASSERT_TRUE(FindNameMatch("\xB0\xA1\xB0\xA1", true, "\xA1\xB0", 0, span));
    EXPECT_EQ(span.begin, 0u);
    EXPECT_EQ(span.end, 4u);
}

// --- a plain reference matcher, written from the table alone ---

std::vector<std::string> Chars(const std::string& stored) {
    std::vector<std::string> out;
    for (size_t i = 0; i < stored.size();) {
        size_t n = StoredCharLength(stored.data() + i, stored.data() + stored.size());
        out.push_back(stored.substr(i, n));
        i += n;
    }
    return out;
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whether chars[i..] spell kw[pos..] (up to the end of chars when mustEnd); *end
// gets the nearest end of all the ways to spell it.
bool RefSpell(const std::vector<std::string>& chars, size_t i, const std::string& kw, size_t pos,
              bool matchCase, bool mustEnd, size_t* end) {
    if (pos == kw.size() && (!mustEnd || i == chars.size())) {
        *end = std::min(*end, i);
        return true;
    }
    if (pos == kw.size() || i == chars.size()) return false;
    const std::string& ch = chars[i];
    if (ch.size() == 1) {
        if (!IsAlnum(ch[0])) return false;
        bool same = matchCase ? ch[0] == kw[pos] : LowerAZ(ch[0]) == LowerAZ(kw[pos]);
        return same && RefSpell(chars, i + 1, kw, pos + 1, matchCase, mustEnd, end);
    }
    const std::string low = LowerAZCopy(kw);
    bool any = false;
    for (std::string_view r : PinyinReadings(ch)) {
        for (size_t len = 1; len <= r.size(); ++len) {
            bool initial =
                len == 1 || (len == 2 && r[1] == 'h' &&
                             std::string_view("zcs").find(r[0]) != std::string_view::npos);
            bool allowed = initial || len == r.size() || pos + len == kw.size();
            if (!allowed || low.compare(pos, len, r.substr(0, len)) != 0) continue;
            any = RefSpell(chars, i + 1, kw, pos + len, matchCase, mustEnd, end) || any;
        }
    }
    return any;
}

bool RefFind(const std::string& stored, const std::string& kw, bool matchCase, bool whole,
             size_t& begin, size_t& end) {
    bool letter = false;
    for (char c : kw) {
        if (!IsAlnum(c)) return false;
        letter = letter || c > '9';
    }
    if (!letter) return false;
    std::vector<std::string> chars = Chars(stored);
    size_t offset = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
        size_t endChar = chars.size();
        if (RefSpell(chars, i, kw, 0, matchCase, whole, &endChar)) {
            begin = offset;
            end = offset;
            for (size_t j = i; j < endChar; ++j) end += chars[j].size();
            return true;
        }
        if (whole) break;
        offset += chars[i].size();
    }
    return false;
}

TEST(PinyinMatch, AgreesWithAReferenceMatcherOverGeneratedNames) {
    const std::vector<std::string> alphabet = {S("工"),
                                               S("具"),
                                               S("箱"),
                                               S("行"),
                                               S("长"),
                                               S("重"),
                                               S("中"),
                                               S("期"),
                                               S("会"),
                                               S("绿"),
                                               S("银"),
                                               S("啊"),
                                               S("阿"),
                                               S("是"),
                                               S("士"),
                                               S("\xE3\x90\x80"),
                                               S("\xF0\xA0\x80\x80"),
                                               S("，"),
                                               ".",
                                               "\xB9",      // a lead byte alone
                                               "\x81\x30",  // a four-byte start alone
                                               " ",
                                               "a",
                                               "b",
                                               "g",
                                               "z",
                                               "h",
                                               "X",
                                               "1",
                                               "2"};
    std::mt19937 rng(24);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    size_t matched = 0;
    size_t turnedDown = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::string> chars;
        std::string name;
        // Some names long enough for a character to cross the quick test's blocks.
        for (size_t n = 1 + pick(round % 4 == 3 ? 20 : 8); n > 0; --n) {
            chars.push_back(alphabet[pick(alphabet.size())]);
            name += chars.back();
        }
        std::string kw;
        if (round % 2 == 0) {
            // Spell a random run, each character by a random allowed piece.
            size_t from = pick(chars.size());
            size_t to = from + 1 + pick(chars.size() - from);
            for (size_t i = from; i < to; ++i) {
                const std::string& ch = chars[i];
                if (ch.size() == 1) {
                    kw += pick(4) == 0 ? static_cast<char>(ch[0] ^ 0x20) : ch[0];
                    continue;
                }
                auto rs = PinyinReadings(ch);
                if (rs.empty()) {
                    kw += "q";
                    continue;
                }
                std::string_view r = rs[pick(rs.size())];
                size_t len = pick(3) == 0 ? r.size() : 1 + pick(std::min<size_t>(r.size(), 3));
                kw += std::string(r.substr(0, len));
            }
        } else {
            const char letters[] = "aghjxzsiuonegX1";
            for (size_t n = 1 + pick(6); n > 0; --n) kw += letters[pick(sizeof(letters) - 1)];
        }
        // The name as the walk holds it: NUL-terminated in a fixed buffer, with
        // letters after the NUL that the quick test must not read.
        char clean[260] = {};
        char dirty[260];
        for (char& c : dirty) c = "gjxzhaqiuon"[pick(11)];
        std::memcpy(clean, name.data(), name.size());
        std::memcpy(dirty, name.data(), name.size());
        dirty[name.size()] = 0;
        for (bool matchCase : {false, true}) {
            CPinyinMatcher m(kw, matchCase);
            // The quick test never turns down a name, or a file's base, that
            // matches; it reads the name up to its NUL, or to the buffer's end
            // without one.
            bool may[2];
            for (bool base : {false, true}) {
                may[base] = m.MayMatchName(clean, sizeof(clean), base);
                ASSERT_EQ(m.MayMatchName(dirty, sizeof(dirty), base), may[base])
                    << kw << " " << StoredToHost(name);
                ASSERT_EQ(m.MayMatchName(name.data(), name.size(), base), may[base])
                    << kw << " " << StoredToHost(name);
                turnedDown += !may[base];
            }
            const std::string base = name.substr(0, name.rfind('.'));
            for (bool whole : {false, true}) {
                size_t rb = 0, re = 0, b = 0, e = 0;
                if (RefFind(base, kw, matchCase, whole, rb, re)) {
                    ASSERT_TRUE(may[true]) << kw << " " << StoredToHost(name);
                }
                bool ref = RefFind(name, kw, matchCase, whole, rb, re);
                matched += ref;
                if (ref) {
                    ASSERT_TRUE(may[false]) << kw << " " << StoredToHost(name);
                }
                ASSERT_EQ(m.Matches(name, whole), ref)
                    << "kw " << kw << " name " << StoredToHost(name) << " case " << matchCase
                    << " whole " << whole;
                ASSERT_EQ(m.Find(name, whole, b, e), ref);
                if (ref) {
                    EXPECT_EQ(b, rb) << kw << " " << StoredToHost(name);
                    EXPECT_EQ(e, re) << kw << " " << StoredToHost(name);
                }
            }
        }
    }
    EXPECT_GT(matched, 2000u);     // the generated keywords do exercise matches
    EXPECT_GT(turnedDown, 2000u);  // and the quick test
}

// --- the options as the search walk applies them ---

TEST(PinyinSearch, WalkAddsPinyinHitsUnderTheTypeFilesAndDirectoriesOptions) {
    test::TempDir dir;
    const std::string file = dir / "p.orb";
    test::BuildIndex(file, "DATA",
                     {S("工具箱.exe"), S("工具箱.txt"), S("工具/"), S("工具/gj.exe"), "readme.txt"},
                     {{"readme.txt", S("工具")}});
    auto search = [&](const std::string& kw, const std::string& types, uint8_t options) {
        test::RecordingTarget t;
        CIndexReader r;
        EXPECT_EQ(r.Open(file, OpenMode::ReadShareAll), 1);
        r.SetSearchOptions(&t, types, options);
        EXPECT_NE(r.BeginSearch(kw), nullptr);
        EXPECT_TRUE(t.WaitFinished());
        std::vector<std::string> hits;
        for (const std::string& h : t.Hits()) hits.push_back(StoredToHost(h));
        return hits;
    };
    using V = std::vector<std::string>;
    const uint8_t all = SF_FILES | SF_DIRECTORIES | SF_ANNOTATIONS | SF_PINYIN;
    EXPECT_EQ(search("gj", "*", all),
              (V{"DATA:\\工具箱.exe", "DATA:\\工具箱.txt", "DATA:\\工具", "DATA:\\工具\\gj.exe"}));
    EXPECT_EQ(search("gj", "exe", all),
              (V{"DATA:\\工具箱.exe", "DATA:\\工具", "DATA:\\工具\\gj.exe"}));
    EXPECT_EQ(search("GJ", "*", SF_DIRECTORIES | SF_PINYIN | SF_MATCHCASE), (V{"DATA:\\工具"}));
    EXPECT_EQ(search("gongju", "*", SF_FILES | SF_PINYIN | SF_WHOLENAME), V{});
    EXPECT_EQ(search("gongjuxiang", "*", SF_FILES | SF_PINYIN | SF_WHOLENAME),
              (V{"DATA:\\工具箱.exe", "DATA:\\工具箱.txt"}));
    // Without the option only the literal hit; annotations are matched literally.
    EXPECT_EQ(search("gj", "*", all & ~SF_PINYIN), (V{"DATA:\\工具\\gj.exe"}));
    EXPECT_EQ(search("gj", "*", SF_ANNOTATIONS | SF_PINYIN), V{});
}

}  // namespace
}  // namespace orb
