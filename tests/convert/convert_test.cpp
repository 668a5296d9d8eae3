// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "convert/converter.h"
#include "convert/old_index.h"
#include "index/index_reader.h"
#include "tests/convert/old_layout.h"
#include "tests/platform/fifo_guard.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::Bytes;
using test::FileExists;
using test::OldEntry;
using test::OldIndex;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kGbkName = "\xD6\xD0\xCE\xC4.txt";  // 中文.txt in code page 936

uint32_t At32(const std::string& s, size_t at) {
    return GetLE32(reinterpret_cast<const unsigned char*>(s.data()) + at);
}

// A disc with nested directories, an empty directory, a file over 4 GiB and a name
// in code page 936.
OldIndex SampleDisc() {
    OldIndex idx;
    idx.label = "SAMPLE_DISC";
    idx.capacity = 681574400;
    OldEntry setup{"setup.exe", false, 123456, 0x01D0000012345678ULL, {}};
    OldEntry big{"big.iso", false, 5000000000ULL, 0x01D1000000000001ULL, {}};
    OldEntry gbk{kGbkName, false, 7, 0x01D2000000000002ULL, {}};
    OldEntry empty{"empty", true, 0, 0x01D3000000000003ULL, {}};
    OldEntry deep{"deep", true, 0, 0x01D4000000000004ULL, {gbk, empty}};
    OldEntry tools{"tools", true, 0, 0x01D5000000000005ULL, {big, deep}};
    OldEntry readme{"readme.txt", false, 99, 0x01D6000000000006ULL, {}};
    idx.top = {setup, tools, readme};
    return idx;
}

std::string Dump(const std::vector<OldEntry>& list) {
    std::ostringstream s;
    for (const OldEntry& e : list) {
        s << e.name << '|' << e.directory << '|' << e.size << '|' << e.time;
        if (!e.children.empty()) s << '{' << Dump(e.children) << '}';
        s << ';';
    }
    return s.str();
}

// Walks a list of an open index the way the views do and dumps it like Dump.
std::string DumpReader(CIndexReader& reader, const IndexEntry* parent) {
    std::ostringstream s;
    IndexEntry e;
    for (int ok = reader.ReadFirstEntry(parent, e); ok; ok = reader.ReadNextEntry(e, e)) {
        s << e.Name() << '|' << e.IsDirectory() << '|' << e.Size() << '|'
          << FileTimeToU64(e.writeTime);
        if (e.IsDirectory()) {
            IndexEntry dir = e;
            std::string inner = DumpReader(reader, &dir);
            if (!inner.empty()) s << '{' << inner << '}';
        }
        s << ';';
    }
    return s.str();
}

// The test writer against the old layout's byte tables, field by field.
TEST(OldLayoutWriter, MatchesTheOldByteTables) {
    OldIndex idx;
    idx.label = "CD";
    idx.capacity = 0x11223344;
    idx.remark = "hi";
    idx.cover = "PIC";
    idx.nameLengthHighBits = 0xAB000000;
    idx.top = {OldEntry{"d",
                        true,
                        0x0000000100000002ULL,
                        0x0000000500000006ULL,
                        {OldEntry{"f.txt", false, 9, 10, {}}}},
               OldEntry{"g", false, 3, 4, {}}};
    Bytes expected;
    expected.str("OLD2").fixed("CD", 52).u32(0x11223344).u32(1).u32(2);
    const uint32_t f = 84 + 33, g = f + 37, end = g + 33;
    expected.u32(end).u32(2).u32(end + 2).u32(3);
    // d: first child f, next sibling g, name length 1 with junk above the low byte.
    expected.i32(f).i32(g).u32(0xAB000001).u32(1).u32(1).u32(2).u32(6).u32(5).str("d");
    expected.i32(-1).i32(-1).u32(0xAB000005).u32(0).u32(0).u32(9).u32(10).u32(0).str("f.txt");
    expected.i32(-1).i32(-1).u32(0xAB000001).u32(0).u32(0).u32(3).u32(4).u32(0).str("g");
    expected.str("hi").str("PIC");
    EXPECT_EQ(test::BuildOldIndex(idx), expected.data());
}

