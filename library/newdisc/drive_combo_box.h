// SPDX-License-Identifier: GPL-3.0-or-later
// CDriveComboBox: the list of CD drives (virtual ones included) with their names and
// a drive icon; in folder mode it holds one folder instead.
#pragma once

#include <QComboBox>
#include <cstdint>
#include <string>

namespace orb {

// Drive kinds a list may ask for.
constexpr uint32_t DRIVE_KIND_FIXED = 0x01;
constexpr uint32_t DRIVE_KIND_CDROM = 0x02;
constexpr uint32_t DRIVE_KIND_REMOVABLE = 0x04;
constexpr uint32_t DRIVE_KIND_REMOTE = 0x08;
constexpr uint32_t DRIVE_KIND_RAMDISK = 0x10;

class CDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    // Entries are 20 pixels high.
    static constexpr int kItemHeight = 20;

    explicit CDriveComboBox(QWidget* parent = nullptr);

    // Empties the list and fills it with the drives of the kinds asked for, in the
    // drive layer's order. Only CD drives are listed: the new disc image dialog, the
    // one user, asks for nothing else. Always 1.
    int FillDrives(uint32_t kindMask);
    // Makes the list one entry: the folder (a root ending with '/'), with a folder
    // icon.
    void SetFolder(const std::string& root);

    // The drive root of an entry ("" for a position outside the list).
    std::string DriveOf(int position) const;
};

}  // namespace orb
