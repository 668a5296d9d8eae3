// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built orbtool executable and checks its files, output and exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "index/index_reader.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;
using test::WriteFile;

struct ToolRun {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ToolRun Tool(const std::vector<std::string>& args) {
    std::string cmd = Quote(ORBTOOL_PATH);
    for (const std::string& a : args) cmd += " " + Quote(a);
    cmd += " 2>/dev/null";
    ToolRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

void SetMtime(const std::string& path, int64_t sec) {
    struct timespec ts[2] = {{sec, 0}, {sec, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

class OrbtoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        disc_ = tmp_ / "光盘";
        ::mkdir(disc_.c_str(), 0755);
        ::mkdir((disc_ + "/setup").c_str(), 0755);
        ::mkdir((disc_ + "/setup/tools").c_str(), 0755);
        WriteFile(disc_ + "/README.TXT", "read me");
        WriteFile(disc_ + "/setup/tools/工具.exe", std::string(70000, 'x'));
        for (const char* p : {"/README.TXT", "/setup/tools/工具.exe", "/setup/tools", "/setup"})
            SetMtime(disc_ + p, 1700000000);
    }
    TempDir tmp_;
    std::string disc_;
};

// The index read back as "path|kind|size|time" lines in index order.
void Walk(CIndexReader& r, const IndexEntry* parent, const std::string& prefix,
          std::vector<std::string>& out) {
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return;
    do {
        std::string name = StoredToHost(e.Name());
        out.push_back(prefix + name + "|" + (e.IsDirectory() ? "d" : "f") + "|" +
                      std::to_string(e.Size()) + "|" + std::to_string(FileTimeToU64(e.writeTime)));
        if (e.IsDirectory()) {
            IndexEntry copy = e;
            Walk(r, &copy, prefix + name + "/", out);
        }
    } while (r.ReadNextEntry(e, e));
}

void WalkHost(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    std::vector<DirEntry> list;
    ListDirectory(dir, [&](const DirEntry& e) {
        if (e.name != "." && e.name != "..") list.push_back(e);
        return true;
    });
    for (const DirEntry& e : list) {
        out.push_back(prefix + e.name + "|" + (e.isDirectory ? "d" : "f") + "|" +
                      std::to_string(e.size) + "|" + std::to_string(FileTimeToU64(e.writeTime)));
        if (e.isDirectory) WalkHost(JoinPath(dir, e.name), prefix + e.name + "/", out);
    }
}

TEST_F(OrbtoolTest, ScanOfAPartlyUnreadableFolderWarnsWithAStatusOfItsOwn) {
    const std::string out = tmp_ / "whole.orb";
    ToolRun clean = Tool({"scan", disc_, out, "--json"});
    ASSERT_EQ(clean.status, 0);
    EXPECT_NE(clean.out.find("\"unreadable\":{\"directories\":0,\"files\":0,\"paths\":[]}"),
              std::string::npos)
        << clean.out;
    // A chain whose full path passes PATH_MAX: its innermost level cannot be
    // listed by path, also not as root.
    const std::string seg(200, 'd');
    int fd = ::open(disc_.c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 25; ++depth) {
        ASSERT_EQ(::mkdirat(fd, seg.c_str(), 0755), 0);
        const int next = ::openat(fd, seg.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    const std::string partial = tmp_ / "partial.orb";
    ToolRun r = Tool({"scan", disc_, partial, "--json"});
    EXPECT_EQ(r.status, 3);
    CIndexReader reader;
    EXPECT_EQ(reader.Open(partial, OpenMode::ReadShareAll), 1);  // written all the same
    EXPECT_NE(r.out.find("\"unreadable\":{\"directories\":1,\"files\":0,\"paths\":[\"" + disc_ +
                         "/" + seg + "/"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Tool({"scan", disc_, tmp_ / "plain.orb"}).status, 3);
}

TEST_F(OrbtoolTest, ScanProducesAnIndexThatWalksBackToTheSameTree) {
    for (int i = 0; i < 30; ++i) WriteFile(disc_ + "/setup/f" + std::to_string(i) + ".dat", "d");
    const std::string out = tmp_ / "disc.orb";
    ToolRun r = Tool({"scan", disc_, out});
    ASSERT_EQ(r.status, 0);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(out, OpenMode::ReadShareAll), 1);
    std::vector<std::string> got, want;
    Walk(reader, nullptr, "", got);
    WalkHost(disc_, "", want);
    EXPECT_EQ(got, want);
    EXPECT_EQ(reader.GetFileCount(), 32u);
    EXPECT_EQ(reader.GetDirectoryCount(), 2u);
    // Defaults: the folder's name (stored as GBK) and its file system's size.
    std::string label;
    reader.GetVolumeLabel(label);
    EXPECT_EQ(label, "\xB9\xE2\xC5\xCC");
    EXPECT_GT(reader.GetCapacity(), 0u);
}

TEST_F(OrbtoolTest, ScanTakesAnImageFileByItsContentWithTheOptionsOverriding) {
    if (std::system("command -v xorriso >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xorriso";
    // Named like anything but an image: the volume descriptors make it one.
    const std::string image = tmp_ / "disc.dat";
    ASSERT_EQ(std::system(("xorriso -as mkisofs -R -J -V IMGDISC -o " + Quote(image) + " " +
                           Quote(disc_) + " >/dev/null 2>&1")
                              .c_str()),
              0);
    const std::string out = tmp_ / "img.orb";
    ASSERT_EQ(Tool({"scan", image, out}).status, 0);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(out, OpenMode::ReadShareAll), 1);
    std::vector<std::string> got;
    Walk(reader, nullptr, "", got);
    EXPECT_EQ(got.size(), 4u);
    EXPECT_NE(std::find(got.begin(), got.end(),
                        "setup/tools/工具.exe|f|70000|" +
                            std::to_string(FileTimeToU64(UnixToFileTime(1700000000, 0)))),
              got.end());
    std::string label;
    reader.GetVolumeLabel(label);
    EXPECT_EQ(label, "IMGDISC");
    struct stat st {};
    ASSERT_EQ(::stat(image.c_str(), &st), 0);
    EXPECT_EQ(reader.GetCapacity(), static_cast<uint64_t>(st.st_size));
    reader.Close();

    ASSERT_EQ(Tool({"scan", image, out, "--label", "工具盘", "--capacity", "4096"}).status, 0);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(out, h), 1);
    EXPECT_EQ(HeaderLabel(h), HostToStored("工具盘"));
    EXPECT_EQ(h.capacity, 4096u);

    // A regular file that is no image, and a truncated image: failures, no index.
    WriteFile(tmp_ / "plain.txt", std::string(50000, 'p'));
    EXPECT_EQ(Tool({"scan", tmp_ / "plain.txt", tmp_ / "p.orb"}).status, 1);
    WriteFile(tmp_ / "cut.iso", test::ReadFile(image).substr(0, 19 * 2048));
    EXPECT_EQ(Tool({"scan", tmp_ / "cut.iso", tmp_ / "c.orb"}).status, 1);
    EXPECT_FALSE(test::FileExists(tmp_ / "p.orb"));
    EXPECT_FALSE(test::FileExists(tmp_ / "c.orb"));
}

TEST_F(OrbtoolTest, LabelAndCapacityOptionsAndExitStatuses) {
    const std::string out = tmp_ / "x.orb";
    ASSERT_EQ(Tool({"scan", disc_, out, "--label", "工具盘", "--capacity", "650000000"}).status, 0);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(out, h), 1);
    EXPECT_EQ(HeaderLabel(h), HostToStored("工具盘"));
    EXPECT_EQ(h.capacity, 650000000u);

    // Without options: a folder that is no mount point gives its own name and the
    // size of the file system it lies on.
    ASSERT_EQ(Tool({"scan", disc_, out}).status, 0);
    ASSERT_EQ(ProbeIndexHeader(out, h), 1);
    EXPECT_EQ(HeaderLabel(h), HostToStored("光盘"));
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(disc_.c_str(), &fs), 0);
    EXPECT_EQ(h.capacity, uint64_t{fs.f_frsize} * fs.f_blocks);

    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"scan", disc_}, 2},
        {{"scan", disc_, out, "--capacity", "12x"}, 2},
        {{"scan", disc_, out, "--bogus"}, 2},
        {{"scan", tmp_ / "missing", out}, 1},
        {{"scan", disc_, tmp_ / "no/such/dir.orb"}, 1},
        {{"info"}, 2},
        {{"info", tmp_ / "missing.orb"}, 1},
        {{"info", disc_ + "/README.TXT"}, 1},  // not an index
        {{"ls", out, "nope"}, 1},
        {{"note", out, "abc"}, 2},
        {{"note", out, "12345", "x"}, 1},  // no such entry
        {{"remark", out, "--set"}, 2},
        {{"cover", out, disc_ + "/README.TXT"}, 1},  // not a picture
        {{"info", out}, 0},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) shown += a + " ";
        EXPECT_EQ(Tool(c.args).status, c.status) << shown;
    }
    EXPECT_FALSE(test::FileExists(tmp_ / "no/such/dir.orb"));
}

