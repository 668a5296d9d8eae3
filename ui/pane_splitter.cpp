// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/pane_splitter.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

#include "ui/qt_geometry.h"

namespace orb {

namespace {

// Drawn over the parent where the bar would land: the bar's own grey, half through.
class CSplitterTracker : public QWidget {
public:
    explicit CSplitterTracker(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(200, 200, 200, 160));
    }
};

// Moves a control to `target`, given in the bar's parent coordinates, also when the
// control lives in another parent (`old` is where it is now, in the same coordinates).
void MoveWithin(QWidget* w, const QRect& old, const QRect& target) {
    w->setGeometry(QRect(w->pos() + (target.topLeft() - old.topLeft()), target.size()));
}

}  // namespace

CPaneSplitter::CPaneSplitter(QWidget* parent, int controlId)
    : QWidget(parent), controlId_(controlId) {}

void CPaneSplitter::BindPanes(QWidget* first, QWidget* second, int minBefore, int minAfter,
                              int orientation) {
    first_ = first;
    second_ = second;
    track_.Bind(minBefore, minAfter, orientation);
    if (orientation == kSplitSideways) {
        setCursor(Qt::SizeHorCursor);
    } else if (orientation == kSplitUpDown) {
        setCursor(Qt::SizeVerCursor);
    } else {
        unsetCursor();
    }
}

QRect CPaneSplitter::RectInParent(const QWidget* w) const {
    QWidget* parent = parentWidget();
    if (!w || !parent) return QRect();
    if (w->parentWidget() == parent) return w->geometry();
    return QRect(w->mapTo(parent, QPoint(0, 0)), w->size());
}

void CPaneSplitter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect r = rect();
    // 3-D frame: light on the top and left, shadow on the bottom and right.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    const QRect inner = r.adjusted(1, 1, -1, -1);
    if (inner.isEmpty()) return;
    painter.setPen(QColor(200, 200, 200));
    painter.setBrush(QColor(200, 220, 220));
    painter.drawRect(inner.adjusted(0, 0, -1, -1));
}

void CPaneSplitter::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !parentWidget() || !first_ || !second_) return;
    if (!track_.Begin(ToUiRect(geometry()))) return;
    ShowTracker();
}

void CPaneSplitter::mouseMoveEvent(QMouseEvent* event) {
    if (track_.IsTracking() && parentWidget() && first_ && second_) {
        const QPoint pointer = mapToParent(event->position().toPoint());
        if (track_.Move(ToUiPoint(pointer), ToUiRect(RectInParent(first_)),
                        ToUiRect(RectInParent(second_)))) {
            ShowTracker();
        }
    }
    QWidget::mouseMoveEvent(event);
}

void CPaneSplitter::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && track_.IsTracking()) {
        if (tracker_) tracker_->hide();
        if (first_ && second_) {
            const QRect firstOld = RectInParent(first_);
            const QRect secondOld = RectInParent(second_);
            const CSplitterTrack::Placement p =
                track_.End(ToUiRect(firstOld), ToUiRect(secondOld), ToUiRect(geometry()));
            MoveWithin(first_, firstOld, ToQRect(p.first));
            MoveWithin(second_, secondOld, ToQRect(p.second));
            emit moved(this, controlId_);
            setGeometry(ToQRect(p.bar));
        } else {
            // A bound control went away during the drag: end it without moving.
            track_.End(UiRect{}, UiRect{}, ToUiRect(geometry()));
        }
    }
    QWidget::mouseReleaseEvent(event);
}

void CPaneSplitter::ShowTracker() {
    if (!tracker_) tracker_ = new CSplitterTracker(parentWidget());
    tracker_->setGeometry(ToQRect(track_.TrackerRect(ToUiRect(geometry()))));
    tracker_->raise();
    tracker_->show();
}

double CPaneSplitter::FirstShare() const {
    if (pendingShare_ > 0) return pendingShare_;
    if (!first_ || !second_) return -1;
    const bool sideways = track_.Orientation() == kSplitSideways;
    const int a = sideways ? first_->width() : first_->height();
    const int b = sideways ? second_->width() : second_->height();
    return a + b > 0 ? static_cast<double>(a) / (a + b) : -1;
}

void CPaneSplitter::SetFirstShare(double share) {
    if (!(share > 0 && share < 1)) return;
    pendingShare_ = std::clamp(share, 0.05, 0.95);
    ApplyPendingShare();
}

void CPaneSplitter::ApplyPendingShare() {
    if (pendingShare_ <= 0 || !first_ || !second_) return;
    const bool sideways = track_.Orientation() == kSplitSideways;
    const int total =
        sideways ? first_->width() + second_->width() : first_->height() + second_->height();
    if (total <= 0) return;  // not laid out yet: the bar's first placement applies it
    const int a = static_cast<int>(total * pendingShare_ + 0.5);
    pendingShare_ = -1;
    if (sideways) {
        first_->resize(a, first_->height());
        second_->resize(total - a, second_->height());
    } else {
        first_->resize(first_->width(), a);
        second_->resize(second_->width(), total - a);
    }
    if (QWidget* pane = parentWidget()) {
        QResizeEvent relayout(pane->size(), pane->size());
        QCoreApplication::sendEvent(pane, &relayout);
    }
}

void CPaneSplitter::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Placed by the pane's layout: apply a remembered share once that is over.
    if (pendingShare_ > 0)
        QMetaObject::invokeMethod(this, &CPaneSplitter::ApplyPendingShare, Qt::QueuedConnection);
}

void CPaneSplitter::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (pendingShare_ > 0)
        QMetaObject::invokeMethod(this, &CPaneSplitter::ApplyPendingShare, Qt::QueuedConnection);
}

}  // namespace orb
