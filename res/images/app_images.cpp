// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/images/app_images.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

namespace orb {

namespace {

// A plain drawn icon for styles that lack a standard one.
QIcon Drawn(int kind) {
    QPixmap pm(kAppImageSize, kAppImageSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
        case 0:  // disc
            p.setPen(QColor(90, 90, 110));
            p.setBrush(QColor(200, 210, 230));
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(6, 6, 4, 4));
            break;
        case 1:  // closed folder
        case 2:  // open folder
            p.setPen(QColor(150, 110, 20));
            p.setBrush(QColor(240, 200, 90));
            p.drawRect(QRectF(1.5, 4.5, 13, 9));
            p.drawRect(QRectF(1.5, 2.5, 5, 2));
            if (kind == 2) {
                p.setBrush(QColor(250, 225, 140));
                p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
            }
            break;
        case 3:  // software without a location
        case 4:  // software
            p.setPen(QColor(80, 80, 80));
            p.setBrush(kind == 4 ? QColor(120, 170, 240) : QColor(220, 220, 220));
            p.drawRect(QRectF(2.5, 2.5, 11, 11));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 4.5, 7, 2));
            break;
    }
    return QIcon(pm);
}

QIcon Standard(QStyle::StandardPixmap which, int fallback) {
    QIcon icon = QApplication::style() ? QApplication::style()->standardIcon(which) : QIcon();
    return icon.isNull() ? Drawn(fallback) : icon;
}

}  // namespace

QList<QIcon> AppImageList() {
    return {Standard(QStyle::SP_DriveCDIcon, 0), Standard(QStyle::SP_DirClosedIcon, 1),
            Standard(QStyle::SP_DirOpenIcon, 2)};
}

QList<QIcon> FavoriteImageList() {
    return {Standard(QStyle::SP_FileIcon, 3), Standard(QStyle::SP_FileLinkIcon, 4),
            Standard(QStyle::SP_DirClosedIcon, 1)};
}

}  // namespace orb