TEST(ConvertIndexFile, HeaderTakesOverLabelCapacityAndSwappedCounts) {
    TempDir dir;
    OldIndex idx = SampleDisc();
    idx.dirCount = 0x0D0D;   // old offset 60
    idx.fileCount = 0x0F0F;  // old offset 64
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(idx));
    ::chmod(path.c_str(), 0640);

    ConvertFileResult r = ConvertIndexFile(path);
    ASSERT_EQ(r.outcome, ConvertOutcome::Converted) << r.reason;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const std::string out = ReadFile(path);
    ASSERT_GE(out.size(), 92u);
    EXPECT_EQ(out.substr(0, 4), "ORBF");
    EXPECT_EQ(static_cast<uint8_t>(out[4]), 0x20);
    EXPECT_EQ(out.substr(5, 50), std::string("SAMPLE_DISC") + std::string(39, '\0'));
    EXPECT_EQ(out.substr(55, 5), std::string(5, '\0'));
    EXPECT_EQ(At32(out, 4 + 56), 681574400u);
    EXPECT_EQ(At32(out, 4 + 60), 0u);  // capacity high half
    EXPECT_EQ(At32(out, 4 + 64), 0x0F0Fu);
    EXPECT_EQ(At32(out, 4 + 68), 0x0D0Du);
    EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST(ConvertIndexFile, RemarkAndCoverFollowTheRecords) {
    TempDir dir;
    OldIndex idx = SampleDisc();
    idx.remark = "0123456789";
    for (int i = 0; i < 2000; ++i) idx.cover.push_back(static_cast<char>(i * 7));
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(idx));
    ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);

    const std::string out = ReadFile(path);
    // Records: 29 + n bytes each, from 92 on.
    uint32_t recordsEnd = 92;
    std::vector<const std::vector<OldEntry>*> lists{&idx.top};
    while (!lists.empty()) {
        const auto* list = lists.back();
        lists.pop_back();
        for (const OldEntry& e : *list) {
            recordsEnd += 29 + static_cast<uint32_t>(e.name.size());
            lists.push_back(&e.children);
        }
    }
    EXPECT_EQ(At32(out, 4 + 72), recordsEnd);
    EXPECT_EQ(At32(out, 4 + 76), 10u);
    EXPECT_EQ(At32(out, 4 + 80), recordsEnd + 10);
    EXPECT_EQ(At32(out, 4 + 84), 2000u);
    ASSERT_EQ(out.size(), recordsEnd + 2010u);
    EXPECT_EQ(out.substr(out.size() - 2010), idx.remark + idx.cover);
}

TEST(ConvertIndexFile, ConvertedIndexWalksBackToTheOldTree) {
    TempDir dir;
    OldIndex idx = SampleDisc();
    idx.nameLengthHighBits = 0x7F7F0000;  // only the low byte is the length
    idx.remark = "remark";
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(idx));
    ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);

    CIndexReader reader;
    ASSERT_EQ(reader.Open(path, OpenMode::ReadShareAll), 1) << reader.LastError();
    EXPECT_EQ(DumpReader(reader, nullptr), Dump(idx.top));
    std::string label;
    reader.GetVolumeLabel(label);
    EXPECT_EQ(label, "SAMPLE_DISC");
    std::string remark;
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, "remark");
}

TEST(ConvertIndexFile, ContentsOfAFileRecordAreReadPastButNotKept) {
    // A damaged old index whose last file record has a child link: the child is
    // not carried over (no view would ever list it), and the remark is still
    // found after it.
    TempDir dir;
    OldIndex idx;
    idx.label = "ODD";
    idx.remark = "the remark";
    OldEntry child{"hidden.txt", false, 1, 1, {}};
    OldEntry file{"file.bin", false, 2, 2, {child}};
    OldEntry top{"top", true, 0, 3, {file}};
    idx.top = {top};
    idx.fileCount = 1;
    idx.dirCount = 1;
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(idx));
    ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(path, OpenMode::ReadShareAll), 1);
    EXPECT_EQ(DumpReader(reader, nullptr), "top|1|0|3{file.bin|0|2|2;};");
    std::string remark;
    reader.ReadRemark(remark);
    EXPECT_EQ(remark, "the remark");
    uint64_t records = (ReadFile(path).size() - 92 - remark.size());
    EXPECT_EQ(records, (29u + 3) + (29u + 8));
}

