// SPDX-License-Identifier: GPL-3.0-or-later
// The directory tree of a UDF image (1.02 to 2.60, metadata partitions of BD-ROM
// included) read with libudfread; the modification times, which libudfread does
// not give, are decoded from the file entries it reads.
#pragma once

#include <memory>
#include <string>

#include "image/image_file.h"
#include "image/iso_reader.h"
#include "index/disc_source.h"

namespace orb {

class IImageFileData;

class CUdfVolume {
public:
    CUdfVolume();
    ~CUdfVolume();
    CUdfVolume(const CUdfVolume&) = delete;
    CUdfVolume& operator=(const CUdfVolume&) = delete;

    // Opens the UDF volume of an open image; the image must outlive this object.
    // False with a message for volumes libudfread refuses (among them the VAT
    // and sparable partitions of written-once and rewritable media).
    bool Open(CImageFile& image, std::string& error);
    // The logical volume identifier as stored text.
    std::string StoredLabel() const;
    // Fills tree; false with a message when damaged, too large or stopped.
    bool ReadTree(CScanTree& tree, const DiscListObserver& observer, std::string& error,
                  ReadmeCapture* readme = nullptr);

    // A file's data by its path from the root in UTF-8 ("/a/b.txt"); null, with
    // error set, when there is no such file.
    std::unique_ptr<IImageFileData> OpenFile(const std::string& utf8Path, std::string& error);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A UDF timestamp (ECMA-167 1/7.3, 12 bytes) as a FILETIME in UTC; a zero time
// when the fields are out of range.
FILETIME UdfTimestampToFileTime(const unsigned char* p);

}  // namespace orb
