#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the pinyin readings table (pinyin_table.cpp) from Unihan_Readings.txt.bz2.
#
#   gen_pinyin_table.py [UNIHAN_READINGS_BZ2] OUT.cpp
#
# Readings: kMandarin, plus kXHC1983, kTGHZ2013 and kHanyuPinlu for the other
# readings of heteronyms (kHanyuPinyin is left out: it carries archaic readings).
# Tones are dropped; u-umlaut is written both "v" (as input methods type it) and
# "u". Double-byte characters are indexed by their GBK code; characters that
# GB18030 writes with four bytes are listed by code point, with the ranges that
# turn a four-byte BMP code into its code point. Exit status 77 when the Unihan
# file is missing (the committed table then stands).
import bz2
import os
import sys
import unicodedata

DEFAULT_SOURCE = "/usr/share/unicode/Unihan_Readings.txt.bz2"
FIELDS = ("kMandarin", "kXHC1983", "kTGHZ2013", "kHanyuPinlu")


def plain(reading):
    """A reading without tone marks, lower case, u-umlaut as 'v'."""
    # NFD splits a toned u-umlaut (U+01DC) into u, diaeresis and tone mark.
    decomposed = unicodedata.normalize("NFD", reading.lower()).replace("u\u0308", "v")
    text = "".join(c for c in decomposed if not unicodedata.combining(c))
    if not text.isascii() or not text.isalpha():
        raise SystemExit("unexpected reading %r" % reading)
    return text


def values(field, value):
    if field == "kHanyuPinlu":  # zhōng(4875) zhòng(66)
        return [v.split("(")[0] for v in value.split()]
    if field in ("kXHC1983", "kTGHZ2013"):  # 1494.100:zhōng 1501.040:zhòng
        return [v.split(":")[1] for v in value.split()]
    return value.split()


def readings_by_code_point(source):
    result = {}
    with bz2.open(source, "rt", encoding="utf-8") as f:
        for line in f:
            if not line.startswith("U+"):
                continue
            cp, field, value = line.rstrip("\n").split("\t", 2)
            if field not in FIELDS:
                continue
            got = result.setdefault(int(cp[2:], 16), set())
            for v in values(field, value):
                p = plain(v)
                got.add(p)
                if "v" in p:
                    got.add(p.replace("v", "u"))
    return result


def four_byte_linear(b):
    return (((b[0] - 0x81) * 10 + (b[1] - 0x30)) * 126 + (b[2] - 0x81)) * 10 + (b[3] - 0x30)


