// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux_drives.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/drive_watcher.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

using test::TempDir;
using test::WriteFile;

// Builds an ISO image of folder with xorriso; false when xorriso is missing.
bool MakeIso(const std::string& folder, const std::string& image, const std::string& label,
             bool joliet) {
    std::string xorriso = ORB_XORRISO;
    if (xorriso.empty() || xorriso.find("NOTFOUND") != std::string::npos) return false;
    std::string cmd = "'" + xorriso + "' -as mkisofs -quiet -V '" + label + "' " +
                      (joliet ? "-J " : "") + "-o '" + image + "' '" + folder + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST(IsoLabel, ReadsJolietAndPrimaryLabelsFromRealImages) {
    TempDir tmp;
    ::mkdir((tmp / "d").c_str(), 0755);
    WriteFile(tmp / "d/readme.txt", "hello");
    struct Case {
        std::string label;
        bool joliet;
    } cases[] = {
        {"工具盘 Vol 2", true},  // Joliet: UCS-2, the label as written
        {"DATA_2024", false},    // primary descriptor only
        {"A", true},
        {"SIXTEEN_CHARS_XY", true},  // fills the Joliet field exactly
    };
    for (const Case& c : cases) {
        const std::string image = tmp / "x.iso";
        ::unlink(image.c_str());
        if (!MakeIso(tmp / "d", image, c.label, c.joliet)) GTEST_SKIP() << "xorriso not available";
        std::string label;
        ASSERT_TRUE(ReadIsoVolumeLabel(image, label)) << c.label;
        EXPECT_EQ(label, c.label);
    }
}

TEST(IsoLabel, DamagedImagesGiveNoLabelAndEndQuickly) {
    TempDir tmp;
    const std::string path = tmp / "bad.iso";
    std::string label;
    // Too short to hold a descriptor.
    WriteFile(path, std::string(16 * 2048 + 100, '\0'));
    EXPECT_FALSE(ReadIsoVolumeLabel(path, label));
    // No descriptor signature.
    WriteFile(path, std::string(20 * 2048, 'x'));
    EXPECT_FALSE(ReadIsoVolumeLabel(path, label));
    // A long run of descriptors without a terminator: read a bounded number.
    std::string sector(2048, ' ');
    sector[0] = 3;
    sector.replace(1, 5, "CD001");
    std::string img(16 * 2048, '\0');
    for (int i = 0; i < 5000; ++i) img += sector;
    WriteFile(path, img);
    EXPECT_TRUE(ReadIsoVolumeLabel(path, label) == false);
    // A Joliet descriptor with an unpaired surrogate and no primary.
    std::string joliet(2048, '\0');
    joliet[0] = 2;
    joliet.replace(1, 5, "CD001");
    joliet.replace(88, 3, "%/E");
    const unsigned char name[] = {0xD8, 0x00, 0x00, 'A', 0x00, ' '};
    joliet.replace(40, sizeof name, reinterpret_cast<const char*>(name), sizeof name);
    WriteFile(path, std::string(16 * 2048, '\0') + joliet);
    ASSERT_TRUE(ReadIsoVolumeLabel(path, label));
    EXPECT_EQ(label,
              "\xEF\xBF\xBD"
              "A");
    EXPECT_FALSE(ReadIsoVolumeLabel(tmp / "missing.iso", label));
}

TEST(MountInfo, ParsesFieldsOptionalTagsAndEscapes) {
    auto m = ParseMountInfo(
        "36 35 98:0 / /mnt1 rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n"
        "40 27 11:2 / /media/u/My\\040Disc\\134x ro shared:5 master:2 - iso9660 /dev/sr2 ro\n"
        "garbage line\n"
        "41 27 0:50 / /net rw - nfs4 server:/export rw\n");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].major, 98u);
    EXPECT_EQ(m[0].mountPoint, "/mnt1");
    EXPECT_EQ(m[0].fsType, "ext3");
    EXPECT_EQ(m[1].mountPoint, "/media/u/My Disc\\x");
    EXPECT_EQ(m[1].minor, 2u);
    EXPECT_EQ(m[1].source, "/dev/sr2");
    EXPECT_EQ(m[2].fsType, "nfs4");
}

