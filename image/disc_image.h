// SPDX-License-Identifier: GPL-3.0-or-later
// CDiscImage: an image file (ISO 9660 with Joliet and Rock Ridge, UDF, or a
// bridge of both) catalogued like a disc in a drive, reading only its directory
// structures.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/iso_reader.h"
#include "image/volume_info.h"
#include "index/disc_source.h"

namespace orb {

class CUdfVolume;
class CIsoFiles;

// The data of one file of an image, read from its start to its end.
class IImageFileData {
public:
    virtual ~IImageFileData() = default;
    // Up to n bytes at offset: the count read, 0 at the end, -1 on an error (error
    // then says why).
    virtual int64_t Read(void* buf, size_t n, uint64_t offset, std::string& error) = 0;
};

class CDiscImage : public IDiscSource {
public:
    CDiscImage();
    ~CDiscImage() override;

    // Opens the image and reads its volume descriptors. False with a message when
    // it is no disc image or cannot be read.
    bool Open(const std::string& path, std::string& error);

    std::string StoredLabel() const override { return label_; }
    uint64_t Capacity() const override { return capacity_; }
    uint32_t ClusterSize() const override { return kImageSectorSize; }
    // A bridge image gives its UDF tree when that holds more entries than its
    // ISO 9660 tree (as on DVD-Video), else the ISO 9660 tree.
    bool List(CScanTree& tree, const DiscListObserver& observer, std::string& error) override;

    // Asks the next List to keep at most maxBytes of a root "readme.txt" (0: none).
    void CaptureReadme(size_t maxBytes) { readmeMax_ = maxBytes; }
    // After a List: what it kept of the readme (found false when there was none).
    const ReadmeCapture& Readme() const { return readme_; }

    // After a List: the data of a file of the listed tree, by its stored path with
    // '/' between the names. Null, with error set, when it cannot be read.
    std::unique_ptr<IImageFileData> OpenFile(const std::string& storedPath, std::string& error);

    const VolumeInfo& Volume() const { return info_; }
    bool UsedUdfTree() const { return usedUdf_; }
    uint64_t BytesRead() const { return image_.BytesRead(); }
    uint64_t ImageSize() const { return image_.FileSize(); }

private:
    CImageFile image_;
    VolumeInfo info_;
    std::unique_ptr<CUdfVolume> udf_;      // when a UDF volume opened
    std::shared_ptr<CIsoFiles> isoFiles_;  // made by the first OpenFile of an ISO 9660 tree
    std::string label_;
    uint64_t capacity_ = 0;
    bool usedUdf_ = false;
    size_t readmeMax_ = 0;
    ReadmeCapture readme_;
};

// True when path is a regular file holding ISO 9660 or UDF volume descriptors at
// sector 16 (or the raw-sector equivalent): what makes a file a disc image,
// whatever its name. With isoOnly, UDF alone is not enough.
bool IsDiscImageFile(const std::string& path, bool isoOnly = false);
// The window's rule for a chosen or dropped file: an image by its content, and a
// "*.bin" (any letter case) only when it holds ISO 9660.
bool AcceptsImageFile(const std::string& path);

}  // namespace orb
