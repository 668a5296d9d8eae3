// SPDX-License-Identifier: GPL-3.0-or-later
// The directory tree of an ISO 9660 image (Rock Ridge names first, then Joliet,
// then the plain identifiers), read with libarchive without touching file data.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "image/image_file.h"
#include "image/volume_info.h"
#include "index/disc_source.h"

namespace orb {

// Most entries an image may hold: more is refused rather than filling memory.
constexpr size_t kMaxImageEntries = 2'000'000;

// The bytes of a "readme.txt" (any letter case) in the root, read while listing:
// the disc's remark when the user asks for one.
struct ReadmeCapture {
    size_t maxBytes = 0;  // 0: not wanted
    bool found = false;
    bool truncated = false;  // the file holds more than maxBytes
    std::string bytes;
    static bool Matches(std::string_view storedName);
    // Keeps what read gives (bytes read, 0 at the end, negative on an error).
    void Take(const std::function<long(char*, size_t)>& read);
};

// Which names the reader found on the image.
enum class IsoNames { Plain, Joliet, RockRidge };

// Fills tree with the image's entries. The El Torito boot catalogue is left out;
// a file stored in several extents is one entry. False with a message when the
// image is damaged, too large or the observer stopped.
class IImageFileData;

// File data of an ISO 9660 image by stored path (as ReadIsoTree names them).
// libarchive hands files over in the order of their data, one after another, so
// reading a file that lies before the current one starts the image over: a
// reader that asks in directory order mostly goes forward.
class CIsoFiles {
public:
    CIsoFiles(CImageFile& image, const VolumeInfo& info);
    ~CIsoFiles();
    CIsoFiles(const CIsoFiles&) = delete;
    CIsoFiles& operator=(const CIsoFiles&) = delete;
    // The image must outlive the returned object as well as this one.
    static std::unique_ptr<IImageFileData> Open(const std::shared_ptr<CIsoFiles>& files,
                                                const std::string& storedPath, std::string& error);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

bool ReadIsoTree(CImageFile& image, const VolumeInfo& info, CScanTree& tree,
                 const DiscListObserver& observer, std::string& error,
                 ReadmeCapture* readme = nullptr, IsoNames* names = nullptr);

}  // namespace orb
