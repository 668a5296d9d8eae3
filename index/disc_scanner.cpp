// SPDX-License-Identifier: GPL-3.0-or-later
#include "index/disc_scanner.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>
#include <vector>

#include "index/index_writer.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace orb {

namespace {

uint64_t RoundUpToClusters(uint64_t size, uint32_t cluster) {
    if (cluster == 0) return size;
    uint64_t clusters = size / cluster + (size % cluster != 0 ? 1 : 0);
    return clusters * cluster;
}

}  // namespace

CDiscScanner::CDiscScanner() = default;

CDiscScanner::~CDiscScanner() {
    // The worker is detached; if an owner breaks the lifetime rule, at least let a
    // paused worker run on towards its end instead of sleeping forever.
    abort_ = 1;
    ResumeScan();
}

LRESULT CDiscScanner::Notify(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    return notify_ ? notify_->Send(msg, wParam, lParam) : 0;
}

int CDiscScanner::StartScan(const std::string& driveRoot, const std::string& outputPath) {
    if (running_.load() || workerActive_.load()) {
        SetError(kErrBusy);
        return 0;
    }
    std::shared_ptr<IDriveSystem> drives = Drives();
    if (drives->GetDriveType(driveRoot) != DRIVE_CDROM) {
        SetError(kErrNotCdrom);
        return 0;
    }
    DiskGeometry geometry;
    if (!drives->GetDiskFreeSpace(driveRoot, geometry)) {
        SetError(kErrNoDisc);
        return 0;
    }
    header_ = IndexHeader{};
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        unreadable_ = ScanUnreadable{};
    }
    std::string label;
    if (drives->GetVolumeLabel(driveRoot, label)) SetHeaderLabel(header_, label);
    header_.capacity = geometry.Capacity();
    clusterSize_ = geometry.ClusterSize();
    source_.reset();
    return StartWorker(driveRoot, outputPath);
}

int CDiscScanner::StartScan(std::shared_ptr<IDiscSource> source, const std::string& outputPath) {
    if (running_.load() || workerActive_.load()) {
        SetError(kErrBusy);
        return 0;
    }
    header_ = IndexHeader{};
    SetHeaderLabel(header_, source->StoredLabel());
    header_.capacity = source->Capacity();
    clusterSize_ = source->ClusterSize();
    source_ = std::move(source);
    return StartWorker(std::string(), outputPath);
}

int CDiscScanner::StartWorker(const std::string& driveRoot, const std::string& outputPath) {
    abort_ = 0;
    running_ = 1;
    driveRoot_ = driveRoot;
    outputPath_ = outputPath;
    {
        struct stat st {};
        outputExisted_ = ::lstat(outputPath.c_str(), &st) == 0;
    }
    {
        std::lock_guard<std::mutex> lock(gateMutex_);
        paused_ = false;
    }
    workerActive_ = true;
    try {
        std::thread(ScanThreadProc, this).detach();
    } catch (const std::system_error&) {
        workerActive_ = false;
        running_ = 0;
        SetError(kErrBusy);
        return 0;
    }
    return 1;
}

void CDiscScanner::SuspendScan() {
    if (!running_.load()) return;
    std::lock_guard<std::mutex> lock(gateMutex_);
    paused_ = true;
}

void CDiscScanner::ResumeScan() {
    {
        std::lock_guard<std::mutex> lock(gateMutex_);
        paused_ = false;
    }
    gateCv_.notify_all();
}

void CDiscScanner::AbortScan() {
    if (!running_.load()) return;
    abort_ = 1;
    running_ = 0;
    ResumeScan();
}

void CDiscScanner::PassGate() {
    if (!paused_.load(std::memory_order_relaxed)) return;
    std::unique_lock<std::mutex> lock(gateMutex_);
    gateCv_.wait(lock, [this] { return !paused_.load(); });
}

