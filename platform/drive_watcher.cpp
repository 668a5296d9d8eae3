// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drive_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"

namespace orb {

CDriveWatcher::CDriveWatcher(Callback onChange) : CDriveWatcher(std::move(onChange), Options{}) {}

CDriveWatcher::CDriveWatcher(Callback onChange, Options options)
    : onChange_(std::move(onChange)), options_(std::move(options)) {
    if (options_.virtualTable.empty()) {
        if (const char* t = std::getenv("ORB_VIRTUAL_DRIVES")) options_.virtualTable = t;
    }
}

CDriveWatcher::~CDriveWatcher() {
    Stop();
}

std::string CDriveWatcher::MediaSnapshot() const {
    // A drive's size in sectors is 0 without a medium and changes with the medium.
    std::string snap;
    ListDirectory(options_.paths.sysBlock, [&](const DirEntry& e) {
        if (e.name.compare(0, 2, "sr") != 0) return true;
        std::string size;
        ReadWholeFile(JoinPath(JoinPath(options_.paths.sysBlock, e.name), "size"), size, 64);
        snap += e.name + "=" + size + ";";
        return true;
    });
    return snap;
}

std::string CDriveWatcher::MountSnapshot() const {
    std::string text;
    ReadWholeFile(options_.paths.mountInfo, text, 16 << 20);
    return text;
}

std::string CDriveWatcher::TableSnapshot() const {
    if (options_.virtualTable.empty()) return {};
    struct stat st {};
    if (::stat(options_.virtualTable.c_str(), &st) != 0) return "none";
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

bool CDriveWatcher::Start() {
    if (thread_.joinable()) return true;
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    lastMounts_ = MountSnapshot();
    lastMedia_ = MediaSnapshot();
    lastTable_ = TableSnapshot();
    thread_ = std::thread([this] { Run(); });
    return true;
}

void CDriveWatcher::Stop() {
    if (!thread_.joinable()) return;
    char b = 1;
    (void)!::write(stopPipe_[1], &b, 1);
    thread_.join();
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    stopPipe_[0] = stopPipe_[1] = -1;
}

void CDriveWatcher::CheckAll() {
    std::string mounts = MountSnapshot();
    if (mounts != lastMounts_) {
        lastMounts_ = std::move(mounts);
        onChange_(DriveChange::MountTable);
    }
    std::string media = MediaSnapshot();
    if (media != lastMedia_) {
        lastMedia_ = std::move(media);
        onChange_(DriveChange::Media);
    }
    std::string table = TableSnapshot();
    if (table != lastTable_) {
        lastTable_ = std::move(table);
        onChange_(DriveChange::VirtualTable);
    }
}

void CDriveWatcher::Run() {
    // The mount table signals a change with POLLPRI; editors replace the table
    // file by rename, so its directory is watched rather than the file.
    int mountFd = ::open(options_.paths.mountInfo.c_str(), O_RDONLY | O_CLOEXEC);
    int inotifyFd = -1;
    if (!options_.virtualTable.empty()) {
        inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (inotifyFd >= 0) {
            std::string dir = options_.virtualTable;
            size_t slash = dir.rfind('/');
            dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
            ::inotify_add_watch(
                inotifyFd, dir.c_str(),
                IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB);
        }
    }
    for (;;) {
        struct pollfd fds[3];
        nfds_t n = 0;
        fds[n++] = {stopPipe_[0], POLLIN, 0};
        const nfds_t mountIdx = n;
        if (mountFd >= 0) fds[n++] = {mountFd, POLLPRI, 0};
        const nfds_t inotifyIdx = n;
        if (inotifyFd >= 0) fds[n++] = {inotifyFd, POLLIN, 0};
        int r = ::poll(fds, n, options_.pollMs);
        if (r < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        if (mountFd >= 0 && (fds[mountIdx].revents & (POLLPRI | POLLERR))) {
            // Reading the table again re-arms the notification.
            char buf[4096];
            ::lseek(mountFd, 0, SEEK_SET);
            while (::read(mountFd, buf, sizeof buf) > 0) {
            }
        }
        if (inotifyFd >= 0 && (fds[inotifyIdx].revents & POLLIN)) {
            char buf[4096];
            while (::read(inotifyFd, buf, sizeof buf) > 0) {
            }
        }
        CheckAll();
    }
    if (mountFd >= 0) ::close(mountFd);
    if (inotifyFd >= 0) ::close(inotifyFd);
}

}  // namespace orb
