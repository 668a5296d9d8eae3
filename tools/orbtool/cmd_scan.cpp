// SPDX-License-Identifier: GPL-3.0-or-later
// orbtool scan: catalogues a folder as a disc by running the disc scanner on it
// as a virtual CD drive, or a disc image file through the same scanner.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/disc_image.h"
#include "index/disc_scanner.h"
#include "platform/drives.h"
#include "platform/text.h"
#include "tools/orbtool/commands.h"
#include "tools/orbtool/output.h"

namespace orbtool {

namespace {

using namespace orb;

std::atomic<int> g_interrupted{0};
void OnInterrupt(int) {
    g_interrupted = 1;
}

// Draws "[#####.....]  45% 收集" on stderr, only when the figure changes.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    void Show(const char* phase, uint64_t part, uint64_t whole) {
        if (!enabled_) return;
        int pct = whole ? static_cast<int>(part >= whole ? 100 : part * 100 / whole) : 0;
        if (pct == lastPct_ && phase == lastPhase_) return;
        lastPct_ = pct;
        lastPhase_ = phase;
        constexpr int kWidth = 30;
        std::string bar(kWidth * pct / 100, '#');
        bar.resize(kWidth, '.');
        std::fprintf(stderr, "\r[%s] %3d%% %s", bar.c_str(), pct, phase);
        std::fflush(stderr);
    }
    void End() {
        if (enabled_ && lastPct_ >= 0) std::fputc('\n', stderr);
    }

private:
    bool enabled_;
    int lastPct_ = -1;
    const char* lastPhase_ = nullptr;
};

// An image with the label and capacity the command line may set instead.
class CImageOverride : public IDiscSource {
public:
    CImageOverride(std::shared_ptr<CDiscImage> image, bool haveLabel, const std::string& label,
                   bool haveCapacity, uint64_t capacity)
        : image_(std::move(image)),
          label_(haveLabel ? HostToStored(label) : image_->StoredLabel()),
          capacity_(haveCapacity ? capacity : image_->Capacity()) {}
    std::string StoredLabel() const override { return label_; }
    uint64_t Capacity() const override { return capacity_; }
    uint32_t ClusterSize() const override { return image_->ClusterSize(); }
    bool List(CScanTree& tree, const DiscListObserver& observer, std::string& error) override {
        return image_->List(tree, observer, error);
    }

private:
    std::shared_ptr<CDiscImage> image_;
    std::string label_;
    uint64_t capacity_;
};

int ScanSource(std::shared_ptr<IDiscSource> source, const std::string& out, bool json,
               const std::string& root = std::string());

}  // namespace

int RunScan(int argc, char** argv) {
    const char* usage =
        "usage: orbtool scan FOLDER|IMAGE OUT.orb [--label TEXT] [--capacity BYTES] [--json]\n";
    std::string folder, out, label;
    bool haveLabel = false, haveCapacity = false, json = false;
    uint64_t capacity = 0;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--json") {
            json = true;
        } else if (s == "--label" && i + 1 < argc) {
            label = argv[++i];
            haveLabel = true;
        } else if (s == "--capacity" && i + 1 < argc) {
            std::string v = argv[++i];
            auto r = std::from_chars(v.data(), v.data() + v.size(), capacity);
            if (v.empty() || r.ec != std::errc() || r.ptr != v.data() + v.size()) {
                std::fputs(usage, stderr);
                return kExitUsage;
            }
            haveCapacity = true;
        } else if (s.size() > 1 && s[0] == '-') {
            std::fputs(usage, stderr);
            return kExitUsage;
        } else if (positional == 0) {
            folder = s;
            ++positional;
        } else if (positional == 1) {
            out = s;
            ++positional;
        } else {
            ++positional;
        }
    }
    if (positional != 2) {
        std::fputs(usage, stderr);
        return kExitUsage;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        // A disc image is known by its volume descriptors, not by its name.
        auto image = std::make_shared<CDiscImage>();
        std::string error;
        if (!image->Open(folder, error)) {
            std::fprintf(stderr, "orbtool: %s: %s\n", folder.c_str(), error.c_str());
            return kExitFailed;
        }
        return ScanSource(
            std::make_shared<CImageOverride>(image, haveLabel, label, haveCapacity, capacity), out,
            json);
    }
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "orbtool: %s: not a folder or disc image\n", folder.c_str());
        return kExitFailed;
    }
    char* real = ::realpath(folder.c_str(), nullptr);
    std::string root = real ? real : folder;
    std::free(real);

    // Defaults: what the drive layer reports for the folder (a mount point has its
    // file system's label), else the folder's name; the file system's size.
    std::shared_ptr<IDriveSystem> host = CreateHostDriveSystem();
    if (!haveLabel) {
        std::string stored;
        if (host->GetDriveType(root) != DRIVE_NO_ROOT_DIR && host->GetVolumeLabel(root, stored))
            label = StoredToHost(stored);
        else
            label = root == "/" ? "" : root.substr(root.rfind('/') + 1);
    }
    if (!haveCapacity) {
        DiskGeometry g;
        if (host->GetDiskFreeSpace(root, g)) capacity = g.Capacity();
    }

    SetDriveSystem(std::make_shared<CVirtualDriveSystem>(
        std::vector<VirtualDrive>{{root, label, capacity, false}}));

    return ScanSource(nullptr, out, json, root);
}

