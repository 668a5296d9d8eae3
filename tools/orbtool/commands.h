// SPDX-License-Identifier: GPL-3.0-or-later
// Commands of orbtool. Each command group lives in its own cmd_*.cpp file and
// receives the arguments after the command word (argv[0] is the command word).
#pragma once

namespace orbtool {

// Exit statuses shared by every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// scan only: the index was written, but parts of the folder could not be read.
constexpr int kExitIncomplete = 3;

int RunScan(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunLs(int argc, char** argv);
int RunRemark(int argc, char** argv);
int RunCover(int argc, char** argv);
int RunNote(int argc, char** argv);
// Defined in cmd_search.cpp (added by the search work).
int RunSearch(int argc, char** argv);
// Defined in cmd_audit.cpp: verifying discs, duplicates, whole-disc listings.
int RunVerify(int argc, char** argv);
int RunDupes(int argc, char** argv);
int RunLsRecursive(int argc, char** argv);
// Builds or refreshes a library's name index (cmd_search.cpp).
int RunNameIndex(int argc, char** argv);

}  // namespace orbtool
