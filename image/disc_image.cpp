// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/disc_image.h"

#include "image/iso_reader.h"
#include "image/udf_reader.h"
#include "platform/text.h"

namespace orb {

CDiscImage::CDiscImage() = default;
CDiscImage::~CDiscImage() = default;

bool CDiscImage::Open(const std::string& path, std::string& error) {
    udf_.reset();
    readme_ = ReadmeCapture{};
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
    usedUdf_ = false;
    readme_ = ReadmeCapture{};
    readme_.maxBytes = readmeMax_;
    ReadmeCapture udfReadme = readme_;
    if (!image_.IsOpen()) {
        error = "映象文件没有打开";
        return false;
    }
    if (udf_ && !info_.iso) {
        if (!udf_->ReadTree(tree, observer, error, &readme_)) return false;
        usedUdf_ = true;
    } else {
        CScanTree udfTree;
        bool haveUdf = false;
        if (udf_) {
            // Only for the stop: the collect bar follows the ISO 9660 tree.
            std::string udfError;
            haveUdf = udf_->ReadTree(
                udfTree, [&](bool, uint64_t) { return !observer || observer(true, 0); }, udfError,
                &udfReadme);
            if (!haveUdf && observer && !observer(true, 0)) {
                error = udfError;
                return false;
            }
        }
        if (!ReadIsoTree(image_, info_, tree, observer, error, &readme_)) return false;
        if (haveUdf && udfTree.Size() > tree.Size()) {
            tree = std::move(udfTree);
            readme_ = std::move(udfReadme);
            usedUdf_ = true;
        }
    }
    return true;
}

std::unique_ptr<IImageFileData> CDiscImage::OpenFile(const std::string& storedPath,
                                                     std::string& error) {
    if (!image_.IsOpen()) {
        error = "映象文件没有打开";
        return nullptr;
    }
    if (usedUdf_) return udf_->OpenFile("/" + StoredToHost(storedPath), error);
    if (!isoFiles_) isoFiles_ = std::make_shared<CIsoFiles>(image_, info_);
    return CIsoFiles::Open(isoFiles_, storedPath, error);
}

bool IsDiscImageFile(const std::string& path, bool isoOnly) {
    CImageFile image;
    std::string error;
    if (!image.Open(path, error)) return false;
    VolumeInfo info;
    return ReadVolumeInfo(image, info) && (info.iso || !isoOnly);
}

bool AcceptsImageFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    const bool bin = dot != std::string::npos && path.find('/', dot) == std::string::npos &&
                     LowerAZCopy(path.substr(dot)) == ".bin";
    return IsDiscImageFile(path, bin);
}

}  // namespace orb
