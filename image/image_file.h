// SPDX-License-Identifier: GPL-3.0-or-later
// An image file read as a run of 2048-byte logical sectors, also when it holds
// raw 2352-byte CD sectors (a .bin of a data track). Counts the bytes it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orb {

constexpr uint32_t kImageSectorSize = 2048;

class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // Opens a regular file (never a FIFO or device) and finds its sector layout
    // from the volume descriptors at sector 16. False with a message otherwise.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Bytes of user data: whole logical sectors (raw images) or the file's size.
    uint64_t LogicalSize() const { return logicalSize_; }
    uint64_t FileSize() const { return fileSize_; }
    bool IsRawSectors() const { return rawSize_ != 0; }

    // Reads up to n bytes at a logical offset; returns how many were read (0 at
    // the end or on an error).
    size_t ReadAt(uint64_t offset, void* buf, size_t n);
    // Exactly n bytes or false.
    bool ReadFullyAt(uint64_t offset, void* buf, size_t n) { return ReadAt(offset, buf, n) == n; }

    uint64_t BytesRead() const { return bytesRead_; }

private:
    size_t ReadPhysical(uint64_t offset, void* buf, size_t n);

    int fd_ = -1;
    uint64_t fileSize_ = 0;
    uint64_t logicalSize_ = 0;
    uint32_t rawSize_ = 0;    // 2352 for raw sectors, 0 for plain 2048-byte sectors
    uint32_t rawHeader_ = 0;  // bytes before the user data in a raw sector
    uint64_t bytesRead_ = 0;
};

// True when a logical sector (2048 bytes) is a volume descriptor of ISO 9660 or
// of the UDF volume recognition sequence.
bool IsVolumeDescriptorId(const unsigned char* sector);

}  // namespace orb
