// SPDX-License-Identifier: GPL-3.0-or-later
// Fault-injection points on the paths that write files. The program itself has
// no hook and every point is a no-op; a test program links in OrbFaultHook to
// make a write, a flush or a rename fail, or to stop the process at that moment.
#pragma once

namespace orb {

enum class FaultSite {
    Write = 1,            // before each write system call of a save
    Sync = 2,             // before a save's data is flushed to disc
    Rename = 3,           // before a save's temporary file replaces the target
    RenameNoReplace = 4,  // before renameat2(RENAME_NOREPLACE) publishes a file
    Link = 5,             // before link() publishes a file where that rename is refused
};

// 0 to go on; otherwise the errno value the operation fails with.
int FaultPoint(FaultSite site);

}  // namespace orb

// Defined only by test programs that inject faults.
extern "C" int OrbFaultHook(int site) __attribute__((weak));
