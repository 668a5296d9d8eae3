// SPDX-License-Identifier: GPL-3.0-or-later
// Exported listings read back by Python's csv module and HTML parser, and stored
// names that come out exactly as stored.
#include "audit/export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "index/index_writer.h"
#include "tests/audit/audit_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

// Rows as Python saw them: cells joined by '|', rows by newlines.
constexpr const char* kReadCsv = R"(
import csv, sys
raw = open(sys.argv[1], 'rb').read()
assert raw.startswith(b'\xef\xbb\xbf'), 'no byte-order mark'
with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:
    for row in csv.reader(f):
        print('|'.join(c.replace('\n', '<LF>') for c in row))
)";

constexpr const char* kReadHtml = R"(
import sys
from html.parser import HTMLParser
class P(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.row, self.cell, self.out = [], None, None, []
    def handle_starttag(self, tag, attrs):
        if tag in ('meta', 'img'):
            if tag == 'img': self.out.append('img ' + dict(attrs)['src'][:22])
            return
        self.stack.append(tag)
        if tag == 'tr': self.row = []
        if tag in ('td', 'th'): self.cell = ''
    def handle_endtag(self, tag):
        assert self.stack and self.stack[-1] == tag, 'unbalanced ' + tag
        self.stack.pop()
        if tag in ('td', 'th'): self.row.append(self.cell); self.cell = None
        if tag == 'tr': self.out.append('|'.join(self.row))
        if tag == 'title': self.out.append('title ' + self.title)
    def handle_data(self, data):
        if self.cell is not None: self.cell += data.replace('\n', '<LF>')
        if self.stack and self.stack[-1] == 'title': self.title = data
        if self.stack and self.stack[-1] == 'div': self.out.append('remark ' + data.replace('\n', '<LF>'))
p = P()
p.feed(open(sys.argv[1], encoding='utf-8').read())
p.close()
assert not p.stack, 'unclosed ' + str(p.stack)
print('\n'.join(p.out))
)";

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        CScanTree tree;
        const FILETIME t = UnixToFileTime(1700000000, 0);
        ScanNodeId dir = tree.Append(kNoNode, kEntryDirectory, 0, t, "\xB9\xA4\xBE\xDF");  // 工具
        tree.Append(dir, 0, 70000, t, "a,\"b\".exe");
        tree.Append(kNoNode, 0, 5, t, "bad\xFF\\name");
        IndexHeader h;
        SetHeaderLabel(h, "DATA");
        h.capacity = 650000000;
        h.fileCount = 2;
        h.dirCount = 1;
        IndexWriteOptions o;
        o.remark = "\xC3\xE8\xCA\xF6 <b>&\nline2";  // 描述
        const std::string cover = std::string("\x89PNG\r\n\x1A\n", 8) + "rest";
        o.cover = cover;
        index_ = tmp_ / "d.orb";
        ASSERT_EQ(WriteIndexFile(index_, h, tree, o), WriteResult::Ok);
        CIndexReader w;
        ASSERT_TRUE(w.Open(index_, OpenMode::ReadWriteShareAll));
        IndexEntry first, inside;
        ASSERT_TRUE(w.ReadFirstEntry(nullptr, first));
        ASSERT_TRUE(w.ReadFirstEntry(&first, inside));
        w.SetAnnotation(first.firstChild, "note, \"quoted\"\nsecond line");
        ASSERT_TRUE(w.Close());
        ASSERT_TRUE(reader_.Open(index_, OpenMode::ReadShareAll));
    }

    std::string Export(ExportFormat f) {
        std::ostringstream out;
        EXPECT_TRUE(ExportListing(reader_, f, out));
        test::WriteFile(tmp_ / "out", out.str());
        return out.str();
    }

    TempDir tmp_;
    std::string index_;
    CIndexReader reader_;
};

TEST_F(ExportTest, CsvReadsBackThroughPythonsCsvModule) {
    Export(ExportFormat::Csv);
    std::string rows;
    ASSERT_EQ(test::RunPython(kReadCsv, tmp_ / "out", rows), 0) << rows;
    EXPECT_EQ(rows,
              "路径|类型|大小|修改时间|注释\n"
              "工具\\|目录|0|2023-11-14 22:13:20|\n"
              "工具\\a,\"b\".exe|文件|70000|2023-11-14 22:13:20|note, \"quoted\"<LF>second line\n"
              "bad\\xff\\x5cname|文件|5|2023-11-14 22:13:20|\n");
}

TEST_F(ExportTest, HtmlIsOneWellFormedPageWithTheDisc) {
    Export(ExportFormat::Html);
    std::string parsed;
    ASSERT_EQ(test::RunPython(kReadHtml, tmp_ / "out", parsed), 0) << parsed;
    EXPECT_EQ(parsed,
              "title DATA\n"
              "img data:image/png;base64,\n"
              "卷标|DATA\n容量|650000000 字节\n文件|2\n目录|1\n"
              "remark 描述 <b>&<LF>line2\n"
              "路径|类型|大小|修改时间|注释\n"
              "工具\\|目录|0|2023-11-14 22:13:20|\n"
              "工具\\a,\"b\".exe|文件|70000|2023-11-14 22:13:20|note, \"quoted\"<LF>second line\n"
              "bad\\xff\\x5cname|文件|5|2023-11-14 22:13:20|\n");
}

TEST_F(ExportTest, JsonKeepsTheCommandLineShape) {
    const std::string json = Export(ExportFormat::Json);
    std::string out;
    ASSERT_EQ(test::RunPython("import json,sys\nd=json.load(open(sys.argv[1]))\n"
                              "e=d['entries'][1]\nprint(d['label'],e['id'],e['kind'],e['size'],"
                              "e['time'],e['name'],e['path'])\n",
                              tmp_ / "out", out),
              0)
        << json;
    EXPECT_EQ(out, "DATA " + std::to_string(92 + 29 + 4) +
                       " file 70000 2023-11-14T22:13:20Z a,\"b\".exe 工具\\a,\"b\".exe\n");
}

TEST(ExportText, StoredBytesComeOutVisiblyAndExactly) {
    EXPECT_EQ(ExportName("\xCE\xC4\xBC\xFE.txt"), "文件.txt");
    EXPECT_EQ(ExportName("a\x80z\xFF"), "a\\x80z\\xff");
    EXPECT_EQ(ExportName("tab\there\x01"), "tab\\x09here\\x01");
    EXPECT_EQ(ExportText("line\nnext\ttab"), "line\nnext\ttab");
    // A lead byte cut off at the end, and a four-byte sequence (U+1F600).
    EXPECT_EQ(ExportName("x\xB9"), "x\\xb9");
    EXPECT_EQ(ExportName("\x94\x39\xFC\x36"), "\xF0\x9F\x98\x80");
    // 0x5C as the second byte of a character is not a separator.
    EXPECT_EQ(ExportPath("\x81\x5C\\a"), ExportName("\x81\x5C") + "\\a");
    EXPECT_EQ(ExportName("\x81\x5C").find("\\x"), std::string::npos);
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a\"b"), "\"a\"\"b\"");
}

}  // namespace
}  // namespace orb
