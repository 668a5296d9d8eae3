// SPDX-License-Identifier: GPL-3.0-or-later
// Lock files for read-merge-write saves on shared folders.
#include "platform/lock_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/files.h"

namespace orb {

namespace {
std::string UserName() {
    if (const char* u = std::getenv("USER"); u && *u) return u;
    if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
    return std::to_string(::getuid());
}
}  // namespace

std::string LockPathFor(const std::string& target) {
    return target + ".lock";
}

CLockFile::CLockFile(std::string lockPath) : path_(std::move(lockPath)) {}

CLockFile::~CLockFile() {
    Unlock();
}

bool CLockFile::TryCreate() {
    const std::string text = HostNameForFiles() + "\n" + std::to_string(::getpid()) + "\n" +
                             UserName() + "\n" + std::to_string(::time(nullptr)) + "\n";
    // Written whole under a name of its own and then put in place: a process
    // killed between creating the lock and filling it would leave an empty lock
    // that names no process, so nobody could tell that its holder is gone.
    std::string tmp;
    int fd = CreateUniqueTemp(SaveTarget{path_, false, 0644}, tmp);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) {
        ::unlink(tmp.c_str());
        errno = EIO;
        return false;
    }
    // Put in place without replacing a lock that is there. Direct calls rather
    // than PublishNoReplace: the lock is no part of the saved data, and a save's
    // fault points must not count it.
    int err = ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) == 0
                  ? 0
                  : errno;
    if (err != 0 && err != EEXIST) err = ::link(tmp.c_str(), path_.c_str()) == 0 ? 0 : errno;
    ::unlink(tmp.c_str());  // gone already after the rename
    if (err != 0 && err != EEXIST) {
        // Neither is offered: an exclusive create, filled at once. Only a crash
        // between the two leaves it half made.
        fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return false;
        const bool filled =
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        if (!filled) {
            ::unlink(path_.c_str());
            errno = EIO;
            return false;
        }
        err = 0;
    }
    if (err != 0) {
        errno = err;
        return false;
    }
    struct stat st {};
    ::lstat(path_.c_str(), &st);
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    text_ = text;
    locked_ = true;
    return true;
}

bool CLockFile::TakeOverIfStale() {
    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0) return errno == ENOENT;  // gone: try again at once
    if (!S_ISREG(st.st_mode)) return false;
    std::string text;
    ReadWholeFile(path_, text, 4096);
    // host, pid, user, time. A lock is put in place whole; one without its four
    // lines was left half made (a crash inside the last fallback of publishing,
    // a full disk) and names no holder: it is stale after a few seconds.
    const long age = static_cast<long>(::time(nullptr) - st.st_mtime);
    const bool whole = std::count(text.begin(), text.end(), '\n') >= 4;
    bool stale = age >= kStaleSeconds || (!whole && age >= kHalfMadeSeconds);
    size_t nl = text.find('\n');
    if (!stale && nl != std::string::npos && text.substr(0, nl) == HostNameForFiles()) {
        const long pid = std::strtol(text.c_str() + nl + 1, nullptr, 10);
        stale = pid > 0 && !LocalProcessMayRun(pid);
    }
    if (!stale) return false;
    // Moved aside under a name of our own, so two processes that both saw it stale
    // cannot both remove it and one remove the other's new lock.
    SaveTarget aside{path_, false, 0644};
    std::string asidePath;
    int fd = CreateUniqueTemp(aside, asidePath);
    if (fd < 0) return false;
    ::close(fd);
    if (::rename(path_.c_str(), asidePath.c_str()) != 0) {
        ::unlink(asidePath.c_str());
        return errno == ENOENT;
    }
    struct stat moved {};
    if (::lstat(asidePath.c_str(), &moved) == 0 &&
        (moved.st_ino != st.st_ino || moved.st_dev != st.st_dev)) {
        // A fresh lock replaced the stale one meanwhile: it goes back.
        PublishNoReplace(asidePath, path_);
    }
    ::unlink(asidePath.c_str());
    return true;
}

bool CLockFile::Lock(int timeoutMs) {
    if (locked_) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int pause = 5;
    for (;;) {
        if (TryCreate()) return true;
        if (errno != EEXIST) return false;
        if (TakeOverIfStale()) continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        pause = std::min(pause * 2, 100);
    }
}

void CLockFile::Unlock() {
    if (!locked_) return;
    locked_ = false;
    // Only our own lock is removed: one taken over after we stalled is not ours.
    // The inode alone is not enough: a file system may give a new lock the
    // number of a removed one.
    struct stat st {};
    std::string text;
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_ &&
        ReadWholeFile(path_, text, 4096) && text == text_)
        ::unlink(path_.c_str());
}

}  // namespace orb
