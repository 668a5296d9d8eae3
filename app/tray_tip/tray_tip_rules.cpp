// SPDX-License-Identifier: GPL-3.0-or-later
// The pop-up's slide and hold rules.
#include "app/tray_tip/tray_tip_rules.h"

#include <algorithm>

namespace orb {

bool TipSlideTick(TipMotion& m) {
    if (m.phase == TipPhase::Rising) {
        m.lift += kTipStepPixels;
        if (++m.step >= kTipSteps) {
            m.phase = TipPhase::Holding;
            // With the mouse already resting on it, the hold waits for it to leave.
            m.holdRunning = !m.mouseOver;
            return m.holdRunning;
        }
    } else if (m.phase == TipPhase::Sinking) {
        m.lift -= kTipStepPixels;
        if (++m.step >= kTipSteps) m.phase = TipPhase::Gone;
    }
    return false;
}

void TipStartSink(TipMotion& m) {
    if (m.phase == TipPhase::Gone || m.phase == TipPhase::Sinking) return;
    m.phase = TipPhase::Sinking;
    m.step = 0;
    m.holdRunning = false;
}

void TipHoldElapsed(TipMotion& m) {
    m.holdRunning = false;
    if (m.phase == TipPhase::Holding) TipStartSink(m);
}

void TipMouseMoved(TipMotion& m) {
    if (m.mouseOver) return;
    m.mouseOver = true;
    m.holdRunning = false;
}

bool TipMouseLeft(TipMotion& m) {
    m.mouseOver = false;
    if (m.phase == TipPhase::Sinking || m.phase == TipPhase::Gone) return false;
    m.holdRunning = true;
    return true;
}

TipPoint TipWindowPos(int areaRight, int areaBottom, int lift) {
    return {areaRight - kTipWidth, areaBottom - lift};
}

int TipVisibleHeight(int lift) {
    return std::clamp(lift, 0, kTipHeight);
}

}  // namespace orb
