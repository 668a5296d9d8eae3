// SPDX-License-Identifier: GPL-3.0-or-later
// The cover page of the library pane and its full-size cover viewer.
#include "views/cover_info_panel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "index/index_reader.h"
#include "platform/qt/qt_picture.h"
#include "platform/text.h"
#include "ui/ui_font.h"
#include "views/view_rules.h"

namespace orb {

namespace {

QRect ToQRect(const PicRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

}  // namespace

QImage CoverImageOf(const CIndexReader* reader) {
    if (!reader || !reader->IsOpen() || !reader->Picture()) return QImage();
    if (auto* qt = dynamic_cast<const CQtPicture*>(reader->Picture())) return qt->Image();
    return QImage(QString::fromStdString(reader->CoverTempPath()));
}

CCoverInfoPanel::CCoverInfoPanel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CCoverInfoPanel::ShowIndex(CIndexReader* reader) {
    m_reader = reader;
    m_cachedFor = nullptr;
    m_cached = QImage();
    update();
}

QImage CCoverInfoPanel::CurrentCover() const {
    if (!m_reader || !m_reader->IsOpen() || !m_reader->Picture()) return QImage();
    const IPicture* picture = m_reader->Picture();
    if (auto* qt = dynamic_cast<const CQtPicture*>(picture)) return qt->Image();
    // Another decoder is installed: decode the reader's cover copy once per picture.
    if (m_cachedFor != picture) {
        m_cached = CoverImageOf(m_reader);
        m_cachedFor = picture;
    }
    return m_cached;
}

void CCoverInfoPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect area = rect();
    p.fillRect(area, QColor(240, 240, 240));
    if (!m_reader || !m_reader->IsOpen()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("Kelvane光盘库"));
        return;
    }

    const QImage cover = CurrentCover();
    if (!cover.isNull()) {
        const PicRect fitted =
            FittedPictureRect({0, 0, area.width(), area.height()}, cover.width(), cover.height());
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(ToQRect(fitted), cover);
    } else {
        QFont font = SongtiFont(30);
        font.setItalic(true);
        p.setFont(font);
        p.setPen(QColor(255, 0, 0));
        p.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("没有封面"));
    }

    // The information table, at fixed positions as on the original panel. The
    // cells are filled so the values stay legible over any cover.
    p.fillRect(QRect(2, 2, 260, 40), QColor(255, 255, 255, 200));
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.drawRect(QRect(2, 2, 260, 40));
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(2, 22, 262, 22);
    p.drawLine(42, 2, 42, 42);
    for (int x : {102, 142, 182, 222}) p.drawLine(x, 22, x, 42);

    const QFont tableFont = SongtiFont(16);
    p.setFont(tableFont);
    const QFontMetrics fm(tableFont);
    auto textAt = [&](int x, int y, const QString& text) {
        p.drawText(QRect(x, y, 262 - x, 18), Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    p.setPen(Qt::black);
    textAt(4, 4, QStringLiteral("卷标"));
    textAt(4, 24, QStringLiteral("容量"));
    textAt(104, 24, QStringLiteral("目录"));
    textAt(186, 24, QStringLiteral("文件"));

    p.setPen(QColor(0, 128, 0));
    std::string label;
    m_reader->GetVolumeLabel(label);
    const QRect labelRect(44, 2, 262 - 44, 20);
    p.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               fm.elidedText(QString::fromStdString(StoredToHost(label)), Qt::ElideMiddle,
                             labelRect.width() - 2));
    textAt(44, 24, CapacityText(m_reader->GetCapacity()));
    textAt(144, 24, QString::number(m_reader->GetDirectoryCount()));
    textAt(224, 24, QString::number(m_reader->GetFileCount()));
}

void CCoverInfoPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QImage cover = CurrentCover();
        if (!cover.isNull()) {
            CCoverViewDlg dlg(cover, this);
            emit coverViewerShown();
            dlg.exec();
        }
    }
    QWidget::mousePressEvent(event);
}

CCoverViewDlg::CCoverViewDlg(const QImage& image, QWidget* parent)
    : QDialog(parent, Qt::Popup | Qt::FramelessWindowHint), m_image(image) {
    // Natural size, but never larger than the screen: a bigger cover is cut evenly
    // on every side, as the centred drawing does.
    QSize size = m_image.size();
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        size = size.boundedTo(avail.size());
        resize(size);
        move(avail.center() - QPoint(size.width() / 2, size.height() / 2));
    } else {
        resize(size);
    }
}

void CCoverViewDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const PicRect r =
        CentredPictureRect({0, 0, width(), height()}, m_image.width(), m_image.height());
    p.drawImage(QPoint(r.left, r.top), m_image);
}

void CCoverViewDlg::mousePressEvent(QMouseEvent*) {
    reject();
}

}  // namespace orb