TEST(ConvertIndexFile, EmptyOldIndexGivesIndexWithoutRecords) {
    TempDir dir;
    OldIndex idx;
    idx.label = "BLANK";
    idx.remark = "nothing here";
    idx.cover = "COVER";
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(idx));
    ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);

    const std::string out = ReadFile(path);
    EXPECT_EQ(out.size(), 92u + 12 + 5);
    EXPECT_EQ(At32(out, 4 + 72), 92u);
    EXPECT_EQ(out.substr(92), "nothing hereCOVER");
    CIndexReader reader;
    ASSERT_EQ(reader.Open(path, OpenMode::ReadShareAll), 1);
    IndexEntry e;
    EXPECT_EQ(reader.ReadFirstEntry(nullptr, e), 0);
}

TEST(ConvertIndexFile, LongLabelIsCutAtACharacterBoundary) {
    struct Case {
        std::string label;
        std::string expected;
    };
    const std::string a48(48, 'A');
    const Case cases[] = {
        {std::string(49, 'B'), std::string(49, 'B')},
        {std::string(52, 'C'), std::string(49, 'C')},  // no terminator in the old field
        {a48 + "\xD6\xD0" + "x", a48},                 // 中 would straddle byte 49
        {a48 + "x\xD6\xD0", a48 + "x"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        OldIndex idx = SampleDisc();
        idx.label = c.label;
        const std::string path = dir / "a.orb";
        WriteFile(path, test::BuildOldIndex(idx));
        ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);
        IndexHeader h;
        ASSERT_EQ(ProbeIndexHeader(path, h), 1);
        EXPECT_EQ(HeaderLabel(h), c.expected) << c.label;
        EXPECT_EQ(h.label[49], '\0');
    }
}

TEST(ConvertIndexFile, OldCompanionIsDeletedAndNoNewOneMade) {
    TempDir dir;
    const std::string path = dir / "a.orb";
    WriteFile(path, test::BuildOldIndex(SampleDisc()));
    WriteFile(path + "r", Bytes().u32(1).u32(84).u32(3).str("old").data());
    ASSERT_EQ(ConvertIndexFile(path).outcome, ConvertOutcome::Converted);
    EXPECT_FALSE(FileExists(dir / "a.orbr"));
    EXPECT_FALSE(FileExists(dir / "a.orc"));
}

TEST(ConvertIndexFile, NewFormatFileIsLeftAlone) {
    TempDir dir;
    const std::string path = dir / "a.orb";
    const std::string bytes = "ORBF" + std::string(88, '\x11') + "whatever";
    WriteFile(path, bytes);
    WriteFile(path + "r", "keep");
    ConvertFileResult r = ConvertIndexFile(path);
    EXPECT_EQ(r.outcome, ConvertOutcome::AlreadyNew);
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_EQ(ReadFile(path + "r"), "keep");
}