// A fake system tree: sysfs block devices, a mount table, udev data, /dev.
class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"sys", "udev", "dev", "media", "media/disc2", "media/disc10",
                              "media/ram", "media/net", "media/data"})
            ::mkdir((tmp_ / d).c_str(), 0755);
        // Device order is numeric: sr0, sr2, sr10; other block devices are ignored.
        for (const char* n : {"sr10", "sr2", "sda", "sr0", "srx"}) {
            ::mkdir((tmp_ / ("sys/" + std::string(n))).c_str(), 0755);
            std::string minor = std::string(n) == "sda" ? "8:0" : "11:" + std::string(n + 2);
            WriteFile(tmp_ / ("sys/" + std::string(n) + "/dev"), minor + "\n");
            WriteFile(tmp_ / ("sys/" + std::string(n) + "/size"), "0\n");
            WriteFile(tmp_ / ("dev/" + std::string(n)), "");
        }
        paths_.sysBlock = tmp_ / "sys";
        paths_.mountInfo = tmp_ / "mountinfo";
        paths_.udevData = tmp_ / "udev";
        paths_.devDir = tmp_ / "dev";
        WriteMounts("");
    }
    void WriteMounts(const std::string& extra) {
        WriteFile(paths_.mountInfo,
                  "22 1 0:21 / /proc rw - proc proc rw\n"
                  "50 1 11:2 / " +
                      tmp_.path() +
                      "/media/disc2 ro - iso9660 /dev/sr2 ro\n"
                      "51 1 11:10 / " +
                      tmp_.path() + "/media/disc10 ro - iso9660 " + tmp_.path() +
                      "/image.iso ro\n"
                      "52 1 0:40 / " +
                      tmp_.path() +
                      "/media/ram rw - tmpfs tmpfs rw\n"
                      "53 1 0:41 / " +
                      tmp_.path() +
                      "/media/net rw - nfs4 srv:/x rw\n"
                      "54 1 8:1 / " +
                      tmp_.path() + "/media/data rw - ext4 /dev/sda1 rw\n" + extra);
    }
    TempDir tmp_;
    LinuxDrivePaths paths_;
};

TEST_F(FakeSystem, ListsCdDrivesInDeviceOrderWithTheirRoots) {
    CLinuxDriveSystem sys(paths_);
    auto drives = sys.ListCdDrives();
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].device, tmp_ / "dev/sr0");
    EXPECT_EQ(drives[0].root, tmp_ / "dev/sr0");  // empty drive: its device node
    EXPECT_EQ(drives[1].root, tmp_ / "media/disc2/");
    EXPECT_EQ(drives[2].device, tmp_ / "dev/sr10");
    EXPECT_EQ(drives[2].root, tmp_ / "media/disc10/");
    for (const DriveInfo& d : drives) EXPECT_FALSE(d.isVirtual);
}

TEST_F(FakeSystem, DriveTypesFollowTheDeviceAndTheMountTable) {
    CLinuxDriveSystem sys(paths_);
    struct Case {
        std::string root;
        DriveType type;
    } cases[] = {
        {tmp_ / "dev/sr0", DRIVE_CDROM},
        {tmp_ / "media/disc2", DRIVE_CDROM},
        {tmp_ / "media/disc2/", DRIVE_CDROM},
        {tmp_ / "media/ram/", DRIVE_RAMDISK},
        {tmp_ / "media/net", DRIVE_REMOTE},
        {tmp_ / "media", DRIVE_NO_ROOT_DIR},
        {tmp_ / "media/disc2/sub", DRIVE_NO_ROOT_DIR},
    };
    for (const Case& c : cases) EXPECT_EQ(sys.GetDriveType(c.root), c.type) << c.root;
    DriveType data = sys.GetDriveType(tmp_ / "media/data");
    EXPECT_TRUE(data == DRIVE_FIXED || data == DRIVE_REMOVABLE);
}

