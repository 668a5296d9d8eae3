// SPDX-License-Identifier: GPL-3.0-or-later
// Watches what makes a disc arrive or leave: the mount table, the media of the CD
// drives and the virtual drive table file. Changes are reported on the watcher's
// own thread; a window posts them on to itself.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/linux_drives.h"

namespace orb {

enum class DriveChange {
    MountTable,    // a file system was mounted or unmounted
    Media,         // a CD drive's medium changed (inserted, removed, tray)
    VirtualTable,  // the virtual drive table file was edited, created or removed
};

class CDriveWatcher {
public:
    using Callback = std::function<void(DriveChange)>;
    struct Options {
        LinuxDrivePaths paths;
        // The virtual drive table; empty: ORB_VIRTUAL_DRIVES when set.
        std::string virtualTable;
        // How often media sizes and files are compared when nothing woke the watcher.
        int pollMs = 1000;
    };

    explicit CDriveWatcher(Callback onChange);
    CDriveWatcher(Callback onChange, Options options);
    ~CDriveWatcher();
    CDriveWatcher(const CDriveWatcher&) = delete;
    CDriveWatcher& operator=(const CDriveWatcher&) = delete;

    bool Start();
    // Stops and joins the watcher thread; no callback runs after it returns.
    void Stop();

private:
    void Run();
    void CheckAll();
    std::string MediaSnapshot() const;
    std::string MountSnapshot() const;
    std::string TableSnapshot() const;

    Callback onChange_;
    Options options_;
    std::thread thread_;
    int stopPipe_[2] = {-1, -1};
    std::string lastMounts_, lastMedia_, lastTable_;
};

}  // namespace orb
