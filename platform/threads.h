// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads run below normal priority so the window stays responsive.
#pragma once

namespace orb {

// Raises the nice value of the calling thread only (not the process) by a few
// steps, the counterpart of THREAD_PRIORITY_BELOW_NORMAL.
void LowerCurrentThreadPriority();

}  // namespace orb
