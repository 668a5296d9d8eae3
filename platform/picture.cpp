// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/picture.h"

#include <cstdint>
#include <mutex>

#include "platform/files.h"
#include "platform/le_bytes.h"

namespace orb {

namespace {

class SizeOnlyPicture : public IPicture {
public:
    SizeOnlyPicture(int w, int h) : w_(w), h_(h) {}
    int Width() const override { return w_; }
    int Height() const override { return h_; }

private:
    int w_, h_;
};

uint32_t Be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t Be16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

class HeaderDecoder : public IPictureDecoder {
public:
    std::unique_ptr<IPicture> Decode(const std::string& path) override {
        return DecodePictureHeader(path);
    }
};

std::mutex g_mutex;
std::shared_ptr<IPictureDecoder> g_decoder;

}  // namespace

std::unique_ptr<IPicture> DecodePictureHeader(const std::string& path) {
    std::string data;
    if (!ReadWholeFile(path, data, 64u << 20)) return nullptr;
    return DecodePictureHeaderBytes(data);
}

std::unique_ptr<IPicture> DecodePictureHeaderBytes(std::string_view data) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = data.size();
    auto make = [](long w, long h) -> std::unique_ptr<IPicture> {
        if (w <= 0 || h <= 0 || w > 65535 || h > 65535) return nullptr;
        return std::make_unique<SizeOnlyPicture>(static_cast<int>(w), static_cast<int>(h));
    };
    if (n >= 24 && data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0)
        return make(Be32(p + 16), Be32(p + 20));
    if (n >= 10 && (data.compare(0, 6, "GIF87a") == 0 || data.compare(0, 6, "GIF89a") == 0))
        return make(Le16(p + 6), Le16(p + 8));
    if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
        int32_t h = static_cast<int32_t>(GetLE32(p + 22));
        return make(static_cast<int32_t>(GetLE32(p + 18)), h < 0 ? -static_cast<long>(h) : h);
    }
    if (n >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
        size_t i = 2;
        while (i + 9 < n) {
            if (p[i] != 0xFF) return nullptr;
            unsigned char m = p[i + 1];
            if (m == 0xFF) {
                ++i;
                continue;
            }
            size_t len = Be16(p + i + 2);
            if ((m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC)
                return make(Be16(p + i + 7), Be16(p + i + 5));
            if (len < 2) return nullptr;
            i += 2 + len;
        }
    }
    return nullptr;
}

IPictureDecoder& PictureDecoder() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_decoder) g_decoder = std::make_shared<HeaderDecoder>();
    return *g_decoder;
}

void SetPictureDecoder(std::shared_ptr<IPictureDecoder> decoder) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_decoder = std::move(decoder);
}

}  // namespace orb
