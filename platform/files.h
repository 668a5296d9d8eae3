// SPDX-License-Identifier: GPL-3.0-or-later
// Files and directories as the engine needs them: share-mode opens, temporary
// files, directory listing, safe replacement by rename.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orb {

// 100-nanosecond intervals since 1601-01-01 UTC, stored as two 32-bit halves.
struct FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};
uint64_t FileTimeToU64(const FILETIME& ft);
FILETIME U64ToFileTime(uint64_t v);
FILETIME UnixToFileTime(int64_t seconds, int64_t nanoseconds);
int64_t FileTimeToUnixSeconds(const FILETIME& ft);

// Access and sharing of an open, as the Windows program asked for them.
enum class OpenMode {
    ReadShareAll,        // read-only, others may read and write
    ReadWriteShareAll,   // read-write, others may read and write
    ReadWriteShareRead,  // read-write, others may only read
};

// Opens path with the given access and emulates the share mode with open-file-
// description locks, so the rule holds between readers of one process and
// between processes: a writer is refused while another opener denies writing,
// and ReadWriteShareRead is refused while another writer has the file open.
// Returns the descriptor or -1 (errno set).
int OpenShared(const std::string& path, OpenMode mode);

// Opens an existing regular file for reading (or reading and writing) without
// ever blocking: FIFOs, devices and directories are refused (errno EINVAL or
// EISDIR). Every file the program did not create itself is opened this way.
int OpenRegularFile(const std::string& path, bool forWriting);

// Creates a new, empty, uniquely named file in the temporary directory (TMPDIR or
// /tmp) whose name starts with prefix; returns its path, empty on failure.
std::string MakeTempFile(const std::string& prefix = "orb");

// Full pread/pwrite loops. Return false on error or short transfer.
bool ReadFully(int fd, void* buf, size_t n, uint64_t offset);
bool WriteFully(int fd, const void* buf, size_t n, uint64_t offset);
bool WriteAppend(int fd, const void* buf, size_t n);

// Reads a whole (small) file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes = SIZE_MAX);

// Creates or truncates path and writes data; for private files (temporaries)
// that nothing else reads while they are written.
bool WriteWholeFile(const std::string& path, std::string_view data);

// Where a save of a path goes: the path itself, or the file that a chain of
// symbolic links standing there leads to.
struct SaveTarget {
    std::string path;
    bool exists = false;
    uint32_t mode = 0644;  // the existing file's permissions, kept by the new one
};
// False, with err set, when the save must not replace what is there: a FIFO,
// device or socket (EINVAL), a file this user may not write or that is marked
// read-only (EACCES), or a link loop (ELOOP). A folder is left to the rename,
// which fails on it.
bool ResolveSaveTarget(const std::string& path, SaveTarget& target, int& err);
// Creates (or truncates) the temporary file tmp of a save to target, with the
// target's permissions; a link, FIFO or folder under that name is refused.
int CreateSaveTemp(const std::string& tmp, const SaveTarget& target);
// fsync with a fault point.
bool SyncFile(int fd);
// rename with a fault point; with durable the folder's entry is flushed too.
bool RenameOver(const std::string& from, const std::string& to, bool durable);

// The host's name as it appears in temporary and lock file names ('/' and '.'
// replaced, so a name can be taken apart again).
const std::string& HostNameForFiles();
// True unless the process pid is known to be gone on this host.
bool LocalProcessMayRun(long pid);
// Creates a new file "<target>.<host>.<pid>.<n>.tmp" exclusively (O_EXCL) beside
// target, with the target's permissions, and fills tmpPath. Writers on other
// machines or in other processes never share a temporary file. -1 with errno set
// on failure.
int CreateUniqueTemp(const SaveTarget& target, std::string& tmpPath);
// Removes temporaries of that form left in folder by crashed saves: those of this
// host whose process is gone, and those of other hosts once they are a day old.
void RemoveStaleTemps(const std::string& folder);
// Puts the file or folder from at to, unless something already stands at to
// (EEXIST then). renameat2(RENAME_NOREPLACE) where the file system has it; else
// link + unlink; else the name is reserved with an exclusive create and the
// rename goes over the reservation. Returns 0 or the errno value.
int PublishNoReplace(const std::string& from, const std::string& to, bool durable = false);
// An anonymous file holding data (memfd), gone with the process; -1 on failure.
int MakeAnonymousFile(std::string_view data);

// Writes data to path through a unique temporary file and a rename, so a crash or a full disk
// never leaves a truncated file at path. With durable the data is flushed first.
// A link at path is saved through to its target; a target that may not be
// replaced (see ResolveSaveTarget) is refused. On failure path is untouched, the
// temporary is removed, and error holds errno's text. Temporaries crashed saves
// left in the folder are removed first unless sweepTemps is false (a folder saved
// into thousands of times in a row, swept once by its owner).
bool ReplaceFileAtomically(const std::string& path, std::string_view data, bool durable,
                           std::string* error = nullptr, bool sweepTemps = true);

// One entry of a directory listing, in the file system's own order; "." and ".."
// are included so callers skip them as the Windows program did.
struct DirEntry {
    std::string name;  // host bytes as the file system returns them
    uint64_t size = 0;
    FILETIME writeTime;
    bool isDirectory = false;
    bool isSymlink = false;
    // Its details (kind, size, time) could not be read: they are left empty.
    bool unreadable = false;
};

// Lists a directory without following symbolic links. Returns false when the
// directory cannot be opened, or reading it failed part way (the entries read
// before were handed over). The callback returns false to stop early.
bool ListDirectory(const std::string& path, const std::function<bool(const DirEntry&)>& onEntry);

// The host form of a stored path relative to hostBase ("\" separators) that
// leads back to the file it was made from. A name that was not UTF-8 on the file
// system was stored as its raw bytes, and decoding those gives another name; so
// when the decoded path does not exist, each component is also tried as the bytes
// it is stored as. The decoded path when nothing exists.
std::string HostRelativePathOfStored(std::string_view hostBase, std::string_view storedRelative);

// True when statfs says the path lies on a network file system (NFS, SMB/CIFS,
// AFS, Coda, NCP, 9p, a FUSE mount such as sshfs), where change notification does
// not see other machines' changes. False when it cannot be asked.
bool IsNetworkFileSystem(const std::string& path);

// "dir" + "/" + "name" without doubling the separator.
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace orb
