// SPDX-License-Identifier: GPL-3.0-or-later
// The new-disc pop-up's motion as a plain state machine: rise 50 steps of 3 pixels
// every 20 ms, hold 5 seconds (stopped while the mouse is over it), sink the same
// way, then go. The widget only runs timers and moves itself where this says.
#pragma once

namespace orb {

constexpr int kTipWidth = 160;
constexpr int kTipHeight = 125;
constexpr int kTipStepPixels = 3;
constexpr int kTipSteps = 50;
constexpr int kTipStepMs = 20;
constexpr int kTipHoldMs = 5000;

enum class TipPhase { Rising, Holding, Sinking, Gone };

struct TipMotion {
    TipPhase phase = TipPhase::Rising;
    int step = 0;              // steps taken by the current slide
    int lift = 0;              // pixels the window's top is above its start
    bool holdRunning = false;  // the 5-second hold timer runs
    bool mouseOver = false;
};

// One tick of the slide timer. Returns true when the hold timer must start now
// (the rise has ended and the mouse is not over the pop-up).
bool TipSlideTick(TipMotion& m);
// The close or add button, or the end of the hold: start the sink from any phase.
void TipStartSink(TipMotion& m);
// The hold timer fired.
void TipHoldElapsed(TipMotion& m);
// The mouse moved over the pop-up / left it. Leaving restarts the hold timer
// (returns true when it must be started).
void TipMouseMoved(TipMotion& m);
bool TipMouseLeft(TipMotion& m);

struct TipPoint {
    int x = 0;
    int y = 0;
};
// The window's top-left corner for a lift, against the bottom-right corner of the
// screen's available area (right and bottom are exclusive edges).
TipPoint TipWindowPos(int areaRight, int areaBottom, int lift);
// How many pixels of the window show above the area's bottom edge.
int TipVisibleHeight(int lift);

}  // namespace orb
