// The host's drives: the Linux CD drives plus the virtual drive table named by
// ORB_VIRTUAL_DRIVES.
#include <cstdlib>

#include "platform/drives.h"
#include "platform/linux_drives.h"

namespace orb {

std::shared_ptr<IDriveSystem> CreateHostDriveSystem() {
    const char* table = std::getenv("ORB_VIRTUAL_DRIVES");
    return std::make_shared<CHostDriveSystem>(table ? table : "",
                                              std::make_shared<CLinuxDriveSystem>());
}

}  // namespace orb
