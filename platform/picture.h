// SPDX-License-Identifier: GPL-3.0-or-later
// Cover pictures: decoding a picture file into something a window can draw.
// The engine only needs to know whether a file decodes; the user interface
// reaches the decoded image through the concrete type of its decoder.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace orb {

class IPicture {
public:
    virtual ~IPicture() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
};

class IPictureDecoder {
public:
    virtual ~IPictureDecoder() = default;
    // Decodes a JPEG, GIF, BMP or PNG file; null when it does not decode.
    virtual std::unique_ptr<IPicture> Decode(const std::string& path) = 0;
};

// The decoder used by index readers. Without one installed a built-in decoder
// that only reads the sizes of the supported formats' headers is used, so the
// engine runs without any graphics library.
IPictureDecoder& PictureDecoder();
void SetPictureDecoder(std::shared_ptr<IPictureDecoder> decoder);

// The header-only decoder (PNG, GIF, BMP, JPEG sizes).
std::unique_ptr<IPicture> DecodePictureHeader(const std::string& path);
// The same over a picture file's bytes.
std::unique_ptr<IPicture> DecodePictureHeaderBytes(std::string_view data);

}  // namespace orb
