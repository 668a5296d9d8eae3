// SPDX-License-Identifier: GPL-3.0-or-later
// The fault points call the test program's hook when one is linked in.
#include "platform/fault_point.h"

namespace orb {

int FaultPoint(FaultSite site) {
    return OrbFaultHook ? OrbFaultHook(static_cast<int>(site)) : 0;
}

}  // namespace orb
