// SPDX-License-Identifier: GPL-3.0-or-later
// Image files catalogued as discs: the same entries as the folder they were made
// from, large files, plain names kept as bytes, UDF, and damaged images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <tuple>

#include "audit/verify.h"
#include "image/disc_image.h"
#include "image/udf_reader.h"
#include "image/verify_source.h"
#include "index/disc_scanner.h"
#include "index/index_reader.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

using namespace orb;
using namespace orb::test;

namespace {

int Sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

bool HaveTool(const char* name) {
    return Sh(std::string("command -v ") + name) == 0;
}

void SetTime(const std::string& path, int64_t seconds) {
    struct timespec ts[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// One entry as compared between two indexes: kind, size of a file (directory
// sizes belong to the file system), write time in seconds.
using Entry = std::tuple<std::string, bool, uint64_t, int64_t>;
// Stored directory path ("" for the root) -> its entries, in index order.
using Listing = std::map<std::string, std::vector<Entry>>;

void Walk(CIndexReader& r, const IndexEntry* parent, const std::string& path, Listing& out) {
    std::vector<Entry>& list = out[path];
    IndexEntry e;
    if (!r.ReadFirstEntry(parent, e)) return;
    do {
        const bool dir = e.flags & kEntryDirectory;
        const uint64_t size = dir ? 0 : (static_cast<uint64_t>(e.sizeHigh) << 32) | e.sizeLow;
        list.emplace_back(e.name, dir, size, FileTimeToUnixSeconds(e.writeTime));
        if (dir) {
            IndexEntry child = e;
            Walk(r, &child, path + e.name + "\\", out);
        }
    } while (r.ReadNextEntry(e, e));
}

Listing ReadListing(const std::string& index, IndexHeader* header = nullptr) {
    CIndexReader r;
    Listing out;
    EXPECT_EQ(r.Open(index, OpenMode::ReadShareAll), 1) << index;
    if (header) *header = r.Header();
    Walk(r, nullptr, "", out);
    return out;
}

Listing Sorted(Listing l) {
    for (auto& [dir, entries] : l) std::sort(entries.begin(), entries.end());
    return l;
}

WPARAM ScanImage(const std::string& image, const std::string& out, std::string* error = nullptr) {
    auto source = std::make_shared<CDiscImage>();
    std::string openError;
    if (!source->Open(image, openError)) {
        if (error) *error = openError;
        return 0;
    }
    CDiscScanner scanner;
    const WPARAM final = RunScanToEnd(scanner, source, out);
    if (error) *error = scanner.LastError();
    return final;
}

// Lists an image with the engine alone: ok, the message, the tree.
struct Listed {
    bool opened = false, ok = false;
    std::string error;
    CScanTree tree;
};
Listed ListImage(const std::string& path) {
    Listed l;
    CDiscImage image;
    l.opened = image.Open(path, l.error);
    if (l.opened) l.ok = image.List(l.tree, {}, l.error);
    return l;
}

// Finds the first occurrence of needle in a file and overwrites it with bytes.
bool Patch(const std::string& path, const std::string& needle, const std::string& bytes,
           size_t at = 0) {
    std::string data = ReadFile(path);
    const size_t pos = data.find(needle);
    if (pos == std::string::npos) return false;
    data.replace(pos + at, bytes.size(), bytes);
    WriteFile(path, data);
    return true;
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
    }
    // A small tree with nested and empty directories, Chinese names and set times.
    std::string MakeTree() {
        const std::string src = tmp_ / "src";
        for (const char* d : {"", "/sub", "/sub/深层", "/空目录", "/sub/b"})
            ::mkdir((src + d).c_str(), 0755);
        WriteFile(src + "/readme.txt", "hello\n");
        WriteFile(src + "/sub/a.bin", std::string(5000, 'a'));
        WriteFile(src + "/sub/深层/中文名.txt", "x");
        WriteFile(src + "/sub/b/empty", "");
        WriteFile(src + "/big.dat", std::string(300000, 'z'));
        int64_t t = 1600000000;
        for (const char* p : {"/readme.txt", "/sub/a.bin", "/sub/深层/中文名.txt", "/sub/b/empty",
                              "/big.dat", "/sub/深层", "/sub/b", "/空目录", "/sub"})
            SetTime(src + p, t += 3600);
        return src;
    }
    TempDir tmp_;
};

TEST_F(ImageTest, IsoWithJolietAndRockRidgeHoldsWhatTheFolderHolds) {
    const std::string src = MakeTree();
    // The folder through the scanner as a virtual drive.
    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{src, "X", 2048 * 1000, false}}));
    CDiscScanner scanner;
    ASSERT_EQ(RunScanToEnd(scanner, src, tmp_ / "folder.orb"), SCAN_DONE);
    SetDriveSystem(nullptr);
    const Listing folder = Sorted(ReadListing(tmp_ / "folder.orb"));
    ASSERT_EQ(folder.size(), 5u);

    // Rock Ridge names are taken over Joliet ones, Joliet over plain identifiers:
    // each image gives the folder's names, sizes, times and directories.
    const std::pair<const char*, const char*> kinds[] = {{"rrj.iso", "-R -J"}, {"j.iso", "-J"}};
    for (const auto& [name, opts] : kinds) {
        SCOPED_TRACE(name);
        const std::string iso = tmp_ / name;
        ASSERT_EQ(
            Sh("xorriso -as mkisofs " + std::string(opts) + " -V 光盘LABEL -o " + iso + " " + src),
            0);
        std::string error;
        ASSERT_EQ(ScanImage(iso, tmp_ / "image.orb", &error), SCAN_DONE) << error;
        IndexHeader h;
        const Listing image = Sorted(ReadListing(tmp_ / "image.orb", &h));
        EXPECT_EQ(image, folder);
        EXPECT_EQ(h.fileCount, 5u);
        EXPECT_EQ(h.dirCount, 4u);
        // The Joliet label, in the index's code page; the capacity is the volume.
        EXPECT_EQ(HeaderLabel(h), HostToStored("光盘LABEL"));
        struct stat st {};
        ASSERT_EQ(::stat(iso.c_str(), &st), 0);
        EXPECT_EQ(h.capacity, static_cast<uint64_t>(st.st_size));
    }
}

