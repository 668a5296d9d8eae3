// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the main window that need no window: which drives hold a disc, finding
// an inserted disc in the library, the command line, and moving an index into the
// library without overwriting.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "library/store/library_store.h"

class QTreeWidgetItem;

namespace orb {

class IDriveSystem;
class CLibraryTree;

// A CD drive holding a readable disc, as seen at one moment.
struct DiscInDrive {
    std::string root;
    std::string storedLabel;
    uint64_t capacity = 0;
    bool operator==(const DiscInDrive&) const = default;
};

// The CD drives (in drive order, virtual ones included) that hold a readable disc.
std::vector<DiscInDrive> DiscsInDrives(IDriveSystem& drives);
// True when a drive holds a disc now that it did not hold before (a new disc, or
// another disc in the same drive).
bool HasArrival(const std::vector<DiscInDrive>& before, const std::vector<DiscInDrive>& after);

// The disc a change of the drives asks to look up in the library: the first drive
// holding a readable disc (whichever drive raised the change), when a disc arrived,
// no shown disc is in a drive, auto-locate is on and no new disc dialog runs.
const DiscInDrive* DiscToExamine(const std::vector<DiscInDrive>& before,
                                 const std::vector<DiscInDrive>& now, bool shownDiscInDrive,
                                 bool autoLocate, bool newDiscDialogOpen);

// At start-up a disc already in a drive counts as just inserted: the first one is
// looked up, unless a file was named on the command line (the user asked for
// that one) or the rule of DiscToExamine says no.
const DiscInDrive* DiscToLocateAtStart(const std::vector<DiscInDrive>& now, bool shownDiscInDrive,
                                       bool autoLocate, bool fileOnCommandLine);

// "&1 name": a recent-file menu entry, the path cut to its last 27 characters
// behind "..." when longer than 30, ampersands doubled.
QString RecentDisplayName(int index, const QString& path);

// The recent-file list after a disc's index file (from, to) or a category's
// directory (paths ending with '/') moved: entries naming it, or a file below it,
// name the new place.
QStringList MoveRecentFiles(const QStringList& files, const std::string& from,
                            const std::string& to);

// The first disc item of the library tree (in tree order) whose index header has
// the label (byte for byte) and capacity (all 64 bits); reads only headers. Null
// when none matches; path receives the index path.
QTreeWidgetItem* FindLibraryDisc(const CLibraryTree& tree, const std::string& storedLabel,
                                 uint64_t capacity, std::string* indexPath = nullptr);

// The command line after the program name.
struct CommandLine {
    bool startHidden = false;  // exactly one argument, "/minimize"
    QString file;              // the index to open, empty for a new document
};
CommandLine ParseCommandLine(const QStringList& args);

// The index to open again at start-up: the one shown when the window last closed,
// when no file was named on the command line and it still reads as an index.
// Empty otherwise.
QString IndexToReopen(const CommandLine& commandLine, const QString& lastIndex);

}  // namespace orb
