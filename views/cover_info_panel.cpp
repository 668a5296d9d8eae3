// SPDX-License-Identifier: GPL-3.0-or-later
// The cover page of the library pane and its full-size cover viewer.
#include "views/cover_info_panel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "index/index_reader.h"
#include "platform/qt/qt_picture.h"
#include "platform/text.h"
#include "ui/theme.h"
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
    // The information table keeps its own colours; only the ground follows a dark theme.
    p.fillRect(area,
               FollowsDarkTheme(palette()) ? palette().window() : QBrush(QColor(240, 240, 240)));
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

    // The information table: 卷标 and 容量 over the whole width, 目录 and 文件 side
    // by side below; every column as wide as its longest text, so no number is
    // cut, and the table no wider than the panel (the label is elided first).
    const QFont tableFont = SongtiFont(16);
    p.setFont(tableFont);
    const QFontMetrics fm(tableFont);
    constexpr int kPad = 4;
    auto cell = [&](const QString& text) { return fm.horizontalAdvance(text) + 2 * kPad; };
    std::string label;
    m_reader->GetVolumeLabel(label);
    const QString labelText = QString::fromStdString(StoredToHost(label));
    const QString capacity = HumanBytesText(m_reader->GetCapacity());
    const QString dirs = GroupedNumber(m_reader->GetDirectoryCount());
    const QString files = GroupedNumber(m_reader->GetFileCount());
    const QString kLabel = QStringLiteral("卷标"), kCapacity = QStringLiteral("容量"),
                  kDirs = QStringLiteral("目录"), kFiles = QStringLiteral("文件");
    const int head = std::max({cell(kLabel), cell(kCapacity), cell(kDirs)});
    const int dirsW = cell(dirs), filesHeadW = cell(kFiles);
    const int left = 2, top = 2, rowH = fm.height() + 4;
    const int room = area.width() - 2 * left - head;
    // A narrow panel puts the exact count on a line of its own rather than cut it.
    QStringList capacityLines{capacity};
    const qsizetype paren = capacity.indexOf(QStringLiteral("（"));
    if (cell(capacity) > room && paren > 0)
        capacityLines = {capacity.left(paren), capacity.mid(paren)};
    int wanted = std::max(cell(labelText), dirsW + filesHeadW + cell(files));
    for (const QString& line : capacityLines) wanted = std::max(wanted, cell(line));
    const int valueW = std::min(wanted, std::max(room, dirsW + filesHeadW + cell(files)));
    const int width = head + valueW;
    const int capH = rowH * static_cast<int>(capacityLines.size());
    const int rowTop[] = {top, top + rowH, top + rowH + capH, top + 2 * rowH + capH};
    const QRect table(left, top, width, rowTop[3] - top);
    p.fillRect(table, QColor(255, 255, 255, 200));
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.drawRect(table);
    p.setPen(QPen(Qt::black, 1));
    for (int row = 1; row < 3; ++row) p.drawLine(left, rowTop[row], left + width, rowTop[row]);
    p.drawLine(left + head, top, left + head, rowTop[3]);
    const int filesHeadX = left + head + dirsW;
    p.drawLine(filesHeadX, rowTop[2], filesHeadX, rowTop[3]);
    p.drawLine(filesHeadX + filesHeadW, rowTop[2], filesHeadX + filesHeadW, rowTop[3]);
    auto textIn = [&](int x, int y, int w, const QString& text) {
        const QRect r(x + kPad, y, std::max(0, w - 2 * kPad), rowH);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   fm.elidedText(text, Qt::ElideMiddle, r.width()));
    };
    p.setPen(Qt::black);
    textIn(left, rowTop[0], head, kLabel);
    textIn(left, rowTop[1], head, kCapacity);
    textIn(left, rowTop[2], head, kDirs);
    textIn(filesHeadX, rowTop[2], filesHeadW, kFiles);
    p.setPen(QColor(0, 128, 0));
    textIn(left + head, rowTop[0], valueW, labelText);
    for (int i = 0; i < capacityLines.size(); ++i)
        textIn(left + head, rowTop[1] + i * rowH, valueW, capacityLines[static_cast<int>(i)]);
    textIn(left + head, rowTop[2], dirsW, dirs);
    textIn(filesHeadX + filesHeadW, rowTop[2], left + width - filesHeadX - filesHeadW, files);
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
