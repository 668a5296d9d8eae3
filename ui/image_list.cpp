// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/image_list.h"

#include <QPainter>

#include "ui/control_rules.h"
#include "ui/qt_geometry.h"

namespace orb {

QImage ApplyMaskColor(const QImage& strip, const QColor& mask) {
    QImage out = strip.convertToFormat(QImage::Format_ARGB32);
    if (!mask.isValid()) return out;
    const QRgb key = mask.rgb() & 0x00FFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((line[x] & 0x00FFFFFF) == key) line[x] = 0;
        }
    }
    return out;
}

int CImageList::AddStrip(const QImage& strip, const QColor& mask, int imageWidth) {
    if (strip.isNull()) return -1;
    if (size_.isEmpty()) size_ = QSize(imageWidth, strip.height());
    const QImage masked = ApplyMaskColor(strip, mask);
    const int first = Count();
    for (const UiRect& r : StripImageRects(strip.width(), size_.height(), size_.width())) {
        // A strip lower than the list leaves the rest of each image transparent.
        QImage piece(size_, QImage::Format_ARGB32);
        piece.fill(Qt::transparent);
        QPainter p(&piece);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QPoint(0, 0), masked, ToQRect(r));
        p.end();
        images_.push_back(QPixmap::fromImage(piece));
    }
    return Count() > first ? first : -1;
}

int CImageList::Add(const QPixmap& image) {
    if (image.isNull()) return -1;
    if (size_.isEmpty()) size_ = image.size();
    images_.push_back(image.size() == size_
                          ? image
                          : image.scaled(size_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return Count() - 1;
}

QPixmap CImageList::Pixmap(int index) const {
    if (index < 0 || index >= Count()) return QPixmap();
    return images_[index];
}

QIcon CImageList::Icon(int index) const {
    QPixmap pixmap = Pixmap(index);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

bool CImageList::Draw(QPainter& painter, int index, const QPoint& topLeft) const {
    if (index < 0 || index >= Count()) return false;
    painter.drawPixmap(topLeft, images_[index]);
    return true;
}

}  // namespace orb