TEST_F(ImageTest, FileStoredInSeveralExtentsIsOneEntryWithItsFullSize) {
    const std::string src = tmp_ / "big";
    ::mkdir(src.c_str(), 0755);
    const uint64_t size = (uint64_t{4} << 30) + 12345;  // more than one 4 GiB extent
    const int fd = ::open((src + "/huge.img").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    WriteFile(src + "/after.txt", "after");
    const std::string iso = tmp_ / "big.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -iso-level 3 -R -o " + iso + " " + src), 0);
    ::unlink((src + "/huge.img").c_str());
    Listed l = ListImage(iso);
    ::unlink(iso.c_str());
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.tree.Size(), 2u);
    std::map<std::string, uint64_t> sizes;
    for (ScanNodeId id = l.tree.Head(); id != kNoNode; id = l.tree.Node(id).nextSibling)
        sizes[std::string(l.tree.Name(id))] = l.tree.Node(id).item.Size();
    EXPECT_EQ(sizes["huge.img"], size);
    EXPECT_EQ(sizes["after.txt"], 5u);
}

TEST_F(ImageTest, PlainIdentifiersAreKeptAsTheirBytesAndTheBootCatalogueIsNoFile) {
    const std::string src = tmp_ / "plain";
    ::mkdir(src.c_str(), 0755);
    WriteFile(src + "/ABCD.TXT", "text");
    WriteFile(src + "/BOOT.IMG", std::string(2048 * 4, 'b'));
    const std::string iso = tmp_ / "plain.iso";
    ASSERT_EQ(
        Sh("xorriso -outdev " + iso + " -rockridge off -joliet off -volid GBKDISC -map " + src +
           " / -boot_image any bin_path=/BOOT.IMG -boot_image any cat_path=/BOOT.CAT"
           " -boot_image any load_size=2048"),
        0);
    // A Chinese disc mastered without Joliet carries GBK bytes as its identifiers
    // ("中文" is D6 D0 CE C4): the index must hold exactly those bytes.
    ASSERT_TRUE(Patch(iso, "ABCD.TXT;1", "\xD6\xD0\xCE\xC4"));
    Listed l = ListImage(iso);
    ASSERT_TRUE(l.ok) << l.error;
    std::set<std::string> names;
    for (ScanNodeId id = l.tree.Head(); id != kNoNode; id = l.tree.Node(id).nextSibling)
        names.emplace(l.tree.Name(id));
    EXPECT_EQ(names, (std::set<std::string>{"\xD6\xD0\xCE\xC4.TXT", "BOOT.IMG"}));

    CDiscImage image;
    std::string error;
    ASSERT_TRUE(image.Open(iso, error)) << error;
    EXPECT_EQ(image.StoredLabel(), "GBKDISC");
    EXPECT_GE(image.Volume().bootCatalogSector, 0);
}

