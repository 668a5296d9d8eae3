// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/volume_info.h"

#include <cstring>

#include "platform/text.h"

namespace orb {

namespace {

constexpr uint64_t kFirstDescriptor = 16;
// Recognition sequences are short; this bounds the walk on a hostile image.
constexpr uint64_t kMaxDescriptors = 64;

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string TrimBlanks(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

}  // namespace

std::string Ucs2BeToStored(const unsigned char* p, size_t bytes) {
    return HostToStored(TrimBlanks(Ucs2BeToUtf8(p, bytes)));
}

bool ReadVolumeInfo(CImageFile& image, VolumeInfo& info) {
    info = VolumeInfo{};
    unsigned char s[kImageSectorSize];
    for (uint64_t n = kFirstDescriptor; n < kFirstDescriptor + kMaxDescriptors; ++n) {
        if (!image.ReadFullyAt(n * kImageSectorSize, s, sizeof s) || !IsVolumeDescriptorId(s))
            break;
        if (std::memcmp(s + 1, "NSR02", 5) == 0 || std::memcmp(s + 1, "NSR03", 5) == 0) {
            info.udf = true;
            continue;
        }
        if (std::memcmp(s + 1, "CD001", 5) != 0) continue;
        const unsigned char type = s[0];
        if (type == 0 && std::memcmp(s + 7, "EL TORITO SPECIFICATION", 23) == 0) {
            info.bootCatalogSector = Le32(s + 0x47);
        } else if (type == 1 && !info.iso) {
            info.iso = true;
            info.isoLabel = TrimBlanks(std::string(reinterpret_cast<const char*>(s + 40), 32));
            const uint32_t blocks = Le32(s + 80);
            const uint32_t blockSize = s[128] | (s[129] << 8);
            // Only 2048-byte blocks are usable; anything else is a damaged descriptor.
            info.isoBlockSize = blockSize == kImageSectorSize ? blockSize : kImageSectorSize;
            info.isoVolumeBytes = static_cast<uint64_t>(blocks) * info.isoBlockSize;
        } else if (type == 2 && !info.joliet && s[88] == '%' && s[89] == '/' &&
                   (s[90] == '@' || s[90] == 'C' || s[90] == 'E')) {
            info.joliet = true;
            info.jolietLabel = Ucs2BeToStored(s + 40, 32);
        }
    }
    return info.iso || info.udf;
}

}  // namespace orb
