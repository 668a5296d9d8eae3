// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed inputs of every fuzz target with the program's own writers: the
// index writer and the reader's companion save, the favourites encoder, the old-
// format layout builder the converter tests use, and picture headers.
// Usage: make_seeds OUTPUT_FOLDER (one subfolder per target is made inside).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "favorites/store/favorite_store.h"
#include "fuzz/fuzz_support.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "tests/convert/old_layout.h"

using namespace orb;

namespace {

std::string g_out;

void Seed(const std::string& target, const std::string& name, const std::string& data) {
    const std::string dir = g_out + "/" + target;
    ::mkdir(g_out.c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
    orb::fuzz::PutFile(dir + "/" + name, data);
}

FILETIME Time(uint64_t v) {
    return U64ToFileTime(v);
}

struct IndexSample {
    std::string name;
    std::string index;
    std::string companion;
};

// Writes an index with the real writer, annotates it through a reader and returns
// both files' bytes.
IndexSample MakeIndex(const std::string& name, CScanTree& tree, const std::string& label,
                      const std::string& remark, const std::string& cover,
                      const std::vector<std::pair<int32_t, std::string>>& notes) {
    const std::string path = orb::fuzz::ScratchPath(name + ".orb");
    IndexHeader h;
    SetHeaderLabel(h, label);
    h.capacity = 681574400;
    h.fileCount = tree.FileCount();
    h.dirCount = tree.DirectoryCount();
    IndexWriteOptions opt;
    opt.remark = remark;
    opt.cover = cover;
    if (WriteIndexFile(path, h, tree, opt) != WriteResult::Ok) std::abort();
    if (!notes.empty()) {
        CIndexReader r;
        if (!r.Open(path, OpenMode::ReadWriteShareAll)) std::abort();
        for (const auto& [id, text] : notes) r.SetAnnotation(id, text);
        if (!r.Close()) std::abort();
    }
    IndexSample s{name, orb::fuzz::GetFile(path), orb::fuzz::GetFile(CompanionPath(path))};
    orb::fuzz::RemoveFile(path);
    orb::fuzz::RemoveFile(CompanionPath(path));
    return s;
}

const std::string kGif = std::string("GIF89a\x10\x00\x08\x00", 10) + "body";
const std::string kPng = std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16) +
                         std::string("\x00\x00\x00\x20\x00\x00\x00\x10", 8) + "rest";

std::vector<IndexSample> IndexSamples() {
    std::vector<IndexSample> out;
    {
        CScanTree t;
        out.push_back(MakeIndex("empty", t, "EMPTY", "", "", {}));
    }
    {
        CScanTree t;
        ScanNodeId d = t.Append(kNoNode, kEntryDirectory, 0, Time(1), "setup");
        ScanNodeId sub = t.Append(d, kEntryDirectory, 0, Time(2), "\xB9\xA4\xBE\xDF");
        t.Append(sub, 0, 1234, Time(3), "tool.exe");
        t.Append(sub, 0, 5000000000ULL, Time(4), "big.iso");
        t.Append(d, 0, 10, Time(5), "readme.txt");
        t.Append(kNoNode, 0, 20, Time(6), "autorun.inf");
        int32_t second = 0;
        {
            // The id of the second top-level entry is its record offset.
            second = static_cast<int32_t>(kFirstEntryOffset);
        }
        out.push_back(MakeIndex("tree", t, "DISC01", "备注 remark\r\nline", kGif,
                                {{kFirstEntryId, "note"}, {second, ""}, {200, "x"}}));
    }
    {
        CScanTree t;
        ScanNodeId parent = kNoNode;
        for (int depth = 0; depth < 12; ++depth)
            parent = t.Append(parent, kEntryDirectory, 0, Time(depth), "d" + std::to_string(depth));
        for (int i = 0; i < 20; ++i)
            t.Append(parent, 0, static_cast<uint64_t>(i), Time(i),
                     "file" + std::to_string(i) + ".TXT");
        out.push_back(MakeIndex("deep", t, "DEEP", "r", kPng, {{kFirstEntryId, "top"}}));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = argv[1];

    for (const IndexSample& s : IndexSamples()) {
        Seed("index_reader", s.name, orb::fuzz::JoinParts({s.companion}, s.index));
        Seed("index_reader", s.name + "-nocompanion", orb::fuzz::JoinParts({""}, s.index));
        const std::string options[] = {"\x07", "\x1f", "\x0b"};
        const std::string keywords[] = {"", "exe", "\xB9\xA4"};
        for (int k = 0; k < 3; ++k)
            Seed("search", s.name + "-" + std::to_string(k),
                 options[k] + orb::fuzz::JoinParts(
                                  {keywords[k], k == 1 ? "exe;txt" : "*", s.companion}, s.index));
    }

    {
        std::vector<FavoriteNode> top(2);
        top[0].item.name = "\xB9\xA4\xBE\xDF";  // 工具
        top[0].item.kind = kFavoriteCategory;
        FavoriteNode sw;
        sw.item.name = "setup";
        sw.item.kind = kFavoriteSoftware;
        sw.item.software = FavoriteSoftware{"cat\\disc01.orb", "setup\\tool.exe", "remark\r\n"};
        top[0].children.push_back(sw);
        FavoriteNode inner;
        inner.item.name = "inner";
        inner.children.push_back(sw);
        inner.children[0].item.software->remark.clear();
        top[0].children.push_back(inner);
        top[1].item.name = "nolocation";
        top[1].item.kind = kFavoriteSoftware;
        top[1].item.software = FavoriteSoftware{};
        std::string data;
        if (EncodeFavorites(top, data) != FavoriteStatus::Ok) return 1;
        Seed("favorites", "tree", data);
        std::string empty;
        EncodeFavorites({}, empty);
        Seed("favorites", "empty", empty);
    }

    {
        using test::OldEntry;
        using test::OldIndex;
        OldIndex old;
        old.label = "OLDDISC";
        old.capacity = 650000000;
        old.remark = "old remark";
        old.cover = kGif;
        OldEntry dir{"tools", true, 0, 1, {}};
        dir.children.push_back({"a.exe", false, 100, 2, {}});
        dir.children.push_back({"\xB9\xA4\xBE\xDF.txt", false, 200, 3, {}});
        old.top.push_back(dir);
        old.top.push_back({"readme.txt", false, 5, 4, {}});
        Seed("old_index", "tree", test::BuildOldIndex(old));
        OldIndex bare;
        bare.label = "BARE";
        Seed("old_index", "empty", test::BuildOldIndex(bare));
        old.nameLengthHighBits = 0x12340000;
        Seed("old_index", "highbits", test::BuildOldIndex(old));
        Seed("old_index", "new-format", IndexSamples()[1].index);
    }

    Seed("picture", "gif", kGif);
    Seed("picture", "png", kPng);
    std::string bmp = "BM" + std::string(16, '\0');
    bmp += std::string("\x40\x00\x00\x00\xe0\xff\xff\xff", 8);  // 64 wide, -32 high
    Seed("picture", "bmp", bmp);
    std::string jpeg(
        "\xFF\xD8\xFF\xE0\x00\x04\x00\x00\xFF\xC0\x00\x0b\x08\x00\x30\x00\x40\x01\x01\x11\x00", 21);
    Seed("picture", "jpeg", jpeg);
    return 0;
}