TEST_F(ImageTest, RootReadmeIsKeptWhileListingWithinItsBound) {
    const std::string src = MakeTree();
    const std::string iso = tmp_ / "r.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -R -J -o " + iso + " " + src), 0);
    for (const auto& [max, kept, truncated] :
         {std::tuple<size_t, const char*, bool>{4, "hell", true}, {100, "hello\n", false}}) {
        CDiscImage image;
        std::string error;
        ASSERT_TRUE(image.Open(iso, error)) << error;
        image.CaptureReadme(max);
        CScanTree tree;
        ASSERT_TRUE(image.List(tree, {}, error)) << error;
        EXPECT_TRUE(image.Readme().found);
        EXPECT_EQ(image.Readme().bytes, kept);
        EXPECT_EQ(image.Readme().truncated, truncated);
    }
}

TEST(UdfTimestamp, DecodesLocalTimeWithItsOffsetToUtc) {
    // 2021-03-04 05:06:07.89 at UTC+08:00 (type 1, offset +480 minutes).
    const unsigned char ts[12] = {0xE0, 0x11, 0xE5, 0x07, 3, 4, 5, 6, 7, 89, 0, 0};
    const FILETIME ft = UdfTimestampToFileTime(ts);
    EXPECT_EQ(FileTimeToUnixSeconds(ft), 1614834367 - 8 * 3600);
    EXPECT_EQ(FileTimeToU64(ft) % 10000000, 8900000u);
    const unsigned char bad[12] = {0x00, 0x10, 0xE5, 0x07, 13, 4, 5, 6, 7, 0, 0, 0};
    EXPECT_EQ(FileTimeToU64(UdfTimestampToFileTime(bad)), 0u);
}

TEST(UdfImage, EmptyFileSystemGivesItsLabelAndCapacity) {
    if (!HaveTool("mkudffs")) GTEST_SKIP() << "udftools is not installed";
    TempDir tmp;
    const std::string img = tmp / "empty.udf";
    ASSERT_EQ(Sh("mkudffs --label=空UDF --media-type=hd --blocksize=2048 " + img + " 3000"), 0);
    CDiscImage image;
    std::string error;
    ASSERT_TRUE(image.Open(img, error)) << error;
    EXPECT_EQ(image.StoredLabel(), HostToStored("空UDF"));
    EXPECT_EQ(image.Capacity(), 3000u * 2048);
    CScanTree tree;
    EXPECT_TRUE(image.List(tree, {}, error)) << error;
    EXPECT_EQ(tree.Size(), 0u);
    EXPECT_TRUE(image.UsedUdfTree());
}

TEST(UdfImage, BridgeTakesTheTreeThatHoldsMoreWithTimesFromTheFileEntries) {
    if (Sh("/usr/bin/python3 -c 'import pycdlib'") != 0) GTEST_SKIP() << "no python3-pycdlib";
    TempDir tmp;
    const std::string img = tmp / "bridge.iso";
    // UDF 2.60 beside ISO 9660; one file only in the UDF tree, as on DVD-Video
    // discs whose ISO side is smaller.
    const std::string script =
        "import pycdlib, io\n"
        "iso = pycdlib.PyCdlib()\n"
        "iso.new(udf='2.60', vol_ident='BRIDGE')\n"
        "iso.add_fp(io.BytesIO(b'hello'), 5, '/HELLO.TXT;1', udf_path='/hello.txt')\n"
        "iso.add_directory('/DIR1', udf_path='/dir1')\n"
        "iso.add_fp(io.BytesIO(b'x' * 3000), 3000, udf_path='/dir1/only_udf.bin')\n"
        "iso.write('" +
        img + "')\n";
    WriteFile(tmp / "make.py", script);
    ASSERT_EQ(Sh("/usr/bin/python3 " + tmp / "make.py"), 0);
    std::string error;
    const int64_t before = std::time(nullptr);
    ASSERT_EQ(ScanImage(img, tmp / "bridge.orb", &error), SCAN_DONE) << error;
    IndexHeader h;
    const Listing l = ReadListing(tmp / "bridge.orb", &h);
    ASSERT_EQ(l.at("").size(), 2u);
    EXPECT_EQ(std::get<0>(l.at("")[0]), "hello.txt");
    EXPECT_EQ(std::get<2>(l.at("")[0]), 5u);
    EXPECT_EQ(std::get<0>(l.at("")[1]), "dir1");
    ASSERT_EQ(l.at("dir1\\").size(), 1u);
    EXPECT_EQ(std::get<0>(l.at("dir1\\")[0]), "only_udf.bin");
    EXPECT_EQ(std::get<2>(l.at("dir1\\")[0]), 3000u);
    // The writer records the time of writing (with its day field taken from the
    // month); year and hour show the file entry's time was decoded, not left zero.
    std::tm now{};
    const time_t b = static_cast<time_t>(before);
    gmtime_r(&b, &now);
    const time_t written = static_cast<time_t>(std::get<3>(l.at("")[0]));
    std::tm got{};
    gmtime_r(&written, &got);
    EXPECT_EQ(got.tm_year, now.tm_year);
    EXPECT_EQ(got.tm_mon, now.tm_mon);
    EXPECT_EQ(h.fileCount, 2u);

    // A verification reads the UDF tree's data.
    std::unique_ptr<IVerifySource> source = OpenImageVerifySource(img, error);
    ASSERT_TRUE(source) << error;
    std::unique_ptr<IDiscFile> f = source->Open("dir1/only_udf.bin", error);
    ASSERT_TRUE(f) << error;
    char buf[4000];
    EXPECT_EQ(f->Read(buf, sizeof buf, 0, error), 3000);
    EXPECT_EQ(std::string(buf, 3000), std::string(3000, 'x'));
    EXPECT_EQ(f->Read(buf, sizeof buf, 2990, error), 10);
}

