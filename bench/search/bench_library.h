// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmarks' synthetic library: by default 1,000 discs of 10,000 entries in
// categories of a hundred discs, generated once into $TMPDIR and reused; the
// size is taken from the command line (--discs=N --entries=N). With
// hitEvery = n, every n-th entry's name carries kHitMarker, which no other name
// can hold.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "index/index_writer.h"
#include "index/scan_tree.h"
#include "platform/files.h"

namespace orb::bench {

inline int& Discs() {
    static int n = 1000;
    return n;
}
inline int& EntriesPerDisc() {
    static int n = 10000;
    return n;
}
// Takes --discs=N and --entries=N (at least 100) out of the arguments, leaving
// the rest to the benchmark library.
inline void TakeLibrarySize(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--discs=", 0) == 0)
            Discs() = std::max(1, std::atoi(a.c_str() + 8));
        else if (a.rfind("--entries=", 0) == 0)
            EntriesPerDisc() = std::max(100, std::atoi(a.c_str() + 10));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}
inline int64_t LibraryEntries() {
    return int64_t{Discs()} * EntriesPerDisc();
}
constexpr const char* kAbsentKeyword = "zebra";  // names never hold a 'z'
constexpr const char* kHitMarker = "~hit~";      // '~' is not among the name letters

inline std::string BenchRoot(int hitEvery) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/orb-search-bench-" +
                      std::to_string(Discs()) + "x" + std::to_string(EntriesPerDisc());
    if (hitEvery) dir += "-hits" + std::to_string(hitEvery);
    return dir;
}
inline std::string BenchLibrary(int hitEvery) {
    return BenchRoot(hitEvery) + "/library";
}
inline std::string BenchNamesFile(int hitEvery) {
    return BenchRoot(hitEvery) + "/names.txt";
}

// One disc: ten top directories with nine subdirectories each, files spread over
// them; names of 6 to 24 bytes, about one character in ten double-byte, common
// extensions.
inline void BuildBenchDisc(int disc, std::mt19937& rng, int hitEvery, CScanTree& tree) {
    static const char* kExt[] = {"exe", "dll", "txt", "jpg", "htm", "doc", "mp3", "dat", "", "ini"};
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyABCDEFGHIJKLMNOPQRSTUVWXY0123456789_-";
    int made = 0;
    auto name = [&](bool dir) {
        std::string n;
        int len = 6 + static_cast<int>(rng() % 19);
        for (int k = 0; k < len; ++k) {
            if (k + 1 < len && rng() % 10 == 0) {
                n += static_cast<char>(0xB0 + rng() % 0x40);
                n += static_cast<char>(0xA1 + rng() % 0x50);
                ++k;
            } else {
                n += kLetters[rng() % (sizeof(kLetters) - 1)];
            }
        }
        if (hitEvery && made++ % hitEvery == 0) n += kHitMarker;
        const char* ext = kExt[rng() % 10];
        if (!dir && *ext) n += std::string(".") + ext;
        return n;
    };
    FILETIME t{0x12345678, 0x01D9ABCD};
    std::vector<ScanNodeId> dirs;
    for (int top = 0; top < 10; ++top) {
        ScanNodeId d = tree.Append(kNoNode, kEntryDirectory, 0, t, name(true));
        dirs.push_back(d);
        for (int sub = 0; sub < 9; ++sub)
            dirs.push_back(tree.Append(d, kEntryDirectory, 0, t, name(true)));
    }
    int files = EntriesPerDisc() - static_cast<int>(dirs.size());
    for (int i = 0; i < files; ++i)
        tree.Append(dirs[(i * 7 + disc) % dirs.size()], 0, rng() % 100000, t, name(false));
}

// Walks a written tree in index order, appending each name to the names file.
inline void AppendBenchNames(const CScanTree& tree, ScanNodeId node, std::string& out) {
    for (; node != kNoNode; node = tree.Node(node).nextSibling) {
        out.append(tree.Name(node));
        out += '\n';
        AppendBenchNames(tree, tree.Node(node).firstChild, out);
    }
}

inline bool EnsureBenchLibrary(int hitEvery = 0) {
    std::string marker = BenchRoot(hitEvery) + "/complete";
    struct stat st {};
    if (::stat(marker.c_str(), &st) == 0) return true;
    ::mkdir(BenchRoot(hitEvery).c_str(), 0755);
    ::mkdir(BenchLibrary(hitEvery).c_str(), 0755);
    std::mt19937 rng(7);
    // The names go out disc by disc: the whole list would not fit in memory at
    // the larger sizes.
    const std::string partial = BenchNamesFile(hitEvery) + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (!out) return false;
    for (int disc = 0; disc < Discs(); ++disc) {
        // Categories of a hundred discs.
        std::string cat = BenchLibrary(hitEvery) + "/cat" + std::to_string(disc / 100);
        ::mkdir(cat.c_str(), 0755);
        CScanTree tree;
        BuildBenchDisc(disc, rng, hitEvery, tree);
        IndexHeader h;
        SetHeaderLabel(h, "DISC" + std::to_string(disc));
        h.fileCount = tree.FileCount();
        h.dirCount = tree.DirectoryCount();
        char file[32];
        std::snprintf(file, sizeof(file), "/disc%04d.orb", disc);
        std::string names;
        AppendBenchNames(tree, tree.Head(), names);
        if (WriteIndexFile(cat + file, h, tree) != WriteResult::Ok ||
            std::fwrite(names.data(), 1, names.size(), out) != names.size()) {
            std::fclose(out);
            return false;
        }
    }
    if (std::fclose(out) != 0 ||
        std::rename(partial.c_str(), BenchNamesFile(hitEvery).c_str()) != 0)
        return false;
    return ReplaceFileAtomically(marker, "ok\n", false);
}

}  // namespace orb::bench
