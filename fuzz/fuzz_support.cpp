// SPDX-License-Identifier: GPL-3.0-or-later
// Scratch files and input splitting for the fuzz targets.
#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/files.h"

namespace orb::fuzz {

namespace {
struct Scratch {
    std::string path;
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/orbfuzzXXXXXX";
        if (!mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};
}  // namespace

const std::string& ScratchDir() {
    static Scratch scratch;
    return scratch.path;
}

std::string ScratchPath(std::string_view name) {
    return ScratchDir() + "/" + std::string(name);
}

void PutFile(const std::string& path, std::string_view data) {
    ::unlink(path.c_str());
    if (!WriteWholeFile(path, data)) {
        std::perror(path.c_str());
        std::abort();
    }
}

std::string GetFile(const std::string& path) {
    std::string data;
    if (!ReadWholeFile(path, data)) data.clear();
    return data;
}

void RemoveFile(const std::string& path) {
    ::unlink(path.c_str());
}

std::string_view InputSplitter::Next() {
    if (size_ < 2) return Rest();
    size_t n = data_[0] | (size_t{data_[1]} << 8);
    data_ += 2;
    size_ -= 2;
    if (n > size_) n = size_;
    std::string_view part(reinterpret_cast<const char*>(data_), n);
    data_ += n;
    size_ -= n;
    return part;
}

std::string_view InputSplitter::Rest() {
    std::string_view part(reinterpret_cast<const char*>(data_), size_);
    data_ += size_;
    size_ = 0;
    return part;
}

uint8_t InputSplitter::Byte() {
    if (size_ == 0) return 0;
    uint8_t b = data_[0];
    ++data_;
    --size_;
    return b;
}

std::string JoinParts(std::initializer_list<std::string_view> parts, std::string_view rest) {
    std::string out;
    for (std::string_view p : parts) {
        size_t n = p.size() > 0xFFFF ? 0xFFFF : p.size();
        out.push_back(static_cast<char>(n & 0xFF));
        out.push_back(static_cast<char>(n >> 8));
        out.append(p.substr(0, n));
    }
    out.append(rest);
    return out;
}

}  // namespace orb::fuzz