TEST_F(ImageTest, DamagedImagesGiveAMessageAndNoIndex) {
    const std::string src = MakeTree();
    const std::string good = tmp_ / "good.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -o " + good + " " + src), 0);  // plain names only
    const std::string data = ReadFile(good);

    struct Case {
        const char* name;
        std::function<std::string(std::string)> damage;
    };
    auto patchRecord = [](std::string d, const std::string& ident, size_t fieldAt,
                          const std::string& bytes) {
        // A directory record holds its identifier at offset 33, after its length
        // byte; the path table's copies of directory names are passed over.
        for (size_t pos = d.find(ident); pos != std::string::npos; pos = d.find(ident, pos + 1)) {
            if (pos < 33 || static_cast<unsigned char>(d[pos - 1]) != ident.size()) continue;
            d.replace(pos - 33 + fieldAt, bytes.size(), bytes);
            return d;
        }
        return std::string();
    };
    const std::string rootExtent = data.substr(16 * 2048 + 156 + 2, 4);
    const Case cases[] = {
        {"truncated after the descriptors", [](std::string d) { return d.substr(0, 19 * 2048); }},
        {"truncated inside the directories", [](std::string d) { return d.substr(0, 25 * 2048); }},
        {"file extent past the end",
         [&](std::string d) {
             return patchRecord(d, "BIG.DAT;1", 2, std::string("\x00\x00\x00\x70", 4));
         }},
        // SUB's extent made the root's: a walk that followed it would never end.
        {"directory that contains its parent",
         [&](std::string d) { return patchRecord(d, "SUB", 2, rootExtent); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string damaged = c.damage(data);
        ASSERT_FALSE(damaged.empty());
        const std::string path = tmp_ / "damaged.iso";
        WriteFile(path, damaged);
        ::unlink((tmp_ / "d.orb").c_str());
        std::string error;
        const WPARAM final = ScanImage(path, tmp_ / "d.orb", &error);
        EXPECT_NE(final, static_cast<WPARAM>(SCAN_DONE));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(FileExists(tmp_ / "d.orb"));
    }

    // 255 bytes of garbage as a name (control bytes, '/', NUL): a bounded result,
    // every stored name at most 255 bytes.
    std::string garbage(255, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 37) & 0xFF);
    std::string d = data;
    const size_t at = d.find("README.TXT;1");
    ASSERT_NE(at, std::string::npos);
    d[at - 1] = static_cast<char>(200);  // name length
    d.replace(at, 12, garbage.substr(0, 12));
    WriteFile(tmp_ / "garbage.iso", d);
    Listed l = ListImage(tmp_ / "garbage.iso");
    if (l.ok) {
        for (size_t i = 0; i < l.tree.Size(); ++i) EXPECT_LE(l.tree.Name(i).size(), 255u);
    } else {
        EXPECT_FALSE(l.error.empty());
    }

    // Not an image at all.
    WriteFile(tmp_ / "noise.bin", std::string(40000, '\x55'));
    CDiscImage image;
    std::string error;
    EXPECT_FALSE(image.Open(tmp_ / "noise.bin", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(IsDiscImageFile(tmp_ / "noise.bin"));
    EXPECT_TRUE(IsDiscImageFile(good));
}

TEST_F(ImageTest, RawSectorImageReadsLikeItsPlainImage) {
    const std::string src = MakeTree();
    const std::string iso = tmp_ / "p.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -R -J -o " + iso + " " + src), 0);
    // Mode 1 raw sectors: sync, header, 2048 bytes of data, error codes.
    const std::string plain = ReadFile(iso);
    std::string raw;
    for (size_t s = 0; s * 2048 < plain.size(); ++s) {
        raw += std::string("\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00", 12);
        raw += std::string("\x00\x02\x00\x01", 4);
        raw += plain.substr(s * 2048, 2048);
        raw += std::string(288, '\0');
    }
    WriteFile(tmp_ / "p.bin", raw);
    ASSERT_TRUE(IsDiscImageFile(tmp_ / "p.bin"));
    ASSERT_EQ(ScanImage(iso, tmp_ / "a.orb"), SCAN_DONE);
    ASSERT_EQ(ScanImage(tmp_ / "p.bin", tmp_ / "b.orb"), SCAN_DONE);
    EXPECT_EQ(ReadListing(tmp_ / "a.orb"), ReadListing(tmp_ / "b.orb"));
}

}  // namespace

