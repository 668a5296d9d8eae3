// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error_text.h"
#include "platform/files.h"

namespace orb {

namespace {
constexpr uint32_t kRawSectorSize = 2352;
constexpr uint64_t kFirstDescriptor = 16;
const unsigned char kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
}  // namespace

bool IsVolumeDescriptorId(const unsigned char* s) {
    static const char* const kIds[] = {"CD001", "BEA01", "NSR02", "NSR03", "TEA01", "BOOT2"};
    for (const char* id : kIds)
        if (std::memcmp(s + 1, id, 5) == 0) return true;
    return false;
}

CImageFile::~CImageFile() {
    Close();
}

void CImageFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool CImageFile::Open(const std::string& path, std::string& error) {
    Close();
    bytesRead_ = 0;
    fd_ = OpenRegularFile(path, false);
    if (fd_ < 0) {
        error = std::string("无法打开映象文件: ") + ErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error = std::string("无法打开映象文件: ") + ErrorText(errno);
        Close();
        return false;
    }
    fileSize_ = static_cast<uint64_t>(st.st_size);
    unsigned char sector[kImageSectorSize];
    // Plain 2048-byte sectors first, then raw sectors of mode 1 (16-byte header)
    // and of mode 2 form 1 (24 bytes: header and subheader).
    rawSize_ = 0;
    rawHeader_ = 0;
    logicalSize_ = fileSize_;
    if (ReadPhysical(kFirstDescriptor * kImageSectorSize, sector, sizeof sector) == sizeof sector &&
        IsVolumeDescriptorId(sector))
        return true;
    for (uint32_t header : {16u, 24u}) {
        const uint64_t at = kFirstDescriptor * kRawSectorSize;
        unsigned char sync[12];
        if (ReadPhysical(at, sync, sizeof sync) != sizeof sync ||
            std::memcmp(sync, kSync, sizeof sync) != 0)
            break;
        if (ReadPhysical(at + header, sector, sizeof sector) == sizeof sector &&
            IsVolumeDescriptorId(sector)) {
            rawSize_ = kRawSectorSize;
            rawHeader_ = header;
            logicalSize_ = fileSize_ / kRawSectorSize * kImageSectorSize;
            return true;
        }
    }
    error = "不是光盘映象文件 (第16扇区没有卷描述符)";
    Close();
    return false;
}

size_t CImageFile::ReadPhysical(uint64_t offset, void* buf, size_t n) {
    size_t done = 0;
    auto* out = static_cast<unsigned char*>(buf);
    while (done < n) {
        ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += static_cast<size_t>(r);
    }
    bytesRead_ += done;
    return done;
}

size_t CImageFile::ReadAt(uint64_t offset, void* buf, size_t n) {
    if (fd_ < 0 || offset >= logicalSize_) return 0;
    if (n > logicalSize_ - offset) n = static_cast<size_t>(logicalSize_ - offset);
    if (rawSize_ == 0) return ReadPhysical(offset, buf, n);
    size_t done = 0;
    auto* out = static_cast<unsigned char*>(buf);
    while (done < n) {
        const uint64_t pos = offset + done;
        const uint64_t sector = pos / kImageSectorSize;
        const uint32_t within = static_cast<uint32_t>(pos % kImageSectorSize);
        const size_t take = std::min<size_t>(n - done, kImageSectorSize - within);
        const size_t got = ReadPhysical(sector * rawSize_ + rawHeader_ + within, out + done, take);
        done += got;
        if (got != take) break;
    }
    return done;
}

}  // namespace orb
