#include "platform/qt/qt_picture.h"

#include <QImageReader>

namespace orb {

std::unique_ptr<IPicture> CQtPictureDecoder::Decode(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
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
