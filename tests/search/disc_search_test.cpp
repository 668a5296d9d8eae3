// SPDX-License-Identifier: GPL-3.0-or-later
// Searching a library disc after disc, and orbtool search on top of it.
#include "search/disc_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform/text.h"
#include "tests/search/search_test_util.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::BuildIndex;
using test::TempDir;

class CollectingSink : public IDiscSearchSink {
public:
    std::vector<std::string> hits, failed;
    int progressCalls = 0;
    void OnHit(const SearchResult& hit) override {
        hits.push_back(std::string(hit.parentPath) + std::string(hit.entry.Name()) + " @" +
                       hit.fullIndexPath.substr(hit.fullIndexPath.rfind('/') + 1));
    }
    void OnDiscFailed(size_t, const std::string& path, const std::string&) override {
        failed.push_back(path.substr(path.rfind('/') + 1));
    }
    void OnProgress(int percent) override {
        ++progressCalls;
        EXPECT_LE(percent, 100);
    }
};

// root: b.orb, bad.orb (not an index), notes.txt; a/x.orb; z/y.ORB
void MakeLibrary(const TempDir& dir) {
    ::mkdir((dir / "lib").c_str(), 0755);
    ::mkdir((dir / "lib/a").c_str(), 0755);
    ::mkdir((dir / "lib/z").c_str(), 0755);
    BuildIndex(dir / "lib/b.orb", "B", {"setup.exe"});
    test::WriteFile(dir / "lib/bad.orb", "not an index");
    test::WriteFile(dir / "lib/notes.txt", "setup");
    BuildIndex(dir / "lib/a/x.orb", "X", {"tools/", "tools/Setup.exe", "readme.txt"},
               {{"readme.txt", "run setup first"}});
    BuildIndex(dir / "lib/z/y.ORB", "Y", {"SETUP/"});
}

TEST(DiscSearch, WholeLibraryInLibraryOrder) {
    TempDir dir;
    MakeLibrary(dir);
    auto targets = ExpandSearchTargets({dir / "lib", dir / "lib/b.orb", dir / "missing"});
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_TRUE(targets[0].isLibrary && targets[0].listed);
    EXPECT_FALSE(targets[1].isLibrary);
    EXPECT_FALSE(targets[2].isLibrary);
    std::vector<std::string> paths;
    for (const auto& t : targets)
        paths.insert(paths.end(), t.indexPaths.begin(), t.indexPaths.end());
    ASSERT_EQ(paths.size(), 6u);

    CollectingSink sink;
    DiscSearchOptions options;
    options.keyword = "setup";
    DiscSearchSummary s = SearchDiscs(paths, options, sink);
    EXPECT_EQ(sink.hits, (std::vector<std::string>{
                             "X:\\tools\\Setup.exe @x.orb", "X:\\readme.txt @x.orb",
                             "Y:\\SETUP @y.ORB", "B:\\setup.exe @b.orb", "B:\\setup.exe @b.orb"}));
    EXPECT_EQ(sink.failed, (std::vector<std::string>{"bad.orb", "missing"}));
    EXPECT_EQ(s.hits, 5u);
    EXPECT_EQ(s.discsSearched, 4u);
    EXPECT_EQ(s.discsFailed, 2u);
    EXPECT_EQ(sink.progressCalls, 3 + 1 + 1 + 1);

    // Files and case only.
    CollectingSink exact;
    options.flags = SF_FILES | SF_MATCHCASE;
    SearchDiscs(paths, options, exact);
    EXPECT_EQ(exact.hits,
              (std::vector<std::string>{"B:\\setup.exe @b.orb", "B:\\setup.exe @b.orb"}));
}

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun Orbtool(const std::string& args) {
    ToolRun r;
    std::string cmd = std::string(ORBTOOL_PATH) + " search " + args + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

TEST(OrbtoolSearch, OutputAndExitStatus) {
    TempDir dir;
    MakeLibrary(dir);
    const std::string lib = "'" + dir / "lib" + "'";

    ToolRun text = Orbtool(lib + " --keyword setup --files --dirs");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "X:\\tools\\Setup.exe\t" + dir / "lib/a/x.orb" + "\n" + "Y:\\SETUP\t" +
                            dir / "lib/z/y.ORB" + "\n" + "B:\\setup.exe\t" + dir / "lib/b.orb" +
                            "\n" + "3个结果被找到\n");

    ToolRun json = Orbtool(lib + " --keyword SETUP --notes --json");
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("{\"parent\":\"X:\\\\\",\"name\":\"readme.txt\",\"index\":\"" +
                            dir / "lib/a/x.orb" +
                            "\",\"annotation\":\"run setup first\",\"kind\":\"file\",\"size\":"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"hits\":1,\"discs\":3,\"skipped\":1}\n"), std::string::npos);

    ToolRun types = Orbtool(lib + " --keyword setup --types 'txt|EXE' --files --case");
    EXPECT_EQ(types.out, "B:\\setup.exe\t" + dir / "lib/b.orb" + "\n1个结果被找到\n");

    EXPECT_EQ(Orbtool(lib + " --keyword absent").status, 0);
    EXPECT_EQ(Orbtool("'" + dir / "nothing.orb" + "' --keyword x").status, 1);
    EXPECT_EQ(Orbtool("'" + dir / "lib/bad.orb" + "' --keyword x").status, 1);
    EXPECT_EQ(Orbtool(lib).status, 2);                           // no keyword
    EXPECT_EQ(Orbtool("--keyword x").status, 2);                 // no target
    EXPECT_EQ(Orbtool(lib + " --keyword ''").status, 2);         // empty keyword
    EXPECT_EQ(Orbtool(lib + " --keyword x --bogus").status, 2);  // unknown option
    EXPECT_EQ(Orbtool(lib + " --keyword").status, 2);            // missing value
}

