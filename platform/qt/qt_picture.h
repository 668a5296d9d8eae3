// SPDX-License-Identifier: GPL-3.0-or-later
// Cover pictures decoded by QtGui's image reader.
#pragma once

#include <QImage>

#include "platform/picture.h"

namespace orb {

class CQtPicture : public IPicture {
public:
    explicit CQtPicture(QImage image) : image_(std::move(image)) {}
    int Width() const override { return image_.width(); }
    int Height() const override { return image_.height(); }
    const QImage& Image() const { return image_; }

private:
    QImage image_;
};

class CQtPictureDecoder : public IPictureDecoder {
public:
    std::unique_ptr<IPicture> Decode(const std::string& path) override;
};

// Installs the Qt decoder as the engine's picture decoder.
void InstallQtPictureDecoder();

}  // namespace orb
