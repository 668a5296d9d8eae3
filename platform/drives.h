// SPDX-License-Identifier: GPL-3.0-or-later
// Drives as the engine sees them. A Windows drive root ("E:\") is a drive root
// path here: the mount point of the disc in a CD drive (ending with '/'), the
// device node of a drive holding no disc, or the folder of a virtual drive.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orb {

enum DriveType : uint32_t {
    DRIVE_UNKNOWN = 0,
    DRIVE_NO_ROOT_DIR = 1,
    DRIVE_REMOVABLE = 2,
    DRIVE_FIXED = 3,
    DRIVE_REMOTE = 4,
    DRIVE_CDROM = 5,
    DRIVE_RAMDISK = 6,
};

struct DiskGeometry {
    uint32_t sectorsPerCluster = 0;
    uint32_t bytesPerSector = 0;
    uint64_t freeClusters = 0;
    uint64_t totalClusters = 0;
    uint64_t Capacity() const {
        return static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector * totalClusters;
    }
    uint32_t ClusterSize() const { return sectorsPerCluster * bytesPerSector; }
};

// One drive's description: its root, its device (empty for a virtual drive).
struct DriveInfo {
    std::string root;
    std::string device;
    bool isVirtual = false;
};

class IDriveSystem {
public:
    virtual ~IDriveSystem() = default;
    // The CD drives in device order, then the virtual drives.
    virtual std::vector<DriveInfo> ListCdDrives() = 0;
    virtual DriveType GetDriveType(const std::string& root) = 0;
    // False when the drive holds no disc (the geometry cannot be read).
    virtual bool GetDiskFreeSpace(const std::string& root, DiskGeometry& out) = 0;
    // The volume label as stored text; false when it cannot be read.
    virtual bool GetVolumeLabel(const std::string& root, std::string& storedLabel) = 0;
    virtual bool Eject(const std::string& root) = 0;
    virtual bool CloseTray(const std::string& root) = 0;
};

// One virtual CD drive: a folder acting as a disc. An empty drive has no disc:
// its geometry cannot be read.
struct VirtualDrive {
    std::string folder;     // host path; the drive root is this folder plus '/'
    std::string label;      // host text (UTF-8); stored as GB18030
    uint64_t capacity = 0;  // bytes
    bool empty = false;
};

// The virtual drive table. File format (UTF-8 text, one drive a line, '#' starts a
// comment line, fields separated by TAB characters):
//   FOLDER<TAB>LABEL<TAB>CAPACITY   a drive holding a disc
//   FOLDER                          an empty drive
// CAPACITY is a decimal byte count. Blank lines are ignored.
class CVirtualDriveTable {
public:
    // Parses the table text; malformed lines are skipped and counted.
    static std::vector<VirtualDrive> Parse(const std::string& text, int* badLines = nullptr);
    static std::string Format(const std::vector<VirtualDrive>& drives);
    // Geometry reported for a virtual disc: 2048-byte sectors when the capacity is a
    // multiple of 2048, else 1-byte sectors, so capacity round-trips exactly.
    static DiskGeometry GeometryFor(uint64_t capacity);
};

// A drive system made of a list of virtual drives plus an optional inner system
// for everything else (the real drives). Paths are compared after normalising a
// trailing '/'. The list is given, or read from a table file that is read again
// whenever it changes, so editing the file inserts or removes a virtual disc.
class CVirtualDriveSystem : public IDriveSystem {
public:
    explicit CVirtualDriveSystem(std::vector<VirtualDrive> drives = {},
                                 std::shared_ptr<IDriveSystem> inner = nullptr);
    void SetDrives(std::vector<VirtualDrive> drives);
    std::vector<VirtualDrive> Drives() const;
    // Takes the drives from a table file from now on (a missing file: none).
    void FollowTableFile(std::string path);

    std::vector<DriveInfo> ListCdDrives() override;
    DriveType GetDriveType(const std::string& root) override;
    bool GetDiskFreeSpace(const std::string& root, DiskGeometry& out) override;
    bool GetVolumeLabel(const std::string& root, std::string& storedLabel) override;
    bool Eject(const std::string& root) override;
    bool CloseTray(const std::string& root) override;

private:
    bool Find(const std::string& root, VirtualDrive& out);
    // Reads the table file again when it changed since the last look.
    void Refresh();
    mutable std::mutex mutex_;
    std::vector<VirtualDrive> drives_;
    std::shared_ptr<IDriveSystem> inner_;

    std::mutex refreshMutex_;
    std::string tablePath_;
    // Identity of the table file when it was last read.
    bool haveFile_ = false;
    int64_t mtimeNs_ = -1;
    uint64_t size_ = 0;
    uint64_t inode_ = 0;
};

// A drive root path always ends with exactly one '/'.
std::string NormalizeDriveRoot(const std::string& root);

// The drive system the engine uses. Tests and tools install their own; the default
// is the host's (real CD drives plus the table named by ORB_VIRTUAL_DRIVES).
std::shared_ptr<IDriveSystem> Drives();
void SetDriveSystem(std::shared_ptr<IDriveSystem> system);
// The host drive system; provided by the Linux drive layer.
std::shared_ptr<IDriveSystem> CreateHostDriveSystem();

}  // namespace orb
