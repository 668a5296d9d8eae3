// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/batch_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;

// Every read lands whole in its own buffer, more reads than the ring holds at
// once included; a read past the end is short, one of a closed file fails, as
// pread would have it.
TEST(BatchRead, EachReadLandsAsPreadWouldHaveIt) {
    TempDir dir;
    std::string bytes[2];
    int fds[2];
    for (int f = 0; f < 2; ++f) {
        for (int i = 0; i < 5000; ++i) bytes[f] += static_cast<char>((i * 7 + f * 13) % 251);
        const std::string path = dir.path() + "/f" + std::to_string(f);
        std::ofstream(path, std::ios::binary) << bytes[f];
        fds[f] = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fds[f], 0);
    }
    for (const size_t count : {size_t{1}, size_t{2}, size_t{700}}) {
        SCOPED_TRACE(count);
        std::vector<std::string> buffers(count, std::string(64, '\0'));
        std::vector<BatchRead> reads;
        for (size_t i = 0; i < count; ++i) {
            const int f = static_cast<int>(i % 2);
            reads.push_back({fds[f], (i * 37) % 4900, buffers[i].data(), 64, 0});
        }
        reads.back().offset = 4990;  // 10 bytes left
        if (count > 2) reads[count / 2].fd = 9999;
        ReadInBatch(reads);
        for (size_t i = 0; i < count; ++i) {
            const std::string& file = bytes[i % 2];
            if (count > 2 && i == count / 2) {
                EXPECT_EQ(reads[i].result, -EBADF);
                continue;
            }
            const size_t want = std::min<size_t>(64, file.size() - reads[i].offset);
            ASSERT_EQ(reads[i].result, static_cast<int64_t>(want)) << i;
            EXPECT_EQ(buffers[i].substr(0, want), file.substr(reads[i].offset, want)) << i;
        }
    }
    for (int fd : fds) ::close(fd);
}

}  // namespace
}  // namespace orb