namespace {
struct KindCounter : IVerifyListener {
    uint64_t counts[kVerifyKindCount] = {};
    std::vector<std::string> problems;
    void OnItem(const VerifyItem& item) override {
        ++counts[static_cast<int>(item.kind)];
        if (item.kind != VerifyKind::Identical)
            problems.push_back(std::string(VerifyKindWord(item.kind)) + " " + item.path);
    }
    void OnProgress(const VerifyProgress&) override {}
};

std::string ReadAllOf(IVerifySource& source, const std::string& path, uint64_t from = 0) {
    std::string error, out;
    std::unique_ptr<IDiscFile> f = source.Open(path, error);
    EXPECT_TRUE(f) << path << ": " << error;
    if (!f) return out;
    char buf[7000];
    for (int64_t n; (n = f->Read(buf, sizeof buf, from + out.size(), error)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    return out;
}
}  // namespace

TEST_F(ImageTest, AnImageIsVerifiedInPlaceOfItsDisc) {
    const std::string src = MakeTree();
    const std::string iso = tmp_ / "disc.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -R -J -o " + iso + " " + src), 0);
    ASSERT_EQ(ScanImage(iso, tmp_ / "disc.orb"), SCAN_DONE);
    std::string error;
    RegisterImageVerifySource();
    std::unique_ptr<IVerifySource> source = OpenDiscSource(iso, error);
    ASSERT_TRUE(source) << error;

    // Every file's data, read to the end, is the folder's.
    CIndexReader reader;
    ASSERT_TRUE(reader.Open(tmp_ / "disc.orb", OpenMode::ReadShareAll));
    VerifyOptions full;
    full.full = true;
    KindCounter all;
    VerifySummary s = VerifyDisc(reader, *source, full, all);
    EXPECT_TRUE(s.AllIdentical()) << ::testing::PrintToString(all.problems);
    EXPECT_EQ(s.bytesRead, 6u + 5000u + 1u + 300000u);

    // Files asked for out of the image's order, and a read that goes back, give
    // the same bytes.
    EXPECT_EQ(ReadAllOf(*source, "big.dat"), std::string(300000, 'z'));
    EXPECT_EQ(ReadAllOf(*source, "sub/深层/中文名.txt"), "x");
    EXPECT_EQ(ReadAllOf(*source, "readme.txt"), "hello\n");
    EXPECT_EQ(ReadAllOf(*source, "big.dat", 299990), std::string(10, 'z'));
    EXPECT_FALSE(source->Open("nothing.txt", error));

    // A changed disc: one file grew, one is gone, one is new.
    WriteFile(src + "/big.dat", std::string(300001, 'z'));
    ::unlink((src + "/readme.txt").c_str());
    WriteFile(src + "/sub/新.txt", "n");
    const std::string changed = tmp_ / "changed.iso";
    ASSERT_EQ(Sh("xorriso -as mkisofs -R -J -o " + changed + " " + src), 0);
    source = OpenDiscSource(changed, error);
    ASSERT_TRUE(source) << error;
    KindCounter diff;
    VerifyDisc(reader, *source, VerifyOptions{}, diff);
    EXPECT_EQ(diff.counts[static_cast<int>(VerifyKind::ChangedSize)], 1u);
    EXPECT_EQ(diff.counts[static_cast<int>(VerifyKind::Missing)], 1u);
    EXPECT_EQ(diff.counts[static_cast<int>(VerifyKind::New)], 1u);

    // Not an image at all: a clear refusal.
    WriteFile(tmp_ / "plain.txt", "text");
    EXPECT_FALSE(OpenDiscSource(tmp_ / "plain.txt", error));
    EXPECT_FALSE(error.empty());
}