// Files that are not plausible old indexes: reported, and nothing is written.
TEST(ConvertIndexFile, DamagedOldFilesAreRefusedAndUntouched) {
    const std::string good = test::BuildOldIndex(SampleDisc());
    auto patched = [&](size_t at, uint32_t v) {
        std::string s = good;
        PutLE32(reinterpret_cast<unsigned char*>(s.data()) + at, v);
        return s;
    };
    OldIndex withRemark = SampleDisc();
    withRemark.remark = "abc";
    const std::string remarkFile = test::BuildOldIndex(withRemark);
    const uint32_t tools = 84 + 32 + 9;  // second top-level record
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"shorter than the header", good.substr(0, 83)},
        {"header only but counts say entries", good.substr(0, 84)},
        {"record cut short", good.substr(0, 84 + 20)},
        {"first child outside the file", patched(tools, 0x00FFFFFF)},
        {"next sibling before the records", patched(84 + 4, 40)},
        {"negative link", patched(84 + 4, static_cast<uint32_t>(-5))},
        {"sibling loops back to the first record", patched(tools + 4, 84)},
        {"child is its own parent", patched(tools, tools)},
        {"link into the middle of a record", patched(tools + 4, tools + 3)},
        // readme.txt is the last record: 32 + 10 bytes.
        {"name runs past the end", patched(good.size() - 42 + 8, 200)},
        {"remark length past the end",
         [&] {
             std::string s = remarkFile;
             PutLE32(reinterpret_cast<unsigned char*>(s.data()) + 72, 4);
             return s;
         }()},
        {"cover size past the end", patched(80, 1)},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir / "a.orb";
        WriteFile(path, c.bytes);
        WriteFile(path + "r", "notes");
        ConvertFileResult r = ConvertIndexFile(path);
        EXPECT_EQ(r.outcome, ConvertOutcome::Failed) << c.what;
        EXPECT_FALSE(r.reason.empty()) << c.what;
        EXPECT_EQ(ReadFile(path), c.bytes) << c.what;
        EXPECT_EQ(ReadFile(path + "r"), "notes") << c.what;
        EXPECT_FALSE(FileExists(path + ".tmp")) << c.what;
    }
}

TEST(ConvertIndexFile, MissingFileFails) {
    TempDir dir;
    ConvertFileResult r = ConvertIndexFile(dir / "none.orb");
    EXPECT_EQ(r.outcome, ConvertOutcome::Failed);
    EXPECT_FALSE(FileExists(dir / "none.orb"));
}

// --- whole libraries ---

std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.is_symlink()) continue;
        files[e.path().string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "<dir>";
    }
    return files;
}

std::string Parent(const std::string& p) {
    return std::filesystem::path(p).parent_path().string();
}

struct Library {
    TempDir dir;
    std::vector<std::string> indexes;
    Library() {
        std::filesystem::create_directories(dir / "cat1/sub");
        std::filesystem::create_directories(dir / "cat2");
        std::filesystem::create_directories(dir / "cat3");  // no index at all
        const char* names[] = {"a.orb", "b.orb", "cat1/c.orb", "cat1/sub/d.ORB", "cat2/e.orb"};
        int n = 0;
        for (const char* name : names) {
            OldIndex idx = SampleDisc();
            idx.label = "DISC" + std::to_string(n++);
            idx.remark = "remark of " + std::string(name);
            indexes.push_back(dir / name);
            WriteFile(indexes.back(), test::BuildOldIndex(idx));
        }
        WriteFile(dir / "a.orbr", "old notes");
        WriteFile(dir / "notes.txt", "not an index");
        WriteFile(dir / "cat2/e.orb.bak", "not an index either");
    }
};

TEST(ConvertLibraryDirectory, NestedCategoriesConvertEachDirectoryBeforeItsSubdirectories) {
    Library lib;
    std::vector<std::string> order;
    ConvertSummary s = ConvertLibraryDirectory(lib.dir.path(), [&](const ConvertFileResult& r) {
        EXPECT_EQ(r.outcome, ConvertOutcome::Converted) << r.path << r.reason;
        order.push_back(r.path);
    });
    EXPECT_EQ(s.converted, lib.indexes.size());
    EXPECT_TRUE(s.Succeeded());
    ASSERT_EQ(order.size(), lib.indexes.size());
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            // A later file never lies in a directory above an earlier one.
            const std::string later = Parent(order[j]) + "/";
            EXPECT_FALSE(Parent(order[i]).rfind(later, 0) == 0)
                << order[i] << " before " << order[j];
        }
    }
    // Depth first: cat1's two files are done one after the other.
    auto pos = [&](const std::string& p) {
        return std::find(order.begin(), order.end(), p) - order.begin();
    };
    EXPECT_EQ(std::abs(pos(lib.dir / "cat1/c.orb") - pos(lib.dir / "cat1/sub/d.ORB")), 1);
    for (const std::string& p : lib.indexes) {
        IndexHeader h;
        EXPECT_EQ(ProbeIndexHeader(p, h), 1) << p;
    }
    EXPECT_FALSE(FileExists(lib.dir / "a.orbr"));
    EXPECT_EQ(ReadFile(lib.dir / "notes.txt"), "not an index");
    EXPECT_EQ(ReadFile(lib.dir / "cat2/e.orb.bak"), "not an index either");
}