void CDiscScanner::ListDirectoryInto(const std::string& path, ScanNodeId parent, CScanTree& tree,
                                     ScanUnreadable& unreadable) {
    auto missed = [&unreadable](uint32_t& count, const std::string& where) {
        ++count;
        if (unreadable.paths.size() < ScanUnreadable::kMaxPaths) unreadable.paths.push_back(where);
    };
    // Read the whole directory first, so only one directory stream is open at a
    // time however deep the disc goes.
    std::vector<DirEntry> entries;
    const bool listed = ListDirectory(path, [&](const DirEntry& e) {
        if (e.name != "." && e.name != "..") entries.push_back(e);
        return abort_.load(std::memory_order_relaxed) == 0;
    });
    // The scan goes on without what could not be read, and says so at the end.
    if (!listed && !abort_.load(std::memory_order_relaxed)) missed(unreadable.directories, path);
    for (DirEntry& e : entries) {
        PassGate();
        if (abort_.load(std::memory_order_relaxed)) return;
        const std::string stored = HostToStored(e.name);
        if (e.unreadable) missed(unreadable.files, JoinPath(path, e.name));
        if (e.isDirectory) {
            ScanNodeId node = tree.Append(parent, kEntryDirectory, e.size, e.writeTime, stored);
            ListDirectoryInto(JoinPath(path, e.name), node, tree, unreadable);
        } else {
            // Symbolic links arrive here as files with the link's own size.
            tree.Append(parent, 0, e.size, e.writeTime, stored);
            CountListedFile(e.size);
        }
    }
}

void CDiscScanner::CountListedFile(uint64_t size) {
    sizeProgress_.used += RoundUpToClusters(size, clusterSize_);
    // One round trip through the window per shown percentage, not per file.
    const int percent = ShownPercent(sizeProgress_.used, sizeProgress_.capacity);
    if (percent != sizePercentSent_) {
        sizePercentSent_ = percent;
        Notify(WM_SCAN_SIZE_PROGRESS, 0, reinterpret_cast<LPARAM>(&sizeProgress_));
    }
}

void CDiscScanner::ScanThreadProc(CDiscScanner* self) {
    LowerCurrentThreadPriority();
    self->sizeProgress_.capacity = self->header_.capacity;
    self->sizeProgress_.used = 0;
    self->sizePercentSent_ = -1;
    self->writePercentSent_ = -1;
    WPARAM finalStatus;
    // The worker's own error text: the owner may write the scanner's (a refused
    // start) while this worker still runs, so it is handed over only at the end.
    std::string workerError;
    ScanUnreadable unreadable;
    {
        CScanTree tree;
        self->Notify(WM_SCAN_STATUS, SCAN_COLLECTING, 0);
        bool listed = true;
        if (self->source_) {
            listed = self->source_->List(
                tree,
                [self](bool isDirectory, uint64_t size) {
                    self->PassGate();
                    if (self->abort_.load(std::memory_order_relaxed)) return false;
                    if (!isDirectory) self->CountListedFile(size);
                    return true;
                },
                workerError);
        } else {
            self->ListDirectoryInto(self->driveRoot_, kNoNode, tree, unreadable);
        }
        if (self->abort_.load()) {
            workerError = kErrAborted;
            self->running_ = 0;
            finalStatus = SCAN_ABORTED;
        } else if (!listed) {
            // A disc that cannot be read whole gives no index rather than a partial one.
            self->running_ = 0;
            finalStatus = SCAN_FAILED;
        } else {
            self->Notify(WM_SCAN_STATUS, SCAN_SAVING, 0);
            self->header_.fileCount = tree.FileCount();
            self->header_.dirCount = tree.DirectoryCount();
            self->writeProgress_.total =
                static_cast<int32_t>(self->header_.fileCount + self->header_.dirCount);
            self->writeProgress_.written = 0;
            IndexWriteOptions options;
            options.onRecordWritten = [self] {
                ++self->writeProgress_.written;
                const int percent =
                    ShownPercent(static_cast<uint64_t>(self->writeProgress_.written),
                                 static_cast<uint64_t>(self->writeProgress_.total));
                if (percent != self->writePercentSent_) {
                    self->writePercentSent_ = percent;
                    self->Notify(WM_SCAN_WRITE_PROGRESS, 0,
                                 reinterpret_cast<LPARAM>(&self->writeProgress_));
                }
                self->PassGate();
            };
            options.replaceExisting = self->outputExisted_;
            options.dropCompanion = true;
            std::string reason;
            switch (WriteIndexFile(self->outputPath_, self->header_, tree, options, &reason)) {
                case WriteResult::Ok:
                    finalStatus = SCAN_DONE;
                    break;
                case WriteResult::CreateFailed:
                    workerError = kErrCreate;
                    finalStatus = SCAN_FAILED;
                    break;
                case WriteResult::TooLarge:
                    workerError = kErrTooLarge;
                    finalStatus = SCAN_FAILED;
                    break;
                default:
                    workerError = kErrWrite;
                    finalStatus = SCAN_FAILED;
                    break;
            }
            self->running_ = 0;
        }
    }  // the tree is released before the owner hears the end
    IMessageTarget* notify = self->notify_;
    if (finalStatus != SCAN_DONE) self->SetError(workerError.c_str());
    {
        std::lock_guard<std::mutex> lock(self->errorMutex_);
        self->unreadable_ = std::move(unreadable);
    }
    self->workerActive_ = false;
    // The last use of the scanner and of the window.
    if (notify) notify->Send(WM_SCAN_STATUS, finalStatus, 0);
}

