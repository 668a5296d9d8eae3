// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/error_text.h"
#include "platform/fault_point.h"
#include "platform/file_stamp.h"
#include "platform/text.h"

namespace orb {

namespace {
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in FILETIME

// Lock ranges far past any real file content; only their existence matters.
constexpr off_t kWriterMark = static_cast<off_t>(1) << 62;
constexpr off_t kDenyWriteMark = kWriterMark + 1;

bool LockShared(int fd, off_t at) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// True when another open file description holds a lock on the byte at 'at'.
bool OthersHold(int fd, off_t at) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}
}  // namespace

uint64_t FileTimeToU64(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME U64ToFileTime(uint64_t v) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<uint32_t>(v);
    ft.dwHighDateTime = static_cast<uint32_t>(v >> 32);
    return ft;
}

FILETIME UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
    int64_t ticks = seconds * 10000000LL + nanoseconds / 100;
    int64_t v = static_cast<int64_t>(kFileTimeUnixEpoch) + ticks;
    return U64ToFileTime(v < 0 ? 0 : static_cast<uint64_t>(v));
}

int64_t FileTimeToUnixSeconds(const FILETIME& ft) {
    int64_t v = static_cast<int64_t>(FileTimeToU64(ft));
    return (v - static_cast<int64_t>(kFileTimeUnixEpoch)) / 10000000LL;
}