TEST_F(OrbtoolTest, InfoAndLsPrintTextAndJson) {
    const std::string out = tmp_ / "d.orb";
    ASSERT_EQ(Tool({"scan", disc_, out, "--label", "DATA", "--capacity", "4096"}).status, 0);
    ToolRun info = Tool({"info", out, "--json"});
    ASSERT_EQ(info.status, 0);
    EXPECT_EQ(
        info.out,
        "{\"label\":\"DATA\",\"capacity\":4096,\"files\":2,\"directories\":2,"
        "\"remark\":{\"offset\":" +
            std::to_string(92 + 29 * 4 + 10 + 5 + 5 + 8) + ",\"length\":0},\"cover\":{\"offset\":" +
            std::to_string(92 + 29 * 4 + 10 + 5 + 5 + 8) + ",\"size\":0},\"annotations\":0}\n");
    ToolRun text = Tool({"info", out});
    EXPECT_NE(text.out.find("files:        2\n"), std::string::npos);
    EXPECT_NE(text.out.find("label:        DATA\n"), std::string::npos);

    // Both separators, trailing or not, and A-Z folded; UTF-8 names on the terminal.
    for (const char* dir : {"setup\\tools\\", "setup/tools", "SETUP/Tools/"}) {
        ToolRun ls = Tool({"ls", out, dir});
        ASSERT_EQ(ls.status, 0) << dir;
        ASSERT_EQ(ls.out.back(), '\n');
        std::string line = ls.out.substr(0, ls.out.size() - 1);
        EXPECT_EQ(line.substr(line.find('\t')), "\tfile\t70000\t2023-11-14T22:13:20Z\t工具.exe")
            << dir;
    }
    // The root in index order with ids: each id is the next-sibling link before it.
    ToolRun root = Tool({"ls", out, "--json"});
    ASSERT_EQ(root.status, 0);
    CIndexReader reader;
    ASSERT_EQ(reader.Open(out, OpenMode::ReadShareAll), 1);
    IndexEntry e;
    std::string want = "{\"entries\":[";
    int32_t id = 88;
    bool first = true;
    for (bool ok = reader.ReadFirstEntry(nullptr, e); ok; ok = reader.ReadNextEntry(e, e)) {
        std::string name = StoredToHost(e.Name());
        want += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id) + ",\"kind\":\"" +
                (e.IsDirectory() ? "dir" : "file") + "\",\"size\":" + std::to_string(e.Size()) +
                ",\"time\":\"2023-11-14T22:13:20Z\",\"name\":\"" + name + "\"}";
        first = false;
        id = e.nextSibling;
    }
    EXPECT_EQ(root.out, want + "]}\n");
}