namespace {
// Hands the scanner's messages to a callback and wakes the waiting caller on the
// final status. Notifying while holding the lock keeps the condition variable
// alive until the worker is done with it.
class CScanWaiter : public IMessageTarget {
public:
    explicit CScanWaiter(const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage)
        : onMessage_(onMessage) {}
    LRESULT Send(uint32_t msg, WPARAM w, LPARAM l) override {
        if (onMessage_) onMessage_(msg, w, l);
        if (msg == WM_SCAN_STATUS && w >= SCAN_DONE) {
            std::lock_guard<std::mutex> lock(mutex_);
            final_ = w;
            cv_.notify_all();
        }
        return 0;
    }
    void Post(uint32_t, WPARAM, LPARAM) override {}
    // Waits for the final status, calling poll about every 100 ms meanwhile.
    WPARAM Wait(const std::function<void()>& poll) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [&] { return final_ != 0; }))
            poll();
        return final_;
    }

private:
    const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage_;
    std::mutex mutex_;
    std::condition_variable cv_;
    WPARAM final_ = 0;
};
}  // namespace

namespace {
WPARAM RunToEnd(CDiscScanner& scanner, const std::function<int()>& start,
                const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage,
                const std::function<bool()>& stopRequested) {
    CScanWaiter waiter(onMessage);
    scanner.SetNotifyWindow(&waiter);
    WPARAM final = 0;
    if (start()) {
        final = waiter.Wait([&] {
            if (stopRequested && stopRequested()) scanner.AbortScan();
        });
    }
    scanner.SetNotifyWindow(nullptr);
    return final;
}
}  // namespace

WPARAM RunScanToEnd(CDiscScanner& scanner, const std::string& driveRoot,
                    const std::string& outputPath,
                    const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage,
                    const std::function<bool()>& stopRequested) {
    return RunToEnd(
        scanner, [&] { return scanner.StartScan(driveRoot, outputPath); }, onMessage,
        stopRequested);
}

WPARAM RunScanToEnd(CDiscScanner& scanner, std::shared_ptr<IDiscSource> source,
                    const std::string& outputPath,
                    const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage,
                    const std::function<bool()>& stopRequested) {
    return RunToEnd(
        scanner, [&] { return scanner.StartScan(std::move(source), outputPath); }, onMessage,
        stopRequested);
}

}  // namespace orb
