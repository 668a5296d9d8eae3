// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux drive layer: CD/DVD devices from sysfs, mount points from the mount
// table, geometry from statvfs, labels from udev or the disc's volume descriptor,
// and the tray ioctls. Every system path is injectable so tests can use a fake tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace orb {

struct LinuxDrivePaths {
    std::string sysBlock = "/sys/class/block";
    std::string mountInfo = "/proc/self/mountinfo";
    std::string udevData = "/run/udev/data";
    std::string devDir = "/dev";
};

// One line of the mount table.
struct MountEntry {
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string mountPoint;  // octal escapes decoded
    std::string fsType;
    std::string source;
};

// Parses mountinfo text; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// Reads the volume label from an ISO 9660 image or device: the Joliet
// supplementary descriptor's name when there is one (as Windows shows it), else
// the primary descriptor's. Trailing spaces are dropped. utf8Label is host text.
// False when no ISO 9660 descriptor set is found.
bool ReadIsoVolumeLabel(const std::string& deviceOrImage, std::string& utf8Label);

// The label udev recorded for a block device ("b<major>:<minor>" in its data
// directory): ID_FS_LABEL_ENC decoded, else ID_FS_LABEL. found is false when the
// file does not name a file system; label may then still be empty for a
// file system without one.
bool ReadUdevLabel(const std::string& udevData, uint32_t major, uint32_t minor,
                   std::string& utf8Label);

class CLinuxDriveSystem : public IDriveSystem {
public:
    explicit CLinuxDriveSystem(LinuxDrivePaths paths = {});

    // The sr devices in device order; root = mount point of the disc, or the device
    // node while the drive holds none.
    std::vector<DriveInfo> ListCdDrives() override;
    DriveType GetDriveType(const std::string& root) override;
    bool GetDiskFreeSpace(const std::string& root, DiskGeometry& out) override;
    bool GetVolumeLabel(const std::string& root, std::string& storedLabel) override;
    bool Eject(const std::string& root) override;
    bool CloseTray(const std::string& root) override;

    // A drive's device node for a root (its mount point or its device node); empty
    // when the root is no CD drive.
    std::string CdDeviceFor(const std::string& root);

private:
    struct SrDevice {
        std::string name;  // "sr0"
        std::string node;  // "/dev/sr0"
        uint32_t major = 0;
        uint32_t minor = 0;
    };
    std::vector<SrDevice> ListSr() const;
    std::vector<MountEntry> Mounts() const;
    const MountEntry* FindMountPoint(const std::vector<MountEntry>& mounts,
                                     const std::string& root) const;
    bool TrayIoctl(const std::string& root, unsigned long request);

    LinuxDrivePaths paths_;
};

}  // namespace orb
