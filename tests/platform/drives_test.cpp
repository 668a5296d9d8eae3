// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drives.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(VirtualDriveTable, ParsesDrivesEmptyDrivesAndSkipsBadLines) {
    int bad = -1;
    auto drives = CVirtualDriveTable::Parse(
        "# comment\n"
        "/discs/one\tDATA\t650000000\n"
        "\n"
        "/discs/empty\n"
        "/discs/bad\tNOCAP\n"
        "/discs/bad2\tX\t12a\n"
        "/discs/cn\t工具盘\t2048\r\n",
        &bad);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(bad, 2);
    EXPECT_EQ(drives[0].folder, "/discs/one");
    EXPECT_EQ(drives[0].label, "DATA");
    EXPECT_EQ(drives[0].capacity, 650000000u);
    EXPECT_FALSE(drives[0].empty);
    EXPECT_TRUE(drives[1].empty);
    EXPECT_EQ(drives[2].label, "工具盘");
    auto again = CVirtualDriveTable::Parse(CVirtualDriveTable::Format(drives));
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[2].capacity, 2048u);
    EXPECT_TRUE(again[1].empty);
}

TEST(VirtualDriveTable, GeometryReproducesCapacityExactly) {
    for (uint64_t cap : {0ULL, 2048ULL, 650000000ULL, 650002048ULL, 4700000000ULL, 12345ULL}) {
        DiskGeometry g = CVirtualDriveTable::GeometryFor(cap);
        EXPECT_EQ(g.Capacity(), cap);
    }
    EXPECT_EQ(CVirtualDriveTable::GeometryFor(4096).ClusterSize(), 2048u);
}

TEST(VirtualDrives, BehaveLikeCdDrives) {
    CVirtualDriveSystem sys({{"/d/one", "DATA", 4096, false}, {"/d/two/", "", 0, true}});
    EXPECT_EQ(sys.GetDriveType("/d/one"), DRIVE_CDROM);
    EXPECT_EQ(sys.GetDriveType("/d/one/"), DRIVE_CDROM);
    EXPECT_EQ(sys.GetDriveType("/d/two"), DRIVE_CDROM);
    EXPECT_NE(sys.GetDriveType("/d"), DRIVE_CDROM);
    DiskGeometry g;
    ASSERT_TRUE(sys.GetDiskFreeSpace("/d/one/", g));
    EXPECT_EQ(g.Capacity(), 4096u);
    EXPECT_FALSE(sys.GetDiskFreeSpace("/d/two/", g));
    std::string label;
    ASSERT_TRUE(sys.GetVolumeLabel("/d/one", label));
    EXPECT_EQ(label, "DATA");
    EXPECT_FALSE(sys.GetVolumeLabel("/d/two", label));
    auto list = sys.ListCdDrives();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].root, "/d/one/");
    EXPECT_EQ(list[1].root, "/d/two/");
    // Ejecting a virtual disc empties the drive.
    EXPECT_TRUE(sys.Eject("/d/one"));
    EXPECT_FALSE(sys.GetDiskFreeSpace("/d/one/", g));
}

}  // namespace
}  // namespace orb