TEST_F(OrbtoolTest, RemarkCoverAndNoteChangeTheIndex) {
    const std::string out = tmp_ / "e.orb";
    ASSERT_EQ(Tool({"scan", disc_, out}).status, 0);
    ASSERT_EQ(Tool({"remark", out, "--set", "第一张盘"}).status, 0);
    EXPECT_EQ(Tool({"remark", out}).out, "第一张盘\n");
    // A UTF-8 file is converted; a GBK file is kept byte for byte; NUL ends the text.
    WriteFile(tmp_ / "u.txt", std::string("说明\0tail", 11));
    ASSERT_EQ(Tool({"remark", out, "--from", tmp_ / "u.txt"}).status, 0);
    {
        CIndexReader r;
        ASSERT_EQ(r.Open(out, OpenMode::ReadShareAll), 1);
        std::string text;
        ASSERT_EQ(r.ReadRemark(text), 1);
        EXPECT_EQ(text, HostToStored("说明"));
    }
    WriteFile(tmp_ / "g.txt", "\xB9\xE2\xC5\xCC");
    ASSERT_EQ(Tool({"remark", out, "--from", tmp_ / "g.txt"}).status, 0);
    EXPECT_EQ(Tool({"remark", out}).out, "光盘\n");

    // A 1x1 PNG header is enough for the engine's picture check.
    std::string png = "\x89PNG\r\n\x1a\n";
    png += std::string("\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0", 21);
    png += std::string(16, '\0');
    WriteFile(tmp_ / "c.png", png);
    ASSERT_EQ(Tool({"cover", out, tmp_ / "c.png"}).status, 0);
    IndexHeader h;
    ASSERT_EQ(ProbeIndexHeader(out, h), 1);
    EXPECT_EQ(h.coverSize, png.size());
    EXPECT_EQ(test::ReadFile(out).substr(h.coverOffset), png);

    ASSERT_EQ(Tool({"note", out, "88", "重要"}).status, 0);
    EXPECT_EQ(Tool({"note", out, "88"}).out, "重要\n");
    EXPECT_NE(Tool({"info", out}).out.find("annotations:  1\n"), std::string::npos);
    ASSERT_EQ(Tool({"note", out, "88", ""}).status, 0);
    EXPECT_EQ(Tool({"note", out, "88"}).out, "");
    EXPECT_EQ(Tool({"remark", out}).out, "光盘\n");  // untouched by the cover and notes
}

