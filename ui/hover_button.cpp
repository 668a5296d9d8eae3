// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/hover_button.h"

#include <QImage>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "ui/control_rules.h"

namespace orb {

CHoverButton::CHoverButton(QWidget* parent) : QPushButton(parent) {
    setMouseTracking(true);
    // Nothing behind the image is erased: the parent shows through the transparent
    // parts.
    setAutoFillBackground(false);
}

bool CHoverButton::LoadStateImages(const QString& path, int imageWidth, const QColor& mask) {
    QImageReader reader(path);
    return LoadStateImages(reader.read(), imageWidth, mask);
}

bool CHoverButton::LoadStateImages(const QImage& strip, int imageWidth, const QColor& mask) {
    if (strip.isNull() || imageWidth <= 0) return false;
    images_ = CImageList(imageWidth, strip.height());
    images_.AddStrip(strip, mask);
    resize(imageWidth, strip.height());
    updateGeometry();
    update();
    return true;
}

int CHoverButton::CurrentImage() const {
    return HoverButtonImage(isDown(), !isEnabled(), hover_);
}

QSize CHoverButton::sizeHint() const {
    return images_.ImageSize().isEmpty() ? QPushButton::sizeHint() : images_.ImageSize();
}

void CHoverButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    images_.Draw(painter, CurrentImage(), QPoint(0, 0));
    // The images have no focused state: the keyboard's place is shown on top.
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void CHoverButton::StartHover() {
    if (tracking_) return;
    // The hover report comes after a millisecond's rest, so it is taken at once.
    tracking_ = true;
    hover_ = true;
    update();
}

void CHoverButton::mouseMoveEvent(QMouseEvent* event) {
    StartHover();
    QPushButton::mouseMoveEvent(event);
}

void CHoverButton::enterEvent(QEnterEvent* event) {
    StartHover();
    QPushButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
    tracking_ = false;
    hover_ = false;
    update();
    QPushButton::leaveEvent(event);
}

}  // namespace orb
