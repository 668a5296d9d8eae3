// SPDX-License-Identifier: GPL-3.0-or-later
// CDiscScanner: turns the disc in a CD drive into a new index file. The listing
// and the writing run on a worker thread that reports to the notify window with
// synchronous messages (WM_SCAN_STATUS, WM_SCAN_SIZE_PROGRESS,
// WM_SCAN_WRITE_PROGRESS).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "index/disc_source.h"
#include "index/index_format.h"
#include "index/scan_tree.h"
#include "platform/messages.h"

namespace orb {

// wParam of WM_SCAN_STATUS.
constexpr WPARAM SCAN_COLLECTING = 1;
constexpr WPARAM SCAN_SAVING = 2;
constexpr WPARAM SCAN_DONE = 3;
constexpr WPARAM SCAN_ABORTED = 4;
constexpr WPARAM SCAN_FAILED = 5;

// lParam of WM_SCAN_SIZE_PROGRESS points to this block inside the scanner.
struct ScanSizeProgress {
    uint64_t capacity = 0;
    uint64_t used = 0;
};

// lParam of WM_SCAN_WRITE_PROGRESS points to this block inside the scanner.
struct ScanWriteProgress {
    int32_t total = 0;
    int32_t written = 0;
};

// The whole percentage a progress bar shows for part of whole (0 when whole is 0,
// at most 100). The scanner sends a progress message only when this changes.
inline int ShownPercent(uint64_t part, uint64_t whole) {
    if (whole == 0) return 0;
    if (part >= whole) return 100;
    return static_cast<int>(static_cast<unsigned __int128>(part) * 100 / whole);
}

// What a finished scan could not read: directories that could not be listed (kept
// in the index as empty folders) and entries whose details could not be read (kept
// with no size or time). The index format has no place for this; the owner tells
// the user.
struct ScanUnreadable {
    uint32_t directories = 0;
    uint32_t files = 0;
    // Host paths, the first kMaxPaths of them.
    std::vector<std::string> paths;
    static constexpr size_t kMaxPaths = 1000;

    bool Any() const { return directories + files > 0; }
};

class CDiscScanner {
public:
    CDiscScanner();
    // The owner keeps the scanner alive until the final WM_SCAN_STATUS has
    // arrived; the worker never touches the scanner after sending it.
    ~CDiscScanner();
    CDiscScanner(const CDiscScanner&) = delete;
    CDiscScanner& operator=(const CDiscScanner&) = delete;

    void SetNotifyWindow(IMessageTarget* window) { notify_ = window; }
    // driveRoot is a drive root path of the drive layer. 1 when the worker was
    // started, else 0 with the last error text set.
    int StartScan(const std::string& driveRoot, const std::string& outputPath);
    // The same for a disc that lists itself (an image file); the scanner keeps the
    // source until its worker has ended. A source that cannot list the disc whole
    // ends the scan with SCAN_FAILED and the source's message.
    int StartScan(std::shared_ptr<IDiscSource> source, const std::string& outputPath);
    // Closes and opens the pause gate that the worker passes before each entry.
    void SuspendScan();
    void ResumeScan();
    // Raises the abort flag and returns at once; also opens the pause gate, so a
    // paused worker sees the flag.
    void AbortScan();

    int IsRunning() const { return running_.load(); }
    // Read by the owner after a failed StartScan or on the final status.
    // A copy: the worker hands its text over while the owner may be reading.
    std::string LastError() const {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return lastError_;
    }
    const IndexHeader& Header() const { return header_; }
    // What the last scan could not read; complete once its final status was sent.
    ScanUnreadable Unreadable() const {
        std::lock_guard<std::mutex> lock(errorMutex_);
        return unreadable_;
    }

    // Messages of the scanner, shown by its owners.
    static constexpr const char* kErrBusy = "程序正忙，请稍后再试!";
    static constexpr const char* kErrNotCdrom = "目标盘不是光盘!";
    static constexpr const char* kErrNoDisc = "驱动器中没有磁盘";
    static constexpr const char* kErrAborted = "任务己被用户中止";
    static constexpr const char* kErrCreate = "打开指定的文件时出错！";
    static constexpr const char* kErrWrite = "写入指定的文件时出错！";
    static constexpr const char* kErrTooLarge = "光盘内容太多，索引文件无法容纳！";

private:
    static void ScanThreadProc(CDiscScanner* self);
    void ListDirectoryInto(const std::string& path, ScanNodeId parent, CScanTree& tree,
                           ScanUnreadable& unreadable);
    int StartWorker(const std::string& driveRoot, const std::string& outputPath);
    void CountListedFile(uint64_t size);
    void PassGate();
    LRESULT Notify(uint32_t msg, WPARAM wParam, LPARAM lParam);

    std::atomic<int> running_{0};
    std::atomic<int> abort_{0};
    // True from StartScan until the worker is about to send its final status: an
    // aborted scan that is still saving keeps the scanner busy.
    std::atomic<bool> workerActive_{false};
    IMessageTarget* notify_ = nullptr;
    std::string driveRoot_;
    std::string outputPath_;
    std::shared_ptr<IDiscSource> source_;  // null when a drive is listed
    // Scanning onto an existing index replaces it on purpose; a new name is never
    // allowed to replace a file that appears meanwhile.
    bool outputExisted_ = false;
    ScanSizeProgress sizeProgress_;
    ScanWriteProgress writeProgress_;
    int sizePercentSent_ = -1;  // the last percentages sent, -1 before the first
    int writePercentSent_ = -1;
    IndexHeader header_;
    uint32_t clusterSize_ = 0;
    void SetError(const char* text) {
        std::lock_guard<std::mutex> lock(errorMutex_);
        lastError_ = text;
    }
    mutable std::mutex errorMutex_;
    std::string lastError_;
    ScanUnreadable unreadable_;

    std::atomic<bool> paused_{false};
    std::mutex gateMutex_;
    std::condition_variable gateCv_;
};

// Runs one scan for a caller without a window (the command line, benchmarks):
// starts it, hands every message to onMessage on the worker, and waits for the
// final status while polling stopRequested (a true answer aborts the listing).
// Returns the final status, or 0 when StartScan refused (LastError says why).
WPARAM RunScanToEnd(CDiscScanner& scanner, const std::string& driveRoot,
                    const std::string& outputPath,
                    const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage = {},
                    const std::function<bool()>& stopRequested = {});
// The same for a disc that lists itself.
WPARAM RunScanToEnd(CDiscScanner& scanner, std::shared_ptr<IDiscSource> source,
                    const std::string& outputPath,
                    const std::function<void(uint32_t, WPARAM, LPARAM)>& onMessage = {},
                    const std::function<bool()>& stopRequested = {});

}  // namespace orb
