// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: a disc image file (ISO 9660 with Joliet and Rock Ridge, UDF, raw
// sectors) opened and listed as the scanner lists it.
#include "fuzz/fuzz_support.h"
#include "image/disc_image.h"
#include "image/iso_reader.h"

using namespace orb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::ScratchPath("image.iso");
    fuzz::PutFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
    CDiscImage image;
    std::string error;
    if (!image.Open(path, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    image.CaptureReadme(4096);
    CScanTree tree;
    size_t seen = 0;
    const bool ok = image.List(
        tree, [&](bool, uint64_t) { return ++seen <= kMaxImageEntries; }, error);
    FUZZ_CHECK(ok || !error.empty());
    FUZZ_CHECK(tree.Size() <= kMaxImageEntries);
    for (size_t i = 0; i < tree.Size(); ++i) FUZZ_CHECK(tree.Name(i).size() <= 255);
    FUZZ_CHECK(image.Readme().bytes.size() <= 4096);
    // Only directories are read: never the image's bulk of file data many times over.
    FUZZ_CHECK(image.BytesRead() <= 64 * (size + (1 << 20)));
    return 0;
}
