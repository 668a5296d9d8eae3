// SPDX-License-Identifier: GPL-3.0-or-later
// A push button drawn from a strip of state images: idle, mouse resting over it,
// pressed and disabled.
#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

#include "ui/image_list.h"

class QImage;

namespace orb {

class CHoverButton : public QPushButton {
    Q_OBJECT
public:
    explicit CHoverButton(QWidget* parent = nullptr);

    // Cuts the strip (from a file or resource path, or an image) into state images
    // imageWidth wide and as high as the strip, with the mask colour transparent, and
    // sizes the button to one image without moving it. False when the strip could
    // not be loaded or imageWidth is not positive.
    bool LoadStateImages(const QString& path, int imageWidth, const QColor& mask);
    bool LoadStateImages(const QImage& strip, int imageWidth, const QColor& mask);

    // The state image drawn now (it may be missing from a short strip, then nothing
    // is drawn).
    int CurrentImage() const;
    bool IsHovering() const { return hover_; }
    const CImageList& StateImages() const { return images_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void StartHover();

    CImageList images_;
    bool hover_ = false;
    bool tracking_ = false;
};

}  // namespace orb
