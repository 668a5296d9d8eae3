// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: picture headers (PNG, GIF, BMP, JPEG) as the engine's decoder
// reads them from a cover or a picture file.
#include "fuzz/fuzz_support.h"
#include "platform/picture.h"

using namespace orb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<IPicture> pic = DecodePictureHeaderBytes(bytes);
    if (pic) {
        FUZZ_CHECK(pic->Width() > 0 && pic->Width() <= 65535);
        FUZZ_CHECK(pic->Height() > 0 && pic->Height() <= 65535);
    }
    return 0;
}