namespace {
int ScanSource(std::shared_ptr<IDiscSource> source, const std::string& out, bool json,
               const std::string& root) {
    ProgressBar bar(::isatty(STDERR_FILENO) == 1);
    auto show = [&](uint32_t msg, WPARAM, LPARAM l) {
        if (msg == WM_SCAN_SIZE_PROGRESS) {
            auto* p = reinterpret_cast<const ScanSizeProgress*>(l);
            bar.Show("收集", p->used, p->capacity);
        } else if (msg == WM_SCAN_WRITE_PROGRESS) {
            auto* p = reinterpret_cast<const ScanWriteProgress*>(l);
            bar.Show("写入", static_cast<uint64_t>(p->written), static_cast<uint64_t>(p->total));
        }
    };
    // Ctrl-C stops the listing the way the dialog's stop button does.
    struct sigaction sa {
    }, old{};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, &old);
    CDiscScanner scanner;
    auto stop = [] { return g_interrupted.exchange(0) != 0; };
    const WPARAM final = source ? RunScanToEnd(scanner, source, out, show, stop)
                                : RunScanToEnd(scanner, root, out, show, stop);
    sigaction(SIGINT, &old, nullptr);
    bar.End();
    if (final != SCAN_DONE) {
        std::fprintf(stderr, "orbtool: %s\n", scanner.LastError().c_str());
        return kExitFailed;
    }
    const IndexHeader& h = scanner.Header();
    const ScanUnreadable missed = scanner.Unreadable();
    if (json) {
        // Paths are host bytes; shown as the index would show them, valid UTF-8.
        auto text = [](const std::string& host) {
            return JsonString(StoredToHost(HostToStored(host)));
        };
        std::printf("{\"index\":%s,\"files\":%u,\"directories\":%u,", text(out).c_str(),
                    h.fileCount, h.dirCount);
        std::printf("\"unreadable\":{\"directories\":%u,\"files\":%u,\"paths\":[",
                    missed.directories, missed.files);
        for (size_t i = 0; i < missed.paths.size(); ++i)
            std::printf("%s%s", i ? "," : "", text(missed.paths[i]).c_str());
        std::printf("]}}\n");
    } else {
        std::printf("%s: %u files, %u directories\n", out.c_str(), h.fileCount, h.dirCount);
    }
    if (!missed.Any()) return kExitOk;
    // The index is there, but it lacks what could not be read: say so, and end
    // with a status of its own so scripts notice.
    std::fprintf(stderr,
                 "orbtool: warning: %u directories and %u files could not be read; "
                 "the index lacks their contents\n",
                 missed.directories, missed.files);
    if (!json)
        for (const std::string& path : missed.paths)
            std::fprintf(stderr, "  %s\n", TerminalText(HostToStored(path)).c_str());
    return kExitIncomplete;
}
}  // namespace

}  // namespace orbtool
