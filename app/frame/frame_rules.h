// Rules of the main window that need no window: which drives hold a disc, finding
// an inserted disc in the library, the command line, and moving an index into the
// library without overwriting.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

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

// The path without the extension of its file name (".orb", ".ORB", ".index"...);
// a name without a dot is returned whole.
std::string StripExtension(const std::string& path);
// The file name part of a path.
std::string FileNameOf(const std::string& path);

}  // namespace orb