TEST_F(FakeSystem, GeometryComesFromStatvfsAndFailsOnAnEmptyDrive) {
    CLinuxDriveSystem sys(paths_);
    DiskGeometry g;
    EXPECT_FALSE(sys.GetDiskFreeSpace(tmp_ / "dev/sr0", g));
    EXPECT_FALSE(sys.GetDiskFreeSpace(tmp_ / "nowhere/", g));
    ASSERT_TRUE(sys.GetDiskFreeSpace(tmp_ / "media/disc2/", g));
    struct statvfs v {};
    ASSERT_EQ(::statvfs((tmp_ / "media/disc2").c_str(), &v), 0);
    EXPECT_EQ(g.Capacity(), uint64_t(v.f_frsize) * v.f_blocks);
    EXPECT_EQ(g.ClusterSize(), v.f_frsize);
}

TEST_F(FakeSystem, LabelsFromUdevElseFromTheVolumeDescriptor) {
    CLinuxDriveSystem sys(paths_);
    std::string label;
    // udev: the encoded form keeps spaces; it is preferred over the plain form.
    WriteFile(tmp_ / "udev/b11:2",
              "S:disk/by-label/My_Disc\nE:ID_FS_TYPE=iso9660\nE:ID_FS_LABEL=My_Disc\n"
              "E:ID_FS_LABEL_ENC=My\\x20Disc\\x20\xE5\x85\x89\xE7\x9B\x98\n");
    ASSERT_TRUE(sys.GetVolumeLabel(tmp_ / "media/disc2/", label));
    EXPECT_EQ(label, "My Disc \xB9\xE2\xC5\xCC");  // "光盘" as stored GBK bytes
    // No udev record: the descriptor of the mounted image.
    ::mkdir((tmp_ / "content").c_str(), 0755);
    WriteFile(tmp_ / "content/f", "x");
    if (!MakeIso(tmp_ / "content", tmp_ / "image.iso", "软件光盘", true))
        GTEST_SKIP() << "xorriso not available";
    ASSERT_TRUE(sys.GetVolumeLabel(tmp_ / "media/disc10", label));
    EXPECT_EQ(label, HostToStored("软件光盘"));
    // Not a mount point: no label.
    EXPECT_FALSE(sys.GetVolumeLabel(tmp_ / "dev/sr0", label));
}

TEST(UdevLabel, PlainLabelAndFileSystemWithoutLabel) {
    TempDir tmp;
    std::string label = "unchanged";
    WriteFile(tmp / "b8:1", "E:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=home\n");
    ASSERT_TRUE(ReadUdevLabel(tmp.path(), 8, 1, label));
    EXPECT_EQ(label, "home");
    WriteFile(tmp / "b8:2", "E:ID_FS_TYPE=vfat\n");
    ASSERT_TRUE(ReadUdevLabel(tmp.path(), 8, 2, label));
    EXPECT_EQ(label, "");
    WriteFile(tmp / "b8:3", "E:ID_MODEL=x\n");
    EXPECT_FALSE(ReadUdevLabel(tmp.path(), 8, 3, label));
    EXPECT_FALSE(ReadUdevLabel(tmp.path(), 8, 4, label));
}

TEST_F(FakeSystem, TrayCommandsRefuseRootsThatAreNoCdDrive) {
    CLinuxDriveSystem sys(paths_);
    EXPECT_FALSE(sys.Eject(tmp_ / "media/data"));
    EXPECT_FALSE(sys.CloseTray(tmp_ / "media"));
    // The fake device node is a plain file: the ioctl is refused, not faked.
    EXPECT_FALSE(sys.Eject(tmp_ / "dev/sr0"));
}

