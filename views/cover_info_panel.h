// SPDX-License-Identifier: GPL-3.0-or-later
// CCoverInfoPanel: the library pane's cover page. It draws the cover of the disc
// whose index the given reader holds, fitted into the panel, with a small table of
// volume label, capacity and counts over it; a click shows the cover at its
// natural size in CCoverViewDlg.
#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>

namespace orb {

class CIndexReader;
class IPicture;

// The decoded cover of a reader as an image: the Qt decoder's own image, or the
// reader's cover copy decoded here when another decoder is installed. Null when
// the reader is closed or has no picture.
QImage CoverImageOf(const CIndexReader* reader);

class CCoverInfoPanel : public QWidget {
    Q_OBJECT
public:
    explicit CCoverInfoPanel(QWidget* parent = nullptr);

    // The reader whose disc is shown (nullptr or a closed reader: the empty
    // state). The panel does not own it; it rereads it on every paint, so after
    // the owner opened, closed or changed the cover an update() is enough.
    void ShowIndex(CIndexReader* reader);
    CIndexReader* Reader() const { return m_reader; }

    // The cover image shown now (null in the empty state and without a cover).
    QImage CurrentCover() const;

    QSize sizeHint() const override { return QSize(264, 200); }

signals:
    // The viewer was opened for a click (tests and the pane may listen).
    void coverViewerShown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CIndexReader* m_reader = nullptr;
    // The last decoded fallback image and the picture it belongs to.
    mutable const IPicture* m_cachedFor = nullptr;
    mutable QImage m_cached;
};

// A borderless window showing a cover at its natural size, centred on the
// screen; any mouse press closes it.
class CCoverViewDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCoverViewDlg(const QImage& image, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage m_image;
};

}  // namespace orb
