// The host's drives: for now the virtual drive table named by ORB_VIRTUAL_DRIVES.
#include <cstdlib>

#include "platform/drives.h"
#include "platform/files.h"

namespace orb {

std::shared_ptr<IDriveSystem> CreateHostDriveSystem() {
    std::vector<VirtualDrive> drives;
    if (const char* table = std::getenv("ORB_VIRTUAL_DRIVES")) {
        std::string text;
        if (ReadWholeFile(table, text, 1 << 20)) drives = CVirtualDriveTable::Parse(text);
    }
    return std::make_shared<CVirtualDriveSystem>(std::move(drives));
}

}  // namespace orb
