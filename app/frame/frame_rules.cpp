// Main window rules without a window.
#include "app/frame/frame_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "index/index_reader.h"
#include "library/tree/library_tree.h"
#include "platform/drives.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace orb {

std::vector<DiscInDrive> DiscsInDrives(IDriveSystem& drives) {
    std::vector<DiscInDrive> out;
    for (const DriveInfo& drive : drives.ListCdDrives()) {
        if (drives.GetDriveType(drive.root) != DRIVE_CDROM) continue;
        DiskGeometry geometry;
        if (!drives.GetDiskFreeSpace(drive.root, geometry)) continue;
        DiscInDrive disc;
        disc.root = drive.root;
        disc.capacity = geometry.Capacity();
        if (!drives.GetVolumeLabel(drive.root, disc.storedLabel)) disc.storedLabel.clear();
        out.push_back(std::move(disc));
    }
    return out;
}

bool HasArrival(const std::vector<DiscInDrive>& before, const std::vector<DiscInDrive>& after) {
    for (const DiscInDrive& disc : after) {
        bool known = false;
        for (const DiscInDrive& old : before)
            if (old == disc) known = true;
        if (!known) return true;
    }
    return false;
}

QTreeWidgetItem* FindLibraryDisc(const CLibraryTree& tree, const std::string& storedLabel,
                                 uint64_t capacity, std::string* indexPath) {
    for (QTreeWidgetItem* item = tree.RootItem(); item; item = tree.NextItemPreorder(item)) {
        if (tree.IsCategoryItem(item)) continue;
        const std::string path = tree.GetItemPath(item, true);
        IndexHeader header;
        if (!ProbeIndexHeader(path, header)) continue;
        if (header.capacity != capacity || HeaderLabel(header) != storedLabel) continue;
        if (indexPath) *indexPath = path;
        return item;
    }
    return nullptr;
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine cl;
    if (args.size() == 1 && args[0] == QStringLiteral("/minimize")) {
        cl.startHidden = true;
        return cl;
    }
    // Switches are flags the standard rules ignore; the first plain argument is
    // the file to open.
    for (const QString& arg : args) {
        static const QRegularExpression kSwitch(QStringLiteral("^/[A-Za-z]+$"));
        if (kSwitch.match(arg).hasMatch() && !QFileInfo::exists(arg)) continue;
        if (arg.startsWith('-')) continue;
        cl.file = arg;
        break;
    }
    return cl;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string StripExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return path;
    return path.substr(0, dot);
}

static void SetError(std::string* error, int err) {
    if (error) *error = std::strerror(err);
}

// Copies into a target that must not exist yet; removes the partial copy on failure.
static bool CopyExclusive(const std::string& from, const std::string& to, int& err) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        err = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        err = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(in);
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        err = errno;
        ::close(in);
        return false;
    }
    char buf[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (ok && ::fsync(out) != 0) ok = false;
    if (!ok) err = errno;
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    ::close(in);
    if (!ok) ::unlink(to.c_str());
    return ok;
}

MoveResult MoveFileNoReplace(const std::string& from, const std::string& to, std::string* error) {
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) ==
        0)
        return MoveResult::Moved;
    int err = errno;
    if (err == EEXIST) return MoveResult::TargetExists;
    if (err == EINVAL || err == ENOSYS) {
        // File systems without the flag: a hard link never replaces either.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0) return MoveResult::Moved;
            err = errno;
            ::unlink(to.c_str());
            SetError(error, err);
            return MoveResult::Failed;
        }
        err = errno;
        if (err == EEXIST) return MoveResult::TargetExists;
    }
    if (err == EXDEV || err == EPERM || err == EINVAL || err == ENOSYS) {
        if (!CopyExclusive(from, to, err)) {
            if (err == EEXIST) return MoveResult::TargetExists;
            SetError(error, err);
            return MoveResult::Failed;
        }
        if (::unlink(from.c_str()) != 0) {
            err = errno;
            ::unlink(to.c_str());
            SetError(error, err);
            return MoveResult::Failed;
        }
        return MoveResult::Moved;
    }
    SetError(error, err);
    return MoveResult::Failed;
}

}  // namespace orb
