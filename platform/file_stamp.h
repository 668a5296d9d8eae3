// SPDX-License-Identifier: GPL-3.0-or-later
// What tells that a file was changed or replaced since it was last looked at.
#pragma once

#include <cstdint>
#include <string>

namespace orb {

// Device, inode, size and modification time; all zero for a missing file.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp StampOfFile(const std::string& path);

}  // namespace orb
