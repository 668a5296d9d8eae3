// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads run below normal priority so the window stays responsive.
#pragma once

namespace orb {

// Raises the nice value of the calling thread only (not the process) by a few
// steps, the counterpart of THREAD_PRIORITY_BELOW_NORMAL.
void LowerCurrentThreadPriority();

// Puts the calling thread at the lowest nice value, so that it takes a core
// from the window's thread only for a sliver. For pools that keep every core
// busy while the window must stay responsive: a nice step of four left the
// window a third of a core against a few of them. Threads it starts inherit it.
void SetCurrentThreadBackground();

}  // namespace orb
