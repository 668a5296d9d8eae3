// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the tests: scratch directories, byte builders, recording targets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orb::test {

// A fresh directory under the temporary directory, removed with its contents when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Little-endian byte builder for hand-made expected files.
class Bytes {
public:
    Bytes& u8(uint8_t v);
    Bytes& u32(uint32_t v);
    Bytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Bytes& u64(uint64_t v);
    Bytes& str(const std::string& s);
    Bytes& zeros(size_t n);
    // Text in a fixed field of n bytes, zero padded.
    Bytes& fixed(const std::string& s, size_t n);
    const std::string& data() const { return data_; }
    size_t size() const { return data_.size(); }

private:
    std::string data_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);

}  // namespace orb::test
