// SPDX-License-Identifier: GPL-3.0-or-later
// The directory tree of an ISO 9660 image (Rock Ridge names first, then Joliet,
// then the plain identifiers), read with libarchive without touching file data.
#pragma once

#include <string>

#include "image/image_file.h"
#include "image/volume_info.h"
#include "index/disc_source.h"

namespace orb {

// Most entries an image may hold: more is refused rather than filling memory.
constexpr size_t kMaxImageEntries = 2'000'000;

// Which names the reader found on the image.
enum class IsoNames { Plain, Joliet, RockRidge };

// Fills tree with the image's entries. The El Torito boot catalogue is left out;
// a file stored in several extents is one entry. False with a message when the
// image is damaged, too large or the observer stopped.
bool ReadIsoTree(CImageFile& image, const VolumeInfo& info, CScanTree& tree,
                 const DiscListObserver& observer, std::string& error, IsoNames* names = nullptr);

// Reads at most maxBytes of the file at a stored path ("dir/name") of the tree
// ReadIsoTree gives. False when there is no such file or it cannot be read.
bool ReadIsoFile(CImageFile& image, const VolumeInfo& info, const std::string& storedPath,
                 size_t maxBytes, std::string& out);

}  // namespace orb