int OpenRegularFile(const std::string& path, bool forWriting) {
    // A FIFO or a device under a file's name would block open() or read() (or act
    // on a device): such files are refused before and after opening, and the open
    // itself never waits.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    int fd = ::open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

int OpenShared(const std::string& path, OpenMode mode) {
    int fd = OpenRegularFile(path, mode != OpenMode::ReadShareAll);
    if (fd < 0) return -1;
    if (mode == OpenMode::ReadShareAll) return fd;
    // A writer: refused while someone denies writing.
    if (OthersHold(fd, kDenyWriteMark)) {
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    if (mode == OpenMode::ReadWriteShareRead && OthersHold(fd, kWriterMark)) {
        ::close(fd);
        errno = EBUSY;
        return -1;
    }
    LockShared(fd, kWriterMark);
    if (mode == OpenMode::ReadWriteShareRead) LockShared(fd, kDenyWriteMark);
    return fd;
}

std::string MakeTempFile(const std::string& prefix) {
    const char* dir = std::getenv("TMPDIR");
    std::string base = (dir && *dir) ? dir : "/tmp";
    if (base.back() != '/') base += '/';
    std::string tmpl = base + prefix + "XXXXXX.tmp";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemps(buf.data(), 4);
    if (fd < 0) return std::string();
    ::close(fd);
    return std::string(buf.data());
}

namespace {
constexpr size_t kWritePiece = size_t{1} << 20;

// Repeats a transfer until n bytes moved; op(pointer, count, offset) is one call
// of pread, pwrite or write. A zero-byte transfer counts as failure.
template <typename Ptr, typename Op>
bool TransferFully(Ptr p, size_t n, uint64_t offset, Op op, bool writing = false) {
    while (n > 0) {
        // Writes go out in bounded pieces, each one a fault point.
        size_t piece = writing ? std::min(n, kWritePiece) : n;
        if (writing) {
            if (int err = FaultPoint(FaultSite::Write)) {
                errno = err;
                return false;
            }
        }
        ssize_t r = op(p, piece, offset);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        offset += static_cast<uint64_t>(r);
    }
    return true;
}
}  // namespace

bool ReadFully(int fd, void* buf, size_t n, uint64_t offset) {
    return TransferFully(static_cast<char*>(buf), n, offset, [fd](char* p, size_t k, uint64_t at) {
        return pread(fd, p, k, static_cast<off_t>(at));
    });
}

bool WriteFully(int fd, const void* buf, size_t n, uint64_t offset) {
    return TransferFully(
        static_cast<const char*>(buf), n, offset,
        [fd](const char* p, size_t k, uint64_t at) {
            return pwrite(fd, p, k, static_cast<off_t>(at));
        },
        true);
}

bool WriteAppend(int fd, const void* buf, size_t n) {
    return TransferFully(
        static_cast<const char*>(buf), n, 0,
        [fd](const char* p, size_t k, uint64_t) { return ::write(fd, p, k); }, true);
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxBytes) {
    out.clear();
    int fd = OpenRegularFile(path, false);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    // The size is only a hint: files of /proc say 0 and those of /sys a page, so
    // the file is read up to its end.
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    bool ok = true;
    for (;;) {
        if (got == out.size()) {
            if (out.size() >= maxBytes) {
                char probe;
                ssize_t more = ::read(fd, &probe, 1);
                ok = more == 0;
                break;
            }
            out.resize(std::min(std::max<size_t>(out.size() * 2, 4096), maxBytes));
        }
        ssize_t r = ::read(fd, out.data() + got, out.size() - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    ::close(fd);
    out.resize(ok ? got : 0);
    return ok;
}

bool WriteWholeFile(const std::string& path, std::string_view data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = WriteAppend(fd, data.data(), data.size());
    return ::close(fd) == 0 && ok;
}

bool ResolveSaveTarget(const std::string& path, SaveTarget& target, int& err) {
    // A save through a symbolic link replaces the file the link leads to, so the
    // link stays and its target gets the new content.
    std::string cur = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(cur.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                err = errno;
                return false;
            }
            target = SaveTarget{cur, false, 0644};
            return true;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
            ssize_t n = ::readlink(cur.c_str(), link.data(), link.size());
            if (n < 0 || static_cast<size_t>(n) >= link.size()) {
                err = n < 0 ? errno : ENAMETOOLONG;
                return false;
            }
            link.resize(static_cast<size_t>(n));
            if (link.empty() || link[0] != '/') {
                size_t slash = cur.rfind('/');
                link =
                    (slash == std::string::npos ? std::string() : cur.substr(0, slash + 1)) + link;
            }
            cur = std::move(link);
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            // The rename refuses to put a file over a folder.
            target = SaveTarget{cur, false, 0644};
            return true;
        }
        if (!S_ISREG(st.st_mode)) {
            err = EINVAL;
            return false;
        }
        // Replacing by rename only needs the folder's permission; the file's own is
        // honoured too, as the read-only attribute is on Windows (also for root).
        if (::faccessat(AT_FDCWD, cur.c_str(), W_OK, AT_EACCESS) != 0 ||
            (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            err = EACCES;
            return false;
        }
        target = SaveTarget{cur, true, static_cast<uint32_t>(st.st_mode & 07777)};
        return true;
    }
    err = ELOOP;
    return false;
}

int CreateSaveTemp(const std::string& tmp, const SaveTarget& target) {
    // Whatever stands under the temporary name is never followed or waited on: a
    // link, a FIFO or a folder there makes the save fail.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                    0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    if (target.exists) ::fchmod(fd, target.mode);
    return fd;
}

bool SyncFile(int fd) {
    if (int err = FaultPoint(FaultSite::Sync)) {
        errno = err;
        return false;
    }
    return ::fsync(fd) == 0;
}

namespace {
void SyncFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.size() < 19 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr time_t kForeignTempAge = 24 * 60 * 60;
}  // namespace

bool RenameOver(const std::string& from, const std::string& to, bool durable) {
    if (int err = FaultPoint(FaultSite::Rename)) {
        errno = err;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename itself reaches the disc with the folder's entry.
    if (durable) SyncFolderOf(to);
    return true;
}

const std::string& HostNameForFiles() {
    static const std::string name = [] {
        char buf[256] = {};
        if (::gethostname(buf, sizeof(buf) - 1) != 0 || !buf[0]) return std::string("localhost");
        std::string h(buf);
        for (char& c : h)
            if (c == '/' || c == '.' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
        return h;
    }();
    return name;
}

bool LocalProcessMayRun(long pid) {
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

int CreateUniqueTemp(const SaveTarget& target, std::string& tmpPath) {
    static std::atomic<unsigned> counter{0};
    const std::string suffix = "." + HostNameForFiles() + "." + std::to_string(::getpid()) + ".";
    // A name too long for the folder keeps the suffix and drops the target's name.
    const size_t slash = target.path.rfind('/');
    const size_t baseLength = target.path.size() - (slash == std::string::npos ? 0 : slash + 1);
    const std::string stem = baseLength + suffix.size() + 16 > 255
                                 ? JoinPath(FolderOf(target.path), ".orbsave")
                                 : target.path;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        tmpPath = stem + suffix + std::to_string(counter.fetch_add(1)) + ".tmp";
        int fd = ::open(tmpPath.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            tmpPath.clear();
            return -1;
        }
        int fl = fcntl(fd, F_GETFL);
        if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
        if (target.exists) ::fchmod(fd, target.mode);
        return fd;
    }
    tmpPath.clear();
    errno = EEXIST;
    return -1;
}

void RemoveStaleTemps(const std::string& folder) {
    const std::string& host = HostNameForFiles();
    const time_t now = ::time(nullptr);
    const long self = static_cast<long>(::getpid());
    ListDirectory(folder, [&](const DirEntry& e) {
        // NAME.HOST.PID.N.tmp, taken apart from the end.
        std::string_view n = e.name;
        if (e.isDirectory || e.isSymlink || n.size() < 4 || n.substr(n.size() - 4) != ".tmp")
            return true;
        n.remove_suffix(4);
        size_t dot = n.rfind('.');
        if (dot == std::string_view::npos || !AllDigits(n.substr(dot + 1))) return true;
        n = n.substr(0, dot);
        dot = n.rfind('.');
        if (dot == std::string_view::npos || !AllDigits(n.substr(dot + 1))) return true;
        const long pid = std::strtol(std::string(n.substr(dot + 1)).c_str(), nullptr, 10);
        n = n.substr(0, dot);
        dot = n.rfind('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == n.size()) return true;
        const bool ours = n.substr(dot + 1) == host;
        const std::string path = JoinPath(folder, e.name);
        if (ours) {
            if (pid != self && !LocalProcessMayRun(pid)) ::unlink(path.c_str());
        } else {
            const int64_t mtime = FileTimeToUnixSeconds(e.writeTime);
            if (now - mtime > kForeignTempAge) ::unlink(path.c_str());
        }
        return true;
    });
}

int PublishNoReplace(const std::string& from, const std::string& to, bool durable) {
    int err = FaultPoint(FaultSite::RenameNoReplace);
    if (err == 0) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            if (durable) SyncFolderOf(to);
            return 0;
        }
        err = errno;
    }
    // NFS and many SMB servers refuse the flag; anything else is a real answer.
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP && err != EOPNOTSUPP) return err;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return errno;
    const bool folder = S_ISDIR(st.st_mode);
    if (!folder) {
        // A second hard link fails on an existing name; then the old one goes.
        err = FaultPoint(FaultSite::Link);
        if (err == 0) {
            if (::link(from.c_str(), to.c_str()) == 0) {
                ::unlink(from.c_str());
                if (durable) SyncFolderOf(to);
                return 0;
            }
            err = errno;
        }
        if (err == EEXIST) return EEXIST;
        if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP && err != ENOSYS && err != EMLINK)
            return err;
    }
    // No atomic refusal at all: the name is taken with an exclusive create first,
    // so a file that appears meanwhile makes the create fail instead of being
    // replaced; the rename then only ever replaces the reservation.
    if (folder) {
        if (::mkdir(to.c_str(), 0700) != 0) return errno;
    } else {
        int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return errno;
        ::close(fd);
    }
    if (!RenameOver(from, to, durable)) {
        err = errno;
        if (folder)
            ::rmdir(to.c_str());
        else
            ::unlink(to.c_str());
        return err;
    }
    return 0;
}

int MakeAnonymousFile(std::string_view data) {
    int fd = ::memfd_create("orb-cover", MFD_CLOEXEC);
    if (fd < 0) return -1;
    // Memory, not a save: no fault point.
    for (size_t done = 0; done < data.size();) {
        ssize_t r = ::write(fd, data.data() + done, data.size() - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return fd;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, bool durable,
                           std::string* error, bool sweepTemps) {
    SaveTarget target;
    int resolveErr = 0;
    if (!ResolveSaveTarget(path, target, resolveErr)) {
        if (error) *error = ErrorText(resolveErr);
        return false;
    }
    if (sweepTemps) RemoveStaleTemps(FolderOf(target.path));
    std::string tmp;
    int fd = CreateUniqueTemp(target, tmp);
    auto fail = [&](int err) {
        if (error) *error = ErrorText(err);
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    if (fd < 0) {
        int err = errno;
        if (error) *error = ErrorText(err);
        return false;
    }
    if (!WriteAppend(fd, data.data(), data.size())) return fail(errno ? errno : EIO);
    if (durable && !SyncFile(fd)) return fail(errno);
    if (::close(fd) != 0) {
        fd = -1;
        return fail(errno);
    }
    fd = -1;
    if (!RenameOver(tmp, target.path, durable)) return fail(errno);
    return true;
}

bool ListDirectory(const std::string& path, const std::function<bool(const DirEntry&)>& onEntry) {
    int dfd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return false;
    DIR* dir = fdopendir(dfd);
    if (!dir) {
        ::close(dfd);
        return false;
    }
    DirEntry e;
    bool complete = true;
    for (;;) {
        errno = 0;
        struct dirent* d = readdir(dir);
        if (!d) {
            // An I/O error ends the listing like its end does; only errno tells.
            complete = errno == 0;
            break;
        }
        e.name.assign(d->d_name);
        e.size = 0;
        e.writeTime = FILETIME{};
        e.isDirectory = false;
        e.isSymlink = false;
        e.unreadable = false;
        if (e.name == "." || e.name == "..") {
            e.isDirectory = true;
        } else {
            struct stat st {};
            if (fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                e.isSymlink = S_ISLNK(st.st_mode);
                e.isDirectory = S_ISDIR(st.st_mode);
                e.size = e.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
                e.writeTime = UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
            } else {
                e.unreadable = true;
                e.isDirectory = d->d_type == DT_DIR;
            }
        }
        if (!onEntry(e)) break;
    }
    closedir(dir);
    return complete;
}

FileStamp StampOfFile(const std::string& path) {
    FileStamp stamp;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return stamp;
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

namespace {
bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
}  // namespace

std::string HostRelativePathOfStored(std::string_view hostBase, std::string_view storedRelative) {
    const std::string decoded = StoredPathToHost(storedRelative);
    if (Exists(JoinPath(hostBase, decoded))) return decoded;
    // Component by component: a category may be a UTF-8 name and the file in it
    // a raw one. Separators are single-byte '\' characters.
    std::string mixed;
    std::string base(hostBase);
    const char* text = storedRelative.data();
    const size_t size = storedRelative.size();
    bool found = true;
    for (size_t at = 0; at <= size && found;) {
        size_t stop = at;
        while (stop < size &&
               !(text[stop] == '\\' && StoredCharLength(text + stop, text + size) == 1))
            stop += StoredCharLength(text + stop, text + size);
        std::string_view part(text + at, stop - at);
        std::string name = StoredToHost(part);
        if (!Exists(JoinPath(base, name))) name.assign(part);
        found = Exists(JoinPath(base, name));
        base = JoinPath(base, name);
        mixed = mixed.empty() ? name : mixed + "/" + name;
        at = stop + 1;  // past the separator (or the end)
    }
    if (found) return mixed;
    // Raw bytes throughout, '\' taken as a separator wherever it stands.
    std::string raw(storedRelative);
    for (char& c : raw)
        if (c == '\\') c = '/';
    if (Exists(JoinPath(hostBase, raw))) return raw;
    return decoded;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string r(dir);
    if (!r.empty() && r.back() != '/') r += '/';
    r.append(name);
    return r;
}

bool IsNetworkFileSystem(const std::string& path) {
    struct statfs st {};
    if (::statfs(path.c_str(), &st) != 0) return false;
    // Magic numbers of linux/magic.h and the file systems' own headers.
    switch (static_cast<unsigned long>(st.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x5346414FUL:  // AFS
        case 0x73757245UL:  // Coda
        case 0x564CUL:      // NCP
        case 0x01021997UL:  // 9p
        case 0x65735546UL:  // FUSE
            return true;
        default:
            return false;
    }
}

}  // namespace orb
