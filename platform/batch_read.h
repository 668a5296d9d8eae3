// SPDX-License-Identifier: GPL-3.0-or-later
// Many small reads from many files handed to the kernel at once (io_uring): a
// search that reads a few hundred bytes from each of thousands of files pays for
// one system call per batch instead of one per read.
#pragma once

#include <cstdint>
#include <vector>

namespace orb {

struct BatchRead {
    int fd = -1;
    uint64_t offset = 0;
    void* buffer = nullptr;
    uint32_t length = 0;
    // After ReadInBatch: the bytes read, or -errno.
    int64_t result = 0;
};

// Performs every read, each as pread would; where io_uring cannot be had (an old
// kernel, a sandbox that forbids it), by pread one after another.
void ReadInBatch(std::vector<BatchRead>& reads);

}  // namespace orb
