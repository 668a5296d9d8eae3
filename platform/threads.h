// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads run below normal priority so the window stays responsive.
#pragma once

namespace orb {

// Raises the nice value of the calling thread only (not the process) by a few
// steps, the counterpart of THREAD_PRIORITY_BELOW_NORMAL.
void LowerCurrentThreadPriority();

// Puts the calling thread at the bottom: the lowest nice value and the batch
// class, so it takes the cores only when the window's thread has none to run.
// For pools that keep every core busy while the window must stay responsive;
// a plain nice step leaves the window a fraction of a core against a few of
// them. Threads it starts inherit it.
void SetCurrentThreadBackground();

}  // namespace orb