def bmp_ranges():
    """(first linear, count, first code point) of every run of four-byte BMP codes."""
    pairs = []
    for cp in range(0x80, 0x10000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        b = chr(cp).encode("gb18030")
        if len(b) == 4:
            pairs.append((four_byte_linear(b), cp))
    pairs.sort()
    ranges = []
    for lin, cp in pairs:
        if ranges and ranges[-1][0] + ranges[-1][1] == lin and ranges[-1][2] + ranges[-1][1] == cp:
            ranges[-1][1] += 1
        else:
            ranges.append([lin, 1, cp])
    return ranges


def rows(numbers, per_line, fmt):
    out = []
    for i in range(0, len(numbers), per_line):
        out.append("    " + ", ".join(fmt % n for n in numbers[i:i + per_line]) + ",")
    return "\n".join(out)


def main():
    args = sys.argv[1:]
    if len(args) == 1:
        args = [DEFAULT_SOURCE] + args
    if len(args) != 2:
        sys.stderr.write(__doc__ if __doc__ else "usage: gen_pinyin_table.py [SOURCE] OUT\n")
        return 2
    source, out_path = args
    if not os.path.exists(source):
        sys.stderr.write("%s is missing (Debian package unicode-data)\n" % source)
        return 77
    readings = readings_by_code_point(source)

    syllables = sorted({r for rs in readings.values() for r in rs})
    syllable_id = {s: i for i, s in enumerate(syllables)}
    sets = [()]  # set 0: no reading
    set_id = {(): 0}

    def set_of(cp):
        key = tuple(sorted(syllable_id[r] for r in readings.get(cp, ())))
        if key not in set_id:
            set_id[key] = len(sets)
            sets.append(key)
        return set_id[key]

    gbk = []
    in_gbk = set()
    for lead in range(0x81, 0xFF):
        for trail in range(0x40, 0xFF):
            s = 0
            if trail != 0x7F:
                try:
                    ch = bytes([lead, trail]).decode("gb18030")
                except UnicodeDecodeError:
                    ch = ""
                if len(ch) == 1:
                    in_gbk.add(ord(ch))
                    s = set_of(ord(ch))
            gbk.append(s)
    four = [(cp, set_of(cp)) for cp in sorted(readings)
            if cp not in in_gbk and readings[cp] and len(chr(cp).encode("gb18030")) == 4]
    ranges = bmp_ranges()

    text_offsets, packed = [], ""
    for s in syllables:
        text_offsets.append(len(packed))
        packed += s + "\0"
    set_starts, members = [], []
    for key in sets:
        set_starts.append(len(members))
        members.extend(key)
    set_starts.append(len(members))

    with open(source, "rb") as f:
        header = bz2.decompress(f.read()).split(b"\n", 8)[:8]
    version = next((h.decode() for h in header if b"Unicode version" in h), "#").split(":")[-1].strip()
    version = "Unicode " + version

    src = []
    src.append("// SPDX-License-Identifier: GPL-3.0-or-later AND Unicode-DFS-2016")
    src.append("// Pinyin readings of Han characters, written by gen_pinyin_table.py: do not edit.")
    src.append("//")
    src.append("// Derived from Unihan_Readings.txt of the Unicode Character Database, %s," % version)
    src.append("// Copyright (c) Unicode, Inc., distributed under the Unicode licence in")
    src.append("// UNICODE-LICENSE.txt beside this file. Modified: only the fields kMandarin,")
    src.append("// kXHC1983, kTGHZ2013 and kHanyuPinlu are kept, tones are dropped, u-umlaut is")
    src.append("// written v and u, and characters are indexed by their GBK / GB18030 codes.")
    src.append('#include "search/pinyin/pinyin_data.h"')
    src.append("")
    src.append("namespace orb::pinyin_data {")
    src.append("")
    src.append("const uint16_t kSyllableCount = %d;" % len(syllables))
    src.append("const char kSyllableText[] =")
    line = '    "'
    for s in syllables:
        piece = s + "\\0"
        if len(line) + len(piece) > 96:
            src.append(line + '"')
            line = '    "'
        line += piece
    src.append(line + '";')
    src.append("const uint16_t kSyllableOffset[] = {")
    src.append(rows(text_offsets, 12, "%d"))
    src.append("};")
    src.append("const uint16_t kSetCount = %d;" % len(sets))
    src.append("const uint16_t kSetStart[] = {")
    src.append(rows(set_starts, 12, "%d"))
    src.append("};")
    src.append("const uint16_t kSetMember[] = {")
    src.append(rows(members, 12, "%d"))
    src.append("};")
    src.append("const uint16_t kGbkSet[kGbkLeads * kGbkTrails] = {")
    src.append(rows(gbk, 12, "%d"))
    src.append("};")
    src.append("const uint32_t kFourByteCount = %d;" % len(four))
    src.append("const FourByteReading kFourByte[] = {")
    src.append(rows(["{0x%X, %d}" % p for p in four], 6, "%s"))
    src.append("};")
    src.append("const uint32_t kBmpRangeCount = %d;" % len(ranges))
    src.append("const BmpRange kBmpRange[] = {")
    src.append(rows(["{%d, %d, 0x%X}" % tuple(r) for r in ranges], 4, "%s"))
    src.append("};")
    src.append("")
    src.append("}  // namespace orb::pinyin_data")
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(src) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