TEST(ConvertLibraryDirectory, SecondRunChangesNothing) {
    Library lib;
    ASSERT_TRUE(ConvertLibraryDirectory(lib.dir.path()).Succeeded());
    const auto before = Snapshot(lib.dir.path());
    ConvertSummary again = ConvertLibraryDirectory(lib.dir.path());
    EXPECT_EQ(again.converted, 0u);
    EXPECT_EQ(again.alreadyNew, lib.indexes.size());
    EXPECT_EQ(again.failed, 0u);
    EXPECT_EQ(Snapshot(lib.dir.path()), before);
}

TEST(ConvertLibraryDirectory, EmptyOrMissingDirectoryIsASuccessWithNothingDone) {
    TempDir dir;
    for (const std::string& path : {dir.path(), dir / "missing", std::string()}) {
        ConvertSummary s = ConvertLibraryDirectory(path);
        EXPECT_EQ(s.Total(), 0u) << path;
        EXPECT_EQ(ConversionMessage(s), "转换成功!") << path;
    }
}

// Whatever keeps the new file from being created or put in place, every old file
// stays byte for byte as it was, with its companion. Things planted under a fixed
// temporary name are not in the way (each save makes a file of its own) and are
// neither used nor written through.
TEST(ConvertLibraryDirectory, FailedReplacementLeavesOldFilesIntact) {
    enum Way { ReadOnlyDirectory, TempNameTaken, TempNameIsALink };
    for (Way way : {ReadOnlyDirectory, TempNameTaken, TempNameIsALink}) {
        Library lib;
        if (way == TempNameTaken) {
            for (const std::string& p : lib.indexes) std::filesystem::create_directory(p + ".tmp");
        } else if (way == TempNameIsALink) {
            // The link's target must not be written through.
            WriteFile(lib.dir / "victim", "keep me");
            for (const std::string& p : lib.indexes)
                std::filesystem::create_symlink(lib.dir / "victim", p + ".tmp");
        } else {
            for (const std::string& p : lib.indexes) ::chmod(Parent(p).c_str(), 0555);
            // Root writes into read-only directories anyway; nothing to test then.
            const std::string probe = lib.dir / "probe";
            if (::access(lib.dir.path().c_str(), W_OK) == 0) {
                WriteFile(probe, "x");
                if (FileExists(probe)) {
                    for (const std::string& p : lib.indexes) ::chmod(Parent(p).c_str(), 0755);
                    ::unlink(probe.c_str());
                    continue;
                }
            }
        }
        const auto before = Snapshot(lib.dir.path());
        ConvertSummary s = ConvertLibraryDirectory(lib.dir.path());
        if (way != ReadOnlyDirectory) {
            EXPECT_EQ(s.converted, lib.indexes.size()) << way;
            for (const std::string& p : lib.indexes) {
                EXPECT_EQ(ReadFile(p).substr(0, 4), "ORBF") << p;
                EXPECT_TRUE(std::filesystem::is_symlink(p + ".tmp") ||
                            std::filesystem::is_directory(p + ".tmp"))
                    << p;
            }
            if (way == TempNameIsALink) {
                EXPECT_EQ(ReadFile(lib.dir / "victim"), "keep me");
            }
            continue;
        }
        EXPECT_EQ(s.failed, lib.indexes.size()) << way;
        EXPECT_EQ(s.converted, 0u) << way;
        EXPECT_FALSE(s.Succeeded());
        EXPECT_EQ(Snapshot(lib.dir.path()), before) << way;
        const std::string msg = ConversionMessage(s);
        EXPECT_NE(msg, "转换成功!");
        EXPECT_NE(msg.find(s.failures.front().path), std::string::npos);
    }
}

