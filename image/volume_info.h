// SPDX-License-Identifier: GPL-3.0-or-later
// What the volume descriptors from sector 16 on say about an image: which file
// systems it holds, the ISO 9660 label and volume size, the El Torito catalogue.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_file.h"

namespace orb {

struct VolumeInfo {
    bool iso = false;             // a primary volume descriptor
    bool joliet = false;          // a Joliet supplementary volume descriptor
    bool udf = false;             // NSR02 or NSR03 in the recognition sequence
    std::string isoLabel;         // primary volume identifier: its bytes, trailing blanks cut
    std::string jolietLabel;      // Joliet volume identifier as stored text
    uint64_t isoVolumeBytes = 0;  // volume space size × logical block size
    uint32_t isoBlockSize = kImageSectorSize;
    int64_t bootCatalogSector = -1;  // El Torito boot catalogue, -1 when none
};

// Reads the descriptors (at most a fixed number of sectors). False when there
// is neither ISO 9660 nor UDF.
bool ReadVolumeInfo(CImageFile& image, VolumeInfo& info);

// A fixed-size, space-padded identifier of 16-bit big-endian characters (Joliet)
// as stored text; lone surrogates become U+FFFD.
std::string Ucs2BeToStored(const unsigned char* p, size_t bytes);

}  // namespace orb
