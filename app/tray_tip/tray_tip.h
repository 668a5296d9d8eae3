// SPDX-License-Identifier: GPL-3.0-or-later
// CTrayTipCtrl: the small "发现新光盘" notice that rises at the bottom-right corner
// of the screen when a new disc arrives while the window sits in the tray. Its
// button brings the window back and opens the new disc image dialog.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/tray_tip/tray_tip_rules.h"

class QTimer;

namespace orb {

class CHoverButton;
class IOrbShell;

class CTrayTipCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCloseId = 100;
    static constexpr int kAddId = 200;

    // Placed at the bottom-right corner of the available area of the owner's screen
    // (or the primary screen), below its edge; the rise starts at once. The pop-up
    // deletes itself when it has sunk, and goes with its owner.
    CTrayTipCtrl(IOrbShell& shell, QWidget* owner);
    ~CTrayTipCtrl() override;

    const TipMotion& Motion() const { return m_motion; }
    CHoverButton* CloseButton() const { return m_close; }
    CHoverButton* AddButton() const { return m_add; }
    bool HoldTimerActive() const;

    // Command 100 (close) and command 200 (add).
    void OnClose();
    void OnAdd();

    // The state images of the two buttons, drawn here (our own artwork) on a
    // transparent ground: four 17-pixel images and three 100-pixel images.
    static QImage CloseButtonStrip();
    static QImage AddButtonStrip();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void OnSlideTick();
    void StartSink();
    void PlaceWindow();

    IOrbShell& m_shell;
    QPointer<QWidget> m_owner;
    QRect m_area;  // the screen's available area
    TipMotion m_motion;
    QTimer* m_slideTimer = nullptr;
    QTimer* m_holdTimer = nullptr;
    CHoverButton* m_close = nullptr;
    CHoverButton* m_add = nullptr;
};

// Shows a new pop-up owned by the main window; its add button calls
// shell.RestoreFromTray() and then shell.ShowNewDiscDialog().
void ShowNewDiscTip(IOrbShell& shell, QWidget* owner);

}  // namespace orb
