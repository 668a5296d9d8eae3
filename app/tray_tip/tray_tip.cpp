// SPDX-License-Identifier: GPL-3.0-or-later
// The new-disc pop-up: a small topmost window that slides up, waits and slides down.
#include "app/tray_tip/tray_tip.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include "res/images/app_images.h"
#include "shell/orb_shell.h"
#include "ui/hover_button.h"
#include "ui/ui_font.h"

namespace orb {

namespace {

const QColor kBackground(58, 190, 85);
const QColor kTitleBand(0, 0, 128);
constexpr int kCloseSize = 17;
constexpr int kAddWidth = 100;
constexpr int kAddHeight = 20;
constexpr int kTitleHeight = 20;

}  // namespace

QImage CTrayTipCtrl::CloseButtonStrip() {
    // Drawn on a transparent ground rather than the magenta mask colour, so the
    // smoothed edges do not carry a magenta fringe.
    QImage strip(kCloseSize * 4, kCloseSize, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    // idle, hover, pressed, disabled
    const QColor cross[] = {QColor(230, 230, 245), Qt::white, Qt::white, QColor(140, 140, 160)};
    for (int i = 0; i < 4; ++i) {
        const QRectF cell(i * kCloseSize, 0, kCloseSize, kCloseSize);
        const qreal shift = i == 2 ? 1 : 0;
        if (i == 1 || i == 2) {
            p.setPen(Qt::NoPen);
            p.setBrush(i == 1 ? QColor(220, 60, 50) : QColor(160, 30, 25));
            p.drawRoundedRect(cell.adjusted(1, 1, -1, -1), 3, 3);
        }
        p.setPen(QPen(cross[i], 2, Qt::SolidLine, Qt::RoundCap));
        const QPointF c = cell.center() + QPointF(shift, shift);
        p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
        p.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
    }
    return strip;
}

QImage CTrayTipCtrl::AddButtonStrip() {
    QImage strip(kAddWidth * 3, kAddHeight, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    p.setFont(SongtiFont(14));
    // idle, hover, pressed
    const QColor face[] = {QColor(245, 250, 240), QColor(255, 255, 210), QColor(200, 215, 190)};
    const QColor edge[] = {QColor(30, 110, 50), QColor(0, 0, 128), QColor(20, 80, 35)};
    for (int i = 0; i < 3; ++i) {
        const QRectF cell(i * kAddWidth, 0, kAddWidth, kAddHeight);
        p.setPen(QPen(edge[i], 1));
        p.setBrush(face[i]);
        p.drawRoundedRect(cell.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.setPen(i == 1 ? QColor(0, 0, 128) : Qt::black);
        p.drawText(cell.translated(i == 2 ? 1 : 0, i == 2 ? 1 : 0), Qt::AlignCenter,
                   QStringLiteral("现在加入"));
    }
    return strip;
}

CTrayTipCtrl::CTrayTipCtrl(IOrbShell& shell, QWidget* owner)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_shell(shell),
      m_owner(owner) {
    // No parent: a window in the tray is hidden, and a window owned by a hidden one
    // may not be shown by the window manager. It still goes with its owner.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(kTipWidth, kTipHeight);
    setWindowTitle(QString());
    setMouseTracking(true);
    if (owner) connect(owner, &QObject::destroyed, this, &QWidget::close);

    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    m_area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);

    m_close = new CHoverButton(this);
    m_close->setObjectName(QStringLiteral("tipCloseButton"));
    m_close->setAccessibleName(QStringLiteral("关闭"));
    m_close->LoadStateImages(CloseButtonStrip(), kCloseSize, QColor());
    m_close->move(kTipWidth - kCloseSize - 2, 2);
    m_add = new CHoverButton(this);
    m_add->setObjectName(QStringLiteral("tipAddButton"));
    m_add->setAccessibleName(QStringLiteral("新建光盘映象"));
    m_add->LoadStateImages(AddButtonStrip(), kAddWidth, QColor());
    m_add->move(30, 80);
    connect(m_close, &QPushButton::clicked, this, &CTrayTipCtrl::OnClose);
    connect(m_add, &QPushButton::clicked, this, &CTrayTipCtrl::OnAdd);

    m_slideTimer = new QTimer(this);
    m_slideTimer->setTimerType(Qt::PreciseTimer);
    m_slideTimer->setInterval(kTipStepMs);
    connect(m_slideTimer, &QTimer::timeout, this, &CTrayTipCtrl::OnSlideTick);
    m_holdTimer = new QTimer(this);
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setInterval(kTipHoldMs);
    connect(m_holdTimer, &QTimer::timeout, this, [this] {
        TipHoldElapsed(m_motion);
        if (m_motion.phase == TipPhase::Sinking) m_slideTimer->start();
    });

    PlaceWindow();
    m_slideTimer->start();
}

CTrayTipCtrl::~CTrayTipCtrl() = default;

bool CTrayTipCtrl::HoldTimerActive() const {
    return m_holdTimer->isActive();
}

void CTrayTipCtrl::PlaceWindow() {
    const TipPoint pos =
        TipWindowPos(m_area.x() + m_area.width(), m_area.y() + m_area.height(), m_motion.lift);
    move(pos.x, pos.y);
    // Only the part above the available area's edge shows, so the pop-up seems to
    // come out of a bottom panel rather than cover it. (Windowless platforms of the
    // tests have no masks.)
    static const bool canMask = QGuiApplication::platformName() != QLatin1String("offscreen") &&
                                QGuiApplication::platformName() != QLatin1String("minimal");
    if (canMask) setMask(QRegion(0, 0, kTipWidth, std::max(1, TipVisibleHeight(m_motion.lift))));
}

void CTrayTipCtrl::OnSlideTick() {
    const bool startHold = TipSlideTick(m_motion);
    PlaceWindow();
    if (startHold) m_holdTimer->start();
    if (m_motion.phase == TipPhase::Holding) {
        m_slideTimer->stop();
    } else if (m_motion.phase == TipPhase::Gone) {
        m_slideTimer->stop();
        close();
    }
}

void CTrayTipCtrl::StartSink() {
    TipStartSink(m_motion);
    m_holdTimer->stop();
    if (m_motion.phase == TipPhase::Sinking && !m_slideTimer->isActive()) m_slideTimer->start();
}

void CTrayTipCtrl::OnClose() {
    StartSink();
}

void CTrayTipCtrl::OnAdd() {
    StartSink();
    // Later, from the event loop: the dialog runs modally, and this pop-up may be
    // gone before it returns.
    IOrbShell* shell = &m_shell;
    QObject* context = m_owner ? static_cast<QObject*>(m_owner.data()) : qApp;
    QTimer::singleShot(0, context, [shell] {
        shell->RestoreFromTray();
        shell->ShowNewDiscDialog();
    });
}

void CTrayTipCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    p.setFont(SongtiFont(16));
    p.fillRect(QRect(0, 0, kTipWidth, kTitleHeight), kTitleBand);
    p.setPen(Qt::white);
    p.drawText(QRect(2, 2, kTipWidth - kCloseSize - 6, kTitleHeight - 2),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kelvane光盘助手"));
    const QList<QIcon> images = AppImageList();
    if (!images.isEmpty()) images[kImageDisc].paint(&p, QRect(2, 25, 32, 32));
    p.setPen(Qt::black);
    p.drawText(QRect(35, 25, 158 - 35, 57 - 25), Qt::AlignCenter | Qt::TextSingleLine,
               QStringLiteral("发现新光盘"));
    // A thin frame in place of the dialog frame.
    p.setPen(QColor(0, 0, 90));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CTrayTipCtrl::enterEvent(QEnterEvent* event) {
    TipMouseMoved(m_motion);
    m_holdTimer->stop();
    QWidget::enterEvent(event);
}

void CTrayTipCtrl::leaveEvent(QEvent* event) {
    if (TipMouseLeft(m_motion)) m_holdTimer->start();
    QWidget::leaveEvent(event);
}

void ShowNewDiscTip(IOrbShell& shell, QWidget* owner) {
    auto* tip = new CTrayTipCtrl(shell, owner);
    tip->show();
}

}  // namespace orb
