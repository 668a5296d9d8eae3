// SPDX-License-Identifier: GPL-3.0-or-later
#include "audit/verify.h"

#include <memory>
#include <unordered_map>
#include <vector>

#include "audit/index_walk.h"
#include "platform/drives.h"
#include "platform/text.h"

namespace orb {

namespace {

class CVerifier {
public:
    CVerifier(CIndexReader& reader, IVerifySource& disc, const VerifyOptions& options,
              IVerifyListener& listener, const std::atomic<bool>* stop)
        : reader_(reader), disc_(disc), options_(options), listener_(listener), stop_(stop) {
        if (options_.blockSize == 0) options_.blockSize = 1u << 20;
        if (options_.retries < 0) options_.retries = 0;
    }

    VerifySummary Run() {
        budget_ = reader_.MaxEntryCount();
        WalkIndex(
            reader_,
            [&](const IndexEntry& e, int32_t, const std::string&) {
                if (!e.IsDirectory()) progress_.totalBytes += e.Size();
                return true;
            },
            stop_);
        Progress(true);
        VerifyLevel(nullptr, "", "");
        summary_.stopped = Stopped();
        Progress(true);
        return summary_;
    }

private:
    bool Stopped() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    void Report(VerifyItem& item) {
        ++summary_.counts[static_cast<int>(item.kind)];
        ++progress_.entries;
        listener_.OnItem(item);
    }

    void Progress(bool force) {
        if (progress_.doneBytes > progress_.totalBytes) progress_.totalBytes = progress_.doneBytes;
        const uint64_t permille =
            progress_.totalBytes == 0
                ? 1000
                : static_cast<uint64_t>(static_cast<unsigned __int128>(progress_.doneBytes) * 1000 /
                                        progress_.totalBytes);
        if (!force && permille == lastPermille_) return;
        lastPermille_ = permille;
        listener_.OnProgress(progress_);
    }

    void AddDone(uint64_t bytes) {
        progress_.doneBytes += bytes;
        Progress(false);
    }

    // The catalogued bytes below an index directory that will not be read.
    uint64_t SubtreeBytes(const IndexEntry& dir) {
        uint64_t sum = 0;
        std::vector<IndexEntry> pending{dir};
        while (!pending.empty() && budget_ > 0) {
            IndexEntry d = pending.back();
            pending.pop_back();
            for (IdentifiedEntry& c : ListIndexLevel(reader_, &d, budget_)) {
                --budget_;
                if (c.entry.IsDirectory())
                    pending.push_back(c.entry);
                else
                    sum += c.entry.Size();
            }
        }
        return sum;
    }

    void SetIndexSide(VerifyItem& item, const IndexEntry& e) {
        item.inIndex = true;
        item.indexSize = e.Size();
        item.indexTime = e.writeTime;
    }
    void SetDiscSide(VerifyItem& item, const DiscEntry& d) {
        item.onDisc = true;
        item.discSize = d.size;
        item.discTime = d.writeTime;
    }

    void ReportMissing(const IndexEntry& e, const std::string& storedDir) {
        VerifyItem item;
        item.kind = VerifyKind::Missing;
        item.isDirectory = e.IsDirectory();
        item.path = storedDir + std::string(e.Name()) + (item.isDirectory ? "\\" : "");
        SetIndexSide(item, e);
        Report(item);
        AddDone(item.isDirectory ? SubtreeBytes(e) : e.Size());
    }

    // Reads the whole file; false with the item's error set when it cannot be.
    bool ReadThrough(const std::string& relPath, VerifyItem& item) {
        std::string error;
        std::unique_ptr<IDiscFile> file = disc_.Open(relPath, error);
        if (!file) {
            item.error = error;
            return false;
        }
        if (buffer_.size() < options_.blockSize) buffer_.resize(options_.blockSize);
        uint64_t offset = 0;
        for (;;) {
            if (Stopped()) return true;
            int64_t n = -1;
            for (int attempt = 0; attempt <= options_.retries && n < 0; ++attempt)
                n = file->Read(buffer_.data(), buffer_.size(), offset, error);
            if (n < 0) {
                item.error = error;
                item.errorOffset = offset;
                return false;
            }
            if (n == 0) return true;
            offset += static_cast<uint64_t>(n);
            summary_.bytesRead += static_cast<uint64_t>(n);
            AddDone(static_cast<uint64_t>(n));
        }
    }

    bool TimesMatch(const FILETIME& a, const FILETIME& b) const {
        const uint64_t x = FileTimeToU64(a), y = FileTimeToU64(b);
        const uint64_t diff = x > y ? x - y : y - x;
        return diff <= static_cast<uint64_t>(options_.timeToleranceSeconds) * 10000000ull;
    }

    void VerifyFile(const IndexEntry* indexed, const DiscEntry& d, const std::string& relPath,
                    const std::string& storedPath) {
        VerifyItem item;
        item.path = storedPath;
        SetDiscSide(item, d);
        if (indexed) SetIndexSide(item, *indexed);
        bool readable = true;
        const uint64_t before = progress_.doneBytes;
        if (options_.full && !d.isSymlink) readable = ReadThrough(relPath, item);
        if (Stopped()) return;
        // What was not read still counts as done, so the bar reaches its end.
        const uint64_t expected = indexed ? indexed->Size() : 0;
        if (progress_.doneBytes - before < expected)
            AddDone(expected - (progress_.doneBytes - before));
        if (!readable)
            item.kind = VerifyKind::Unreadable;
        else if (!indexed)
            item.kind = VerifyKind::New;
        else if (indexed->Size() != d.size)
            item.kind = VerifyKind::ChangedSize;
        else if (!TimesMatch(indexed->writeTime, d.writeTime))
            item.kind = VerifyKind::ChangedTime;
        else
            item.kind = VerifyKind::Identical;
        Report(item);
    }

