// SPDX-License-Identifier: GPL-3.0-or-later
// The host's drives: the Linux CD drives plus the virtual drive table named by
// ORB_VIRTUAL_DRIVES.
#include <cstdlib>

#include "platform/drives.h"
#include "platform/linux_drives.h"

namespace orb {

std::shared_ptr<IDriveSystem> CreateHostDriveSystem() {
    auto drives = std::make_shared<CVirtualDriveSystem>(std::vector<VirtualDrive>{},
                                                        std::make_shared<CLinuxDriveSystem>());
    if (const char* table = std::getenv("ORB_VIRTUAL_DRIVES")) drives->FollowTableFile(table);
    return drives;
}

}  // namespace orb
