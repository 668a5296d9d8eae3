// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/disc_image.h"

#include "image/iso_reader.h"
#include "image/udf_reader.h"

namespace orb {

CDiscImage::CDiscImage() = default;
CDiscImage::~CDiscImage() = default;

bool CDiscImage::Open(const std::string& path, std::string& error) {
    udf_.reset();
    rootFiles_.clear();
    usedUdf_ = false;
    if (!image_.Open(path, error)) return false;
    if (!ReadVolumeInfo(image_, info_)) {
        error = "不是光盘映象文件 (没有ISO 9660或UDF文件系统)";
        return false;
    }
    if (info_.udf) {
        auto udf = std::make_unique<CUdfVolume>();
        std::string udfError;
        if (udf->Open(image_, udfError)) {
            udf_ = std::move(udf);
        } else if (!info_.iso) {
            error = udfError;
            return false;
        }
    }
    const uint64_t wholeSectors = image_.LogicalSize() / kImageSectorSize * kImageSectorSize;
    if (info_.iso) {
        label_ = info_.joliet && !info_.jolietLabel.empty() ? info_.jolietLabel : info_.isoLabel;
        capacity_ = info_.isoVolumeBytes ? info_.isoVolumeBytes : wholeSectors;
    } else {
        label_ = udf_->StoredLabel();
        capacity_ = wholeSectors;
    }
    return true;
}

bool CDiscImage::List(CScanTree& tree, const DiscListObserver& observer, std::string& error) {
    tree.Clear();
    rootFiles_.clear();
    usedUdf_ = false;
    if (!image_.IsOpen()) {
        error = "映象文件没有打开";
        return false;
    }
    if (udf_ && !info_.iso) {
        if (!udf_->ReadTree(tree, observer, error)) return false;
        usedUdf_ = true;
    } else {
        CScanTree udfTree;
        bool haveUdf = false;
        if (udf_) {
            // Only for the stop: the collect bar follows the ISO 9660 tree.
            std::string udfError;
            haveUdf = udf_->ReadTree(
                udfTree, [&](bool, uint64_t) { return !observer || observer(true, 0); }, udfError);
            if (!haveUdf && observer && !observer(true, 0)) {
                error = udfError;
                return false;
            }
        }
        if (!ReadIsoTree(image_, info_, tree, observer, error)) return false;
        if (haveUdf && udfTree.Size() > tree.Size()) {
            tree = std::move(udfTree);
            usedUdf_ = true;
        }
    }
    for (ScanNodeId id = tree.Head(); id != kNoNode; id = tree.Node(id).nextSibling)
        if (!tree.Node(id).item.IsDirectory()) rootFiles_.emplace_back(tree.Name(id));
    return true;
}

bool CDiscImage::ReadRootFile(const std::string& storedName, size_t maxBytes, std::string& out) {
    if (usedUdf_) return udf_ && udf_->ReadRootFile(storedName, maxBytes, out);
    return ReadIsoFile(image_, info_, storedName, maxBytes, out);
}

bool IsDiscImageFile(const std::string& path) {
    CImageFile image;
    std::string error;
    if (!image.Open(path, error)) return false;
    VolumeInfo info;
    return ReadVolumeInfo(image, info);
}

}  // namespace orb
