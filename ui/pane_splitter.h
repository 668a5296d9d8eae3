// SPDX-License-Identifier: GPL-3.0-or-later
// A bar between two sibling controls that the user drags to move the edge between
// them. A completed move is announced with `moved`, the pane's cue to refit.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/control_rules.h"

namespace orb {

class CPaneSplitter : public QWidget {
    Q_OBJECT
public:
    explicit CPaneSplitter(QWidget* parent = nullptr, int controlId = 0);

    int ControlId() const { return controlId_; }
    void SetControlId(int id) { controlId_ = id; }

    // first: the left or upper control; second: the right or lower one. The pointer
    // must stay minBefore pixels past the first control's left/top edge and minAfter
    // pixels before the second control's right/bottom edge. orientation is
    // kSplitSideways or kSplitUpDown. Until this is called the bar cannot be dragged.
    void BindPanes(QWidget* first, QWidget* second, int minBefore, int minAfter, int orientation);

    // The first control's share of the two controls' extent along the bar's
    // direction, in (0, 1); -1 before BindPanes or while both are empty.
    double FirstShare() const;
    // Gives the first control that share of the two (clamped to 0.05..0.95) and
    // has the parent lay itself out again, which keeps the new proportion. A pane
    // not laid out yet (a page never shown) takes it when it first is.
    void SetFirstShare(double share);

    const CSplitterTrack& Track() const { return track_; }
    // The feedback showing where the bar will go while it is dragged; nullptr when
    // no drag has started yet.
    QWidget* Tracker() const { return tracker_; }

signals:
    // Both controls and the bar were moved (the move notification, code 1025).
    // Also sent when the button was released without moving.
    void moved(CPaneSplitter* bar, int controlId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect RectInParent(const QWidget* w) const;
    void ShowTracker();
    void ApplyPendingShare();

    int controlId_ = 0;
    double pendingShare_ = -1;
    QPointer<QWidget> first_;
    QPointer<QWidget> second_;
    CSplitterTrack track_;
    QWidget* tracker_ = nullptr;
};

}  // namespace orb