// Pinyin is on unless --no-pinyin; its hits hold none of the keyword's bytes, so
// the byte test must not skip their disc.
TEST(OrbtoolSearch, PinyinByDefaultAndNoPinyin) {
    TempDir dir;
    const std::string file = dir / "p.orb";
    BuildIndex(file, "P", {HostToStored("工具箱.exe"), "readme.txt"});
    const std::string target = "'" + file + "'";
    const std::string hit = std::string("P:\\工具箱.exe\t") + file + "\n1个结果被找到\n";
    EXPECT_EQ(Orbtool(target + " --keyword gjx --files").out, hit);
    EXPECT_EQ(Orbtool(target + " --keyword GJX --files --no-pinyin --pinyin").out, hit);
    EXPECT_EQ(Orbtool(target + " --keyword gjx --files --no-pinyin").out, "0个结果被找到\n");
}

// orbtool skips the walk of a disc whose bytes cannot hold the keyword; that test
// folds eight bytes at a time, so the keyword is put at every offset of a word.
// Hits of many discs come out in library order whatever order the discs end in.
TEST(OrbtoolSearch, ByteTestNeverLosesAHit) {
    TempDir dir;
    ::mkdir((dir / "lib").c_str(), 0755);
    std::string expected;
    for (int k = 0; k < 40; ++k) {
        std::vector<std::string> names{"other.txt"};
        if (k < 17) names.push_back(std::string(static_cast<size_t>(k), 'p') + "MiXeD.txt");
        char file[32];
        std::snprintf(file, sizeof(file), "lib/d%02d.orb", k);
        BuildIndex(dir / file, "D" + std::to_string(k), names);
        if (k < 17)
            expected += "D" + std::to_string(k) + ":\\" + names[1] + "\t" + dir / file + "\n";
    }
    const std::string lib = "'" + dir / "lib" + "'";
    EXPECT_EQ(Orbtool(lib + " --keyword mixed --files").out, expected + "17个结果被找到\n");
    EXPECT_EQ(Orbtool(lib + " --keyword MIXED --files").out, expected + "17个结果被找到\n");
    EXPECT_EQ(Orbtool(lib + " --keyword MiXeD --files --case").out, expected + "17个结果被找到\n");
    EXPECT_EQ(Orbtool(lib + " --keyword mixed --files --case").out, "0个结果被找到\n");

    // The bytes are read in windows of 1 MiB: a name across the first boundary.
    // Records of 20-byte names are 49 bytes from offset 92, so the name of record
    // 21397 spans the file offsets 1048574 to 1048593.
    std::vector<std::string> many(21400, std::string(16, 'a') + ".txt");
    many[21397] = "MiXeDkey" + std::string(8, 'a') + ".txt";
    BuildIndex(dir / "big.orb", "BIG", many);
    EXPECT_EQ(Orbtool("'" + dir / "big.orb" + "' --keyword mixedkey --files").out,
              "BIG:\\" + many[21397] + "\t" + dir / "big.orb" + "\n1个结果被找到\n");
}

// With a fresh name index the output is the walk's, and --stats says which discs
// the index answered; a disc changed since is walked until the index is refreshed.
TEST(OrbtoolSearch, NameIndexGivesTheSameOutput) {
    TempDir dir;
    MakeLibrary(dir);
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    const std::string lib = "'" + dir / "lib" + "'";
    auto run = [&](const std::string& args) {
        ToolRun r;
        std::string cmd = std::string(ORBTOOL_PATH) + " " + args + " 2>&1";
        FILE* p = ::popen(cmd.c_str(), "r");
        char buf[4096];
        size_t n;
        while (p && (n = std::fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
        int st = p ? ::pclose(p) : -1;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    };
    ToolRun index = run("index " + lib);
    EXPECT_EQ(index.status, 1) << index.out;  // bad.orb is no index
    EXPECT_NE(index.out.find("4 discs: 3 built, 0 fresh, 1 failed"), std::string::npos)
        << index.out;
    EXPECT_NE(run("index " + lib).out.find("0 built, 3 fresh"), std::string::npos);

    for (const char* args : {" --keyword setup", " --keyword SETUP --notes --json",
                             " --keyword etu --files --case", " --keyword readme --whole"}) {
        ToolRun walked = Orbtool(lib + args + " --no-index");
        ToolRun indexed = Orbtool(lib + args);
        EXPECT_EQ(indexed.out, walked.out) << args;
        EXPECT_EQ(indexed.status, walked.status) << args;
    }
    // A keyword that may spell pinyin ("setup" reads se-tu-p) is narrowed by the
    // index too, through the initials it keeps.
    EXPECT_NE(run("search " + lib + " --keyword setup --no-pinyin --stats")
                  .out.find("3 through the name index"),
              std::string::npos);
    EXPECT_NE(
        run("search " + lib + " --keyword setup --stats").out.find("3 through the name index"),
        std::string::npos);
    BuildIndex(dir / "lib/b.orb", "B", {"setup.exe", "setup2.exe"});
    EXPECT_NE(run("search " + lib + " --keyword setup --no-pinyin --stats")
                  .out.find("2 through the name index"),
              std::string::npos);
    EXPECT_EQ(Orbtool(lib + " --keyword setup").out,
              Orbtool(lib + " --keyword setup --no-index").out);
    EXPECT_EQ(run("index").status, 2);
    ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace orb
