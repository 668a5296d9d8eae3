// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the new disc image dialog as plain functions: names of new index
// files, the disc's text files and the remark read from one, the folder that acts
// as a drive, and when "创建" may run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/disc_scanner.h"

namespace orb {

// The most bytes of a text file that become a disc's remark.
constexpr size_t kMaxRemarkBytes = 1 << 20;

// "*.txt" in any letter case, as the disc's own file system matched it.
bool IsTextFileName(std::string_view hostName);
// The text files (not directories) in a disc's root directory, in the order of
// the dialog's sorted list: A-Z folded stored bytes, then the bytes themselves.
std::vector<std::string> ListRootTextFiles(const std::string& root);
// The entry to select: "readme.txt" in any letter case, else the first; -1 when
// the list is empty.
int PickRemarkFile(const std::vector<std::string>& names);

// The dialog's line about what a finished scan could not read ("" when it read
// everything), and the list its "详情" button shows: one path a line, with a note
// when there were more than the scanner kept.
std::string UnreadableSummary(const ScanUnreadable& unreadable);
std::string UnreadableDetails(const ScanUnreadable& unreadable);

// The proposed index name for a volume label (stored text): host text, with the
// characters that cannot be in a file name ('/' and control bytes) made '_'.
std::string DiscNameFromLabel(std::string_view storedLabel);

// Why a typed name cannot be the file name of an index (host text).
enum class DiscNameProblem { None, Empty, BadCharacter, Dots, TooLong };
DiscNameProblem CheckDiscName(std::string_view name);
// The message for a problem (empty for None).
const char* DiscNameProblemText(DiscNameProblem problem);

// The index path for a save location (ending with '/') and a name.
std::string DiscIndexPath(const std::string& location, const std::string& name);
// True when the index or its annotation companion of that name exists already:
// a new scan must not overwrite either.
bool DiscFileTaken(const std::string& location, const std::string& name);
// The first of name(1), name(2), ... whose index and companion are both free.
std::string NextFreeDiscName(const std::string& location, const std::string& name);

// Reads at most kMaxRemarkBytes (plus the bytes that may finish a cut character)
// of a regular file, never waiting on a FIFO or a device. False with a reason when
// it cannot be read.
bool ReadRemarkSource(const std::string& path, std::string& raw, std::string* reason = nullptr);
// The remark stored for a text file's bytes: up to the first NUL; UTF-8 text (the
// usual encoding of Linux files) becomes stored text, anything else is kept as the
// disc's own GBK bytes; at most kMaxRemarkBytes, cut on a character boundary.
// truncated says the bytes were cut from a longer file.
std::string MakeRemark(std::string_view raw, bool truncated);

// A folder catalogued as a disc: its label and capacity, as orbtool scan takes them.
struct FolderDisc {
    std::string root;   // absolute, ending with '/'
    std::string label;  // host text
    uint64_t capacity = 0;
};
// The folder's real path, the label the drive layer reports for it when it is a
// mount point with a label (else the folder's name), and its file system's size.
// False when the path is not a folder.
bool DescribeFolderDisc(const std::string& folder, FolderDisc& out);

// The list entry's text: "LABEL (root)" for a labelled disc, else "光盘驱动器 (root)";
// a folder shows its path.
std::string DriveDisplayName(const std::string& root, const std::string& hostLabel, bool hasDisc);

// "创建" runs only with a drive chosen, a name and no scan of this dialog still
// outstanding.
bool CanCreate(bool driveChosen, std::string_view name, bool scanOutstanding);

// The drive list entry to take when the dialog opens: the drive that just
// received a disc (arrivedRoot, compared after NormalizeDriveRoot), else the only
// entry holding a disc; -1 (nothing chosen) when that leaves a doubt.
int DriveToPreselect(const std::vector<std::string>& listRoots, const std::vector<bool>& holdsDisc,
                     const std::string& arrivedRoot);

// The dialog's line after a finished scan: "完成：N 个文件，M 个文件夹", counts grouped
// by thousands.
std::string ScanDoneText(uint32_t files, uint32_t directories);

}  // namespace orb