TEST_F(OrbtoolTest, VerifyDupesAndRecursiveListing) {
    const std::string out = tmp_ / "d.orb";
    ASSERT_EQ(Tool({"scan", disc_, out, "--label", "DATA"}).status, 0);
    ToolRun same = Tool({"verify", out, disc_, "--full"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out, "");
    WriteFile(disc_ + "/README.TXT", "read me again");
    SetMtime(disc_ + "/README.TXT", 1700000000);
    ToolRun changed = Tool({"verify", out, disc_});
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.out, "changed-size\tREADME.TXT\tsize 7 -> 13\n");
    EXPECT_EQ(Tool({"verify", out, disc_, "--fast"}).status, 2);
    EXPECT_EQ(Tool({"verify"}).status, 2);

    // A second copy of the disc: every file is a duplicate, the larger one first.
    ::link(out.c_str(), (tmp_ / "copy.orb").c_str());
    ToolRun dupes = Tool({"dupes", tmp_.path(), "--min-size", "10"});
    EXPECT_EQ(dupes.status, 0);
    EXPECT_EQ(dupes.out.substr(0, dupes.out.find('\n')), "70000 bytes x 2, 70000 wasted: 工具.exe");
    EXPECT_EQ(dupes.out.find("README"), std::string::npos);

    ToolRun csv = Tool({"ls", out, "--recursive", "--csv"});
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(csv.out.find("\r\nsetup\\tools\\工具.exe,文件,70000,"), std::string::npos);
    EXPECT_EQ(Tool({"ls", out, "--recursive"}).status, 2);
}

// A link to a folder outside the library, or to "/", is not followed by a search
// of the library: it would read every index on the machine.
TEST_F(OrbtoolTest, SearchDoesNotFollowALinkOutOfTheLibrary) {
    const std::string lib = tmp_ / "lib";
    const std::string outside = tmp_ / "outside";
    ::mkdir(lib.c_str(), 0755);
    ::mkdir(outside.c_str(), 0755);
    ASSERT_EQ(Tool({"scan", disc_, lib + "/own.orb", "--label", "OWN"}).status, 0);
    ASSERT_EQ(Tool({"scan", disc_, outside + "/far.orb", "--label", "FAR"}).status, 0);
    ASSERT_EQ(::symlink(outside.c_str(), (lib + "/ext").c_str()), 0);
    ASSERT_EQ(::symlink("/", (lib + "/root").c_str()), 0);
    ToolRun r = Tool({"search", lib, "--keyword", "README", "--no-index"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("own.orb"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("far.orb"), std::string::npos) << r.out;
    // The index file itself can still be named.
    EXPECT_NE(Tool({"search", outside + "/far.orb", "--keyword", "README"}).out.find("README"),
              std::string::npos);
}

}  // namespace
}  // namespace orb
