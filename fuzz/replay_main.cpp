// SPDX-License-Identifier: GPL-3.0-or-later
// Replays a fuzz target over every file of the folders (or files) named on the
// command line, in name order, so the seeds and saved reproducers run as a plain
// test on any compiler.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto& e : fs::directory_iterator(argv[i], ec))
                if (e.is_regular_file()) files.push_back(e.path().string());
        } else if (fs::is_regular_file(argv[i], ec)) {
            files.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "no such seed folder or file: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    size_t replayed = 0;
    for (const std::string& f : files) {
        std::string data;
        if (!orb::ReadWholeFile(f, data)) {
            std::fprintf(stderr, "cannot read %s\n", f.c_str());
            return 2;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        ++replayed;
    }
    if (replayed == 0) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
