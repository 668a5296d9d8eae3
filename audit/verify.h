// SPDX-License-Identifier: GPL-3.0-or-later
// Verifying a disc against its index: the index and the disc are walked side by
// side and every entry is reported as identical, changed, missing, new or
// unreadable. Read-only on both sides.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "audit/disc_source.h"
#include "index/index_reader.h"

namespace orb {

enum class VerifyKind : uint8_t {
    Identical,    // name, size and time as catalogued
    ChangedSize,  // size differs (the time may differ as well)
    ChangedTime,  // same size, another time
    Missing,      // in the index, not on the disc
    New,          // on the disc, not in the index
    Unreadable,   // could not be listed, opened or read to the end
};
constexpr int kVerifyKindCount = 6;

// Stable English word of a kind, for reports and scripts ("identical", ...).
const char* VerifyKindWord(VerifyKind kind);
// The Chinese text the window shows.
const char* VerifyKindText(VerifyKind kind);

struct VerifyItem {
    VerifyKind kind = VerifyKind::Identical;
    // Stored path relative to the disc root, '\' between components; a directory
    // ends with '\'.
    std::string path;
    bool isDirectory = false;
    bool inIndex = false;  // the index side below is set
    bool onDisc = false;   // the disc side below is set
    uint64_t indexSize = 0;
    FILETIME indexTime;
    uint64_t discSize = 0;
    FILETIME discTime;
    // Unreadable: the system's reason and, for a read, where it failed.
    std::string error;
    uint64_t errorOffset = 0;
};

struct VerifyOptions {
    bool full = false;                 // read every file's data to the end
    int retries = 3;                   // further attempts at a failing read
    size_t blockSize = 1u << 20;       // large reads, so an optical drive streams
    int64_t timeToleranceSeconds = 2;  // FAT keeps times in steps of two seconds
};

struct VerifyProgress {
    uint64_t doneBytes = 0;
    uint64_t totalBytes = 0;  // the catalogued size of every file
    uint64_t entries = 0;     // entries reported so far
};

class IVerifyListener {
public:
    virtual ~IVerifyListener() = default;
    virtual void OnItem(const VerifyItem& item) = 0;
    // At most once per thousandth of the total, and once at the end.
    virtual void OnProgress(const VerifyProgress& progress) = 0;
};

struct VerifySummary {
    uint64_t counts[kVerifyKindCount] = {};
    bool stopped = false;
    uint64_t bytesRead = 0;
    uint64_t Count(VerifyKind k) const { return counts[static_cast<int>(k)]; }
    bool AllIdentical() const;
};

// Walks reader's open index and the disc side by side in the disc's own order,
// depth first. A directory missing from one side is reported once, not with its
// contents. Directories are compared by presence only: their sizes and times are
// the file system's, not the catalogue's. stop is polled between entries and reads.
VerifySummary VerifyDisc(CIndexReader& reader, IVerifySource& disc, const VerifyOptions& options,
                         IVerifyListener& listener, const std::atomic<bool>* stop = nullptr);

// The root of the first CD drive that holds the open index's disc (label and
// capacity as catalogued); empty when no drive does.
std::string FindDriveHoldingDisc(const CIndexReader& reader);

// Seconds left at the rate so far; -1 while there is nothing to go on.
int64_t EstimateSecondsLeft(uint64_t doneBytes, uint64_t totalBytes, double elapsedSeconds);

}  // namespace orb
