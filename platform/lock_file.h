// SPDX-License-Identifier: GPL-3.0-or-later
// A lock file beside a shared file, so that writers on several machines take turns.
#pragma once

#include <sys/types.h>

#include <string>

namespace orb {

// The lock file of target: "<target>.lock".
std::string LockPathFor(const std::string& target);

// An exclusively created file holding host, process id, user and time. It is held
// only while a file is read, merged and written, never while the user decides. A
// lock whose process is gone on this host, or that is older than a minute (its
// host never renews it), is taken over: its holder crashed or lost its share.
class CLockFile {
public:
    explicit CLockFile(std::string lockPath);
    ~CLockFile();
    CLockFile(const CLockFile&) = delete;
    CLockFile& operator=(const CLockFile&) = delete;

    // Waits up to timeoutMs for the lock. False with errno set (ETIMEDOUT while
    // another writer holds it, or why the file cannot be created).
    bool Lock(int timeoutMs = 10000);
    void Unlock();
    bool IsLocked() const { return locked_; }

    // How old a lock of another host must be before it is taken over.
    static constexpr int kStaleSeconds = 60;
    // How old a lock file without its holder's lines must be to be taken over.
    static constexpr int kHalfMadeSeconds = 3;

private:
    bool TryCreate();
    bool TakeOverIfStale();

    std::string path_;
    bool locked_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::string text_;  // what this lock file holds
};

}  // namespace orb
