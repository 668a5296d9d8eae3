// SPDX-License-Identifier: GPL-3.0-or-later
// EjectDisc over the drive layer's tray calls.
#include "library/newdisc/eject.h"

#include "platform/drives.h"

namespace orb {

bool EjectDisc(const std::string& driveRoot, bool open) {
    if (driveRoot.empty()) return false;
    std::shared_ptr<IDriveSystem> drives = Drives();
    return open ? drives->Eject(driveRoot) : drives->CloseTray(driveRoot);
}

}  // namespace orb
