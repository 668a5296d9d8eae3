// SPDX-License-Identifier: GPL-3.0-or-later
// A list of equally sized images drawn by index, as the tree, tab, panel and hover
// controls use them. Images are cut from horizontal strips whose mask colour becomes
// transparent.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QVector>

class QPainter;

namespace orb {

class CImageList {
public:
    CImageList() = default;
    CImageList(int width, int height) : size_(width, height) {}

    QSize ImageSize() const { return size_; }
    int Count() const { return static_cast<int>(images_.size()); }

    // Cuts the strip into images of this list's width and appends them; pixels of
    // the mask colour become transparent (an invalid colour keeps them). A list made
    // without a size takes the strip's height and the given width. Returns the index
    // of the first image added, -1 when none fits.
    int AddStrip(const QImage& strip, const QColor& mask, int imageWidth = 0);
    // Appends one image, scaled to the list's size when it differs.
    int Add(const QPixmap& image);

    QPixmap Pixmap(int index) const;
    QIcon Icon(int index) const;
    // Draws image `index` with its transparency at `topLeft`; false (drawing
    // nothing) for an index the list does not hold.
    bool Draw(QPainter& painter, int index, const QPoint& topLeft) const;

private:
    QSize size_;
    QVector<QPixmap> images_;
};

// The strip with every pixel of the mask colour made transparent.
QImage ApplyMaskColor(const QImage& strip, const QColor& mask);

}  // namespace orb
