// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the fuzz targets: a private scratch folder, whole-file reads
// and writes, and a check that stops the run loudly when an invariant breaks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace orb::fuzz {

// Unlike assert, kept in release builds: the replay tests run optimised.
#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

// A folder of this process under the temporary directory, made on first use and
// removed at exit.
const std::string& ScratchDir();
std::string ScratchPath(std::string_view name);

// Replaces path with exactly data; aborts when that fails (the disc is full or the
// folder gone: nothing a target could learn from).
void PutFile(const std::string& path, std::string_view data);
// The file's bytes; empty when it is missing.
std::string GetFile(const std::string& path);
void RemoveFile(const std::string& path);

// Splits a fuzz input into parts: each part but the last is a 16-bit little-endian
// length followed by that many bytes (cut at the input's end).
class InputSplitter {
public:
    InputSplitter(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::string_view Next();
    std::string_view Rest();
    uint8_t Byte();

private:
    const uint8_t* data_;
    size_t size_;
};

// Makes an input from parts the way InputSplitter reads them back.
std::string JoinParts(std::initializer_list<std::string_view> parts, std::string_view rest);

}  // namespace orb::fuzz
