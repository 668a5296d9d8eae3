// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing a CD drive's door for the new disc image dialog.
#pragma once

#include <string>

namespace orb {

// Opens (open true) or closes the tray of the drive whose root is given, through
// the drive layer. Failures are silent: the result only says whether it worked. A
// virtual drive has no door; the drive layer treats its eject as taking the disc out.
bool EjectDisc(const std::string& driveRoot, bool open = true);

}  // namespace orb