TEST_F(FakeSystem, HostSystemAddsTheVirtualTableAndFollowsItsEdits) {
    const std::string table = tmp_ / "drives.tab";
    ::mkdir((tmp_ / "v1").c_str(), 0755);
    WriteFile(table, tmp_ / "v1" + "\tVDISC\t4096\n");
    CVirtualDriveSystem sys({}, std::make_shared<CLinuxDriveSystem>(paths_));
    sys.FollowTableFile(table);
    auto drives = sys.ListCdDrives();
    ASSERT_EQ(drives.size(), 4u);
    EXPECT_EQ(drives[3].root, tmp_ / "v1/");
    EXPECT_TRUE(drives[3].isVirtual);
    EXPECT_EQ(sys.GetDriveType(tmp_ / "v1"), DRIVE_CDROM);
    EXPECT_EQ(sys.GetDriveType(tmp_ / "media/ram"), DRIVE_RAMDISK);
    DiskGeometry g;
    ASSERT_TRUE(sys.GetDiskFreeSpace(tmp_ / "v1", g));
    EXPECT_EQ(g.Capacity(), 4096u);

    // "Removing the disc": the line becomes an empty drive.
    WriteFile(table, tmp_ / "v1" + "\n# removed\n");
    EXPECT_FALSE(sys.GetDiskFreeSpace(tmp_ / "v1", g));
    EXPECT_EQ(sys.GetDriveType(tmp_ / "v1"), DRIVE_CDROM);
    // Inserting another, by replacing the file as editors do.
    WriteFile(table + ".new", tmp_ / "v1" + "\t新盘\t8192\n");
    ASSERT_EQ(::rename((table + ".new").c_str(), table.c_str()), 0);
    std::string label;
    ASSERT_TRUE(sys.GetVolumeLabel(tmp_ / "v1/", label));
    EXPECT_EQ(label, HostToStored("新盘"));
    ASSERT_TRUE(sys.GetDiskFreeSpace(tmp_ / "v1", g));
    EXPECT_EQ(g.Capacity(), 8192u);
    // Deleting the table removes its drives.
    ::unlink(table.c_str());
    EXPECT_EQ(sys.ListCdDrives().size(), 3u);
    EXPECT_NE(sys.GetDriveType(tmp_ / "v1"), DRIVE_CDROM);
}

class WatcherTest : public FakeSystem {
protected:
    void Wait(DriveChange want) {
        std::unique_lock<std::mutex> lock(m_);
        EXPECT_TRUE(cv_.wait_for(lock, std::chrono::seconds(5), [&] { return seen_.count(want); }))
            << static_cast<int>(want);
        seen_.clear();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::set<DriveChange> seen_;
};

TEST_F(WatcherTest, ReportsMountTableMediaAndTableChanges) {
    CDriveWatcher::Options opt;
    opt.paths = paths_;
    opt.virtualTable = tmp_ / "drives.tab";
    opt.pollMs = 50;
    CDriveWatcher watcher(
        [&](DriveChange c) {
            std::lock_guard<std::mutex> lock(m_);
            seen_.insert(c);
            cv_.notify_all();
        },
        opt);
    ASSERT_TRUE(watcher.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    {
        std::lock_guard<std::mutex> lock(m_);
        EXPECT_TRUE(seen_.empty());  // nothing changed yet
    }
    WriteMounts("60 1 11:0 / /media/new ro - iso9660 /dev/sr0 ro\n");
    Wait(DriveChange::MountTable);
    WriteFile(tmp_ / "sys/sr0/size", "1290240\n");
    Wait(DriveChange::Media);
    WriteFile(opt.virtualTable, "/somewhere\n");
    Wait(DriveChange::VirtualTable);
    watcher.Stop();
    std::lock_guard<std::mutex> lock(m_);
    seen_.clear();
}

}  // namespace
}  // namespace orb
