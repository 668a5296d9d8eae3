// SPDX-License-Identifier: GPL-3.0-or-later
// Command icons painted on a 16-unit grid.
#include "res/images/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace orb {

namespace {

const QColor kInk(60, 64, 72);

void Disc(QPainter& p, QRectF r) {
    p.setPen(QPen(kInk, 1));
    QRadialGradient g(r.center(), r.width() / 2);
    g.setColorAt(0, QColor(250, 250, 255));
    g.setColorAt(0.6, QColor(190, 205, 235));
    g.setColorAt(1, QColor(150, 170, 215));
    p.setBrush(g);
    p.drawEllipse(r);
    p.setBrush(Qt::white);
    const double h = r.width() / 5;
    p.drawEllipse(QRectF(r.center().x() - h / 2, r.center().y() - h / 2, h, h));
}

void Folder(QPainter& p, QRectF r) {
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(245, 205, 95));
    QPainterPath path;
    path.moveTo(r.left(), r.top() + 2);
    path.lineTo(r.left() + r.width() * 0.4, r.top() + 2);
    path.lineTo(r.left() + r.width() * 0.5, r.top() + 3.5);
    path.lineTo(r.right(), r.top() + 3.5);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
}

void Page(QPainter& p, QRectF r, QColor fill = Qt::white) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(fill);
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
}

void Star(QPainter& p, QPointF c, double outer, QColor fill) {
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double radius = (i % 2) ? outer * 0.45 : outer;
        const double a = -M_PI / 2 + i * M_PI / 5;
        star << QPointF(c.x() + radius * std::cos(a), c.y() + radius * std::sin(a));
    }
    p.setPen(QPen(QColor(170, 110, 0), 1));
    p.setBrush(fill);
    p.drawPolygon(star);
}

void Magnifier(QPainter& p) {
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    p.setPen(QPen(kInk, 1.3));
    p.setBrush(QColor(210, 235, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9.5, 9.5));
}

void Paint(QPainter& p, ToolIcon which) {
    switch (which) {
        case ToolIcon::NewDisc:
            Disc(p, QRectF(0.5, 2.5, 12, 12));
            p.setPen(QPen(QColor(0, 140, 40), 2));
            p.drawLine(QPointF(12.5, 1), QPointF(12.5, 8));
            p.drawLine(QPointF(9, 4.5), QPointF(16, 4.5));
            break;
        case ToolIcon::NewFromFolder:
            Folder(p, QRectF(0.5, 2.5, 14, 11));
            Disc(p, QRectF(7.5, 7.5, 8, 8));
            break;
        case ToolIcon::Open:
            Folder(p, QRectF(0.5, 3.5, 13, 11));
            p.setPen(QPen(QColor(0, 110, 200), 1.6));
            p.drawLine(QPointF(10, 1.5), QPointF(15, 1.5));
            p.drawLine(QPointF(15, 1.5), QPointF(15, 6));
            break;
        case ToolIcon::Cut:
            p.setPen(QPen(kInk, 1.2));
            p.drawLine(QPointF(4, 1), QPointF(10.5, 11));
            p.drawLine(QPointF(12, 1), QPointF(5.5, 11));
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(QColor(190, 30, 30), 1.4));
            p.drawEllipse(QRectF(1.5, 10.5, 4.5, 4.5));
            p.drawEllipse(QRectF(10, 10.5, 4.5, 4.5));
            break;
        case ToolIcon::Copy:
            Page(p, QRectF(1.5, 1.5, 8, 10), QColor(235, 240, 250));
            Page(p, QRectF(6.5, 4.5, 8, 10));
            break;
        case ToolIcon::Paste:
            p.setPen(QPen(QColor(110, 70, 30), 1));
            p.setBrush(QColor(200, 150, 90));
            p.drawRoundedRect(QRectF(1.5, 2.5, 10, 12), 1, 1);
            p.setBrush(QColor(170, 170, 170));
            p.drawRect(QRectF(4.5, 1.5, 4, 2.5));
            Page(p, QRectF(7.5, 6.5, 7.5, 8.5));
            break;
        case ToolIcon::Library:
            p.setPen(QPen(QColor(40, 70, 130), 1));
            p.setBrush(QColor(90, 130, 200));
            p.drawRect(QRectF(1.5, 3.5, 13, 11));
            p.setBrush(QColor(130, 170, 230));
            p.drawRect(QRectF(1.5, 1.5, 13, 2));
            Disc(p, QRectF(4, 5.5, 8, 8));
            break;
        case ToolIcon::Favorites:
            Star(p, QPointF(8, 8.5), 7.3, QColor(255, 205, 40));
            break;
        case ToolIcon::Search:
            Magnifier(p);
            break;
        case ToolIcon::Sync: {
            Disc(p, QRectF(3.5, 3.5, 9, 9));
            p.setPen(QPen(QColor(0, 140, 40), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(1, 1, 14, 14), 30 * 16, 120 * 16);
            p.drawArc(QRectF(1, 1, 14, 14), 210 * 16, 120 * 16);
            break;
        }
        case ToolIcon::Settings: {
            p.setPen(QPen(kInk, 1));
            p.setBrush(QColor(170, 175, 185));
            QPolygonF gear;
            for (int i = 0; i < 16; ++i) {
                const double radius = (i % 2) ? 5.2 : 7.2;
                const double a = i * M_PI / 8;
                gear << QPointF(8 + radius * std::cos(a), 8 + radius * std::sin(a));
            }
            p.drawPolygon(gear);
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
            break;
        }
        case ToolIcon::Manual:
            p.setPen(QPen(QColor(30, 80, 40), 1));
            p.setBrush(QColor(70, 150, 90));
            p.drawRect(QRectF(2.5, 1.5, 11, 13));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(4.5, 3.5, 7, 3));
            p.drawLine(QPointF(3.5, 12.5), QPointF(12.5, 12.5));
            break;
        case ToolIcon::About:
            p.setPen(QPen(QColor(20, 70, 160), 1));
            p.setBrush(QColor(60, 120, 220));
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setPen(QPen(Qt::white, 2));
            p.drawPoint(QPointF(8, 4.5));
            p.drawLine(QPointF(8, 7), QPointF(8, 12));
            break;
        case ToolIcon::Exit:
            p.setPen(QPen(QColor(110, 70, 30), 1));
            p.setBrush(QColor(190, 140, 80));
            p.drawRect(QRectF(1.5, 1.5, 8, 13));
            p.setPen(QPen(QColor(190, 30, 30), 1.8));
            p.drawLine(QPointF(7, 8), QPointF(15, 8));
            p.drawLine(QPointF(12, 5), QPointF(15, 8));
            p.drawLine(QPointF(12, 11), QPointF(15, 8));
            break;
        case ToolIcon::AppIcon:
            Disc(p, QRectF(0.5, 0.5, 15, 15));
            Star(p, QPointF(12, 12), 3.8, QColor(255, 205, 40));
            break;
    }
}

QPixmap Render(ToolIcon which, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    Paint(p, which);
    return pm;
}

}  // namespace

QIcon MakeToolIcon(ToolIcon which) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) icon.addPixmap(Render(which, size));
    return icon;
}

}  // namespace orb