TEST(ConvertLibraryDirectory, FifoOrReadOnlyIndexIsReportedNotWaitedOnOrReplaced) {
    Library lib;
    const std::string fifo = lib.dir / "cat3/pipe.orb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ::chmod(lib.indexes[0].c_str(), 0444);
    const std::string readOnlyBefore = ReadFile(lib.indexes[0]);
    ConvertSummary s;
    EXPECT_TRUE(
        test::ReturnsWithoutBlockingOn(fifo, [&] { s = ConvertLibraryDirectory(lib.dir.path()); }));
    EXPECT_EQ(s.converted, lib.indexes.size() - 1);
    EXPECT_EQ(s.failed, 2u);
    EXPECT_EQ(ReadFile(lib.indexes[0]), readOnlyBefore);
    EXPECT_FALSE(FileExists(lib.indexes[0] + ".tmp"));
}

TEST(ConvertLibraryDirectory, SymbolicLinkToADirectoryIsNotFollowed) {
    Library lib;
    std::filesystem::create_directory_symlink(lib.dir.path(), lib.dir / "cat1/loop");
    ConvertSummary s = ConvertLibraryDirectory(lib.dir.path());
    EXPECT_EQ(s.converted, lib.indexes.size());
    EXPECT_EQ(s.Total(), lib.indexes.size());
}

TEST(ConvertLibraryDirectory, OneDamagedFileIsReportedTheOthersConvert) {
    Library lib;
    const std::string damaged = lib.dir / "cat1/bad.orb";
    WriteFile(damaged, "too short");
    ConvertSummary s = ConvertLibraryDirectory(lib.dir.path());
    EXPECT_EQ(s.converted, lib.indexes.size());
    EXPECT_EQ(s.failed, 1u);
    ASSERT_EQ(s.failures.size(), 1u);
    EXPECT_EQ(s.failures[0].path, damaged);
    EXPECT_EQ(ReadFile(damaged), "too short");
}

TEST(ConversionMessage, CountsAndFirstFailedPaths) {
    ConvertSummary s;
    s.converted = 3;
    s.alreadyNew = 2;
    for (int i = 0; i < 7; ++i) {
        ++s.failed;
        s.failures.push_back(
            {"/lib/f" + std::to_string(i) + ".orb", ConvertOutcome::Failed, "why"});
    }
    const std::string msg = ConversionMessage(s, 5);
    EXPECT_NE(msg.find("已转换: 3 个"), std::string::npos);
    EXPECT_NE(msg.find("已是新格式: 2 个"), std::string::npos);
    EXPECT_NE(msg.find("失败: 7 个"), std::string::npos);
    EXPECT_NE(msg.find("/lib/f4.orb"), std::string::npos);
    EXPECT_EQ(msg.find("/lib/f5.orb"), std::string::npos);
    EXPECT_NE(msg.find("还有 2 个"), std::string::npos);
}

TEST(ConvertForCommandLine, OneLinePerFileSummaryAndExitStatus) {
    Library lib;
    WriteFile(lib.dir / "cat2/bad.orb", "short");
    std::ostringstream out;
    EXPECT_EQ(ConvertForCommandLine(lib.dir.path(), out), 1);
    std::istringstream lines(out.str());
    std::string line, last;
    int converted = 0, failed = 0, total = 0;
    while (std::getline(lines, line)) {
        ++total;
        last = line;
        converted += line.rfind("已转换: ", 0) == 0;
        failed += line.rfind("失败: " + lib.dir / "cat2/bad.orb", 0) == 0;
    }
    EXPECT_EQ(converted, 5);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(total, 7);
    EXPECT_NE(last.find("失败 1 个"), std::string::npos);

    ::unlink((lib.dir / "cat2/bad.orb").c_str());
    std::ostringstream again;
    EXPECT_EQ(ConvertForCommandLine(lib.dir.path(), again), 0);
    EXPECT_NE(again.str().find("已是新格式，未改动: " + lib.dir / "a.orb"), std::string::npos);
}

}  // namespace
}  // namespace orb
