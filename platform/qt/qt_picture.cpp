// SPDX-License-Identifier: GPL-3.0-or-later
// Cover pictures decoded by QtGui's image reader, from bytes read without ever
// blocking on a FIFO or a device named like a picture.
#include "platform/qt/qt_picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "platform/files.h"

namespace orb {

namespace {
// A cover of more than this is not one; refusing it keeps memory bounded.
constexpr size_t kMaxPictureBytes = size_t{64} << 20;
}  // namespace

std::unique_ptr<IPicture> CQtPictureDecoder::Decode(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, kMaxPictureBytes)) return nullptr;
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format().toLower();
    if (format != "jpeg" && format != "jpg" && format != "gif" && format != "bmp" &&
        format != "png")
        return nullptr;
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    return std::make_unique<CQtPicture>(std::move(image));
}

void InstallQtPictureDecoder() {
    SetPictureDecoder(std::make_shared<CQtPictureDecoder>());
}

}  // namespace orb
