// SPDX-License-Identifier: GPL-3.0-or-later
// Cataloguing an image of 100,000 files: the time of a whole scan (listing and
// writing the index) beside "xorriso -find -exec lsdl" and "7z l" over the same
// image, and the bytes the reader read beside the image's size.
//
// The tree and its image are made once under $TMPDIR/orb-bench-image (or /tmp)
// and reused; delete that folder to reclaim the space (about 1 GB). All runs read
// a warm page cache; each figure is the median of five runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/disc_image.h"
#include "index/disc_scanner.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BaseDir() {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp") + "/orb-bench-image";
}

bool Exists(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0;
}

// 100 directories of 1,000 files each, sizes spread over 0 to 16 KiB (sparse in
// the tree, written out in full by the mastering tool).
std::string MakeImage() {
    const std::string base = BaseDir(), root = base + "/tree", image = base + "/100k.iso";
    if (Exists(image + ".complete")) return image;
    ::mkdir(base.c_str(), 0755);
    std::system(("rm -rf '" + root + "' '" + image + "'").c_str());
    ::mkdir(root.c_str(), 0755);
    for (int d = 0; d < 100; ++d) {
        const std::string dir = root + "/folder_" + std::to_string(d);
        ::mkdir(dir.c_str(), 0755);
        for (int f = 0; f < 1000; ++f) {
            const std::string file = dir + "/document_file_" + std::to_string(f) + ".dat";
            const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
            if (fd < 0) continue;
            (void)!::ftruncate(fd, ((d * 1000 + f) * 7919) % 16384);
            ::close(fd);
        }
    }
    std::fprintf(stderr, "making %s with xorriso...\n", image.c_str());
    if (std::system(
            ("xorriso -as mkisofs -quiet -R -J -o '" + image + "' '" + root + "' >/dev/null 2>&1")
                .c_str()) != 0)
        return {};
    std::system(("touch '" + image + ".complete'").c_str());
    return image;
}

template <typename F>
double MedianSeconds(F run) {
    std::vector<double> t;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        run();
        t.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main() {
    using namespace orb;
    const std::string image = MakeImage();
    if (image.empty()) {
        std::fprintf(stderr, "xorriso is needed to make the image\n");
        return 1;
    }
    const std::string out = BaseDir() + "/100k.orb";
    uint64_t bytesRead = 0, imageSize = 0, entries = 0;
    const double ours = MedianSeconds([&] {
        auto source = std::make_shared<CDiscImage>();
        std::string error;
        if (!source->Open(image, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        CDiscScanner scanner;
        if (RunScanToEnd(scanner, source, out) != SCAN_DONE) {
            std::fprintf(stderr, "%s\n", scanner.LastError().c_str());
            std::exit(1);
        }
        bytesRead = source->BytesRead();
        imageSize = source->ImageSize();
        entries = scanner.Header().fileCount + scanner.Header().dirCount;
    });
    auto tool = [&](const std::string& cmd) {
        return MedianSeconds([&] { (void)!std::system((cmd + " >/dev/null 2>&1").c_str()); });
    };
    const bool haveXorriso = std::system("command -v xorriso >/dev/null 2>&1") == 0;
    const bool have7z = std::system("command -v 7z >/dev/null 2>&1") == 0;
    const double xorriso =
        haveXorriso ? tool("xorriso -indev '" + image + "' -find / -exec lsdl") : -1;
    const double sevenZip = have7z ? tool("7z l '" + image + "'") : -1;

    std::printf("image: %s, %llu entries, %.1f MB\n", image.c_str(),
                static_cast<unsigned long long>(entries), imageSize / 1e6);
    std::printf("%-44s %8.3f s\n", "catalogue (list + write index)", ours);
    if (xorriso >= 0)
        std::printf("%-44s %8.3f s\n", "xorriso -indev IMG -find / -exec lsdl", xorriso);
    if (sevenZip >= 0) std::printf("%-44s %8.3f s\n", "7z l IMG", sevenZip);
    double faster = -1;
    for (double t : {xorriso, sevenZip})
        if (t >= 0 && (faster < 0 || t < faster)) faster = t;
    if (faster > 0) std::printf("catalogue / faster tool: %.2f (target <= 1)\n", ours / faster);
    std::printf("bytes read: %llu of %llu (%.2f%%, target < 2%%)\n",
                static_cast<unsigned long long>(bytesRead),
                static_cast<unsigned long long>(imageSize), 100.0 * bytesRead / imageSize);
    return 0;
}