    void VerifyLevel(const IndexEntry* parent, const std::string& relDir,
                     const std::string& storedDir) {
        std::vector<IdentifiedEntry> indexed = ListIndexLevel(reader_, parent, budget_);
        budget_ -= std::min<uint64_t>(budget_, indexed.size());
        std::vector<DiscEntry> onDisc;
        std::string error;
        if (!disc_.List(relDir, onDisc, error)) {
            VerifyItem item;
            item.kind = VerifyKind::Unreadable;
            item.isDirectory = true;
            item.path = storedDir;
            item.error = error;
            item.inIndex = true;
            Report(item);
            for (const IdentifiedEntry& c : indexed)
                AddDone(c.entry.IsDirectory() ? SubtreeBytes(c.entry) : c.entry.Size());
            return;
        }
        std::unordered_multimap<std::string_view, size_t> byName;
        byName.reserve(indexed.size());
        for (size_t i = 0; i < indexed.size(); ++i) byName.emplace(indexed[i].entry.Name(), i);
        std::vector<bool> matched(indexed.size(), false);

        for (const DiscEntry& d : onDisc) {
            if (Stopped()) return;
            // The name as the scanner stores it, so the two sides compare as bytes.
            const std::string stored = d.stored.empty() ? HostToStored(d.name) : d.stored;
            const std::string_view key = CutAtCharBoundary(stored, kMaxNameBytes);
            const IndexEntry* hit = nullptr;
            auto [first, last] = byName.equal_range(key);
            for (auto it = first; it != last; ++it) {
                if (matched[it->second]) continue;
                matched[it->second] = true;
                hit = &indexed[it->second].entry;
                break;
            }
            const std::string relPath = relDir.empty() ? d.name : relDir + "/" + d.name;
            std::string storedPath = storedDir + std::string(key);
            if (hit && hit->IsDirectory() != d.isDirectory) {
                // A file became a directory or the other way round.
                ReportMissing(*hit, storedDir);
                hit = nullptr;
            }
            if (!d.isDirectory) {
                VerifyFile(hit, d, relPath, storedPath);
                continue;
            }
            VerifyItem item;
            item.isDirectory = true;
            item.path = storedPath + "\\";
            SetDiscSide(item, d);
            if (!hit) {
                item.kind = VerifyKind::New;
                Report(item);
                continue;
            }
            SetIndexSide(item, *hit);
            item.kind = VerifyKind::Identical;
            Report(item);
            const IndexEntry dir = *hit;
            VerifyLevel(&dir, relPath, item.path);
        }
        for (size_t i = 0; i < indexed.size(); ++i) {
            if (Stopped()) return;
            if (!matched[i]) ReportMissing(indexed[i].entry, storedDir);
        }
    }

    CIndexReader& reader_;
    IVerifySource& disc_;
    VerifyOptions options_;
    IVerifyListener& listener_;
    const std::atomic<bool>* stop_;
    VerifySummary summary_;
    VerifyProgress progress_;
    uint64_t lastPermille_ = UINT64_MAX;
    uint64_t budget_ = 0;
    std::vector<char> buffer_;
};

}  // namespace

const char* VerifyKindWord(VerifyKind kind) {
    switch (kind) {
        case VerifyKind::Identical:
            return "identical";
        case VerifyKind::ChangedSize:
            return "changed-size";
        case VerifyKind::ChangedTime:
            return "changed-time";
        case VerifyKind::Missing:
            return "missing";
        case VerifyKind::New:
            return "new";
        case VerifyKind::Unreadable:
            return "unreadable";
    }
    return "?";
}

const char* VerifyKindText(VerifyKind kind) {
    switch (kind) {
        case VerifyKind::Identical:
            return "相同";
        case VerifyKind::ChangedSize:
            return "大小改变";
        case VerifyKind::ChangedTime:
            return "时间改变";
        case VerifyKind::Missing:
            return "光盘上缺少";
        case VerifyKind::New:
            return "新增";
        case VerifyKind::Unreadable:
            return "无法读取";
    }
    return "?";
}

bool VerifySummary::AllIdentical() const {
    for (int k = 0; k < kVerifyKindCount; ++k)
        if (k != static_cast<int>(VerifyKind::Identical) && counts[k] != 0) return false;
    return !stopped;
}

VerifySummary VerifyDisc(CIndexReader& reader, IVerifySource& disc, const VerifyOptions& options,
                         IVerifyListener& listener, const std::atomic<bool>* stop) {
    CVerifier verifier(reader, disc, options, listener, stop);
    return verifier.Run();
}

std::string FindDriveHoldingDisc(const CIndexReader& reader) {
    for (const DriveInfo& d : Drives()->ListCdDrives())
        if (reader.DriveHoldsDisc(d.root)) return d.root;
    return {};
}

int64_t EstimateSecondsLeft(uint64_t doneBytes, uint64_t totalBytes, double elapsedSeconds) {
    if (doneBytes == 0 || elapsedSeconds <= 0) return -1;
    if (doneBytes >= totalBytes) return 0;
    const double rate = static_cast<double>(doneBytes) / elapsedSeconds;
    return static_cast<int64_t>(static_cast<double>(totalBytes - doneBytes) / rate + 0.5);
}

}  // namespace orb
