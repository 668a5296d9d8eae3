// SPDX-License-Identifier: GPL-3.0-or-later
// Little-endian numbers in byte buffers, independent of the host's byte order:
// every stored format of the program (indexes, companions, favorite.dat) uses them.
#pragma once

#include <cstdint>

namespace orb {

inline void PutLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline uint32_t GetLE32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLE64(unsigned char* p, uint64_t v) {
    PutLE32(p, static_cast<uint32_t>(v));
    PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint64_t GetLE64(const unsigned char* p) {
    return uint64_t(GetLE32(p)) | (uint64_t(GetLE32(p + 4)) << 32);
}

}  // namespace orb
