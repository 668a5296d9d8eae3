// SPDX-License-Identifier: GPL-3.0-or-later
// The drive list of the new disc image dialog.
#include "library/newdisc/drive_combo_box.h"

#include <QApplication>
#include <QStyle>
#include <QStyledItemDelegate>

#include "library/newdisc/new_disc_rules.h"
#include "platform/drives.h"
#include "platform/text.h"

namespace orb {

namespace {

constexpr int kRootRole = Qt::UserRole + 1;

class CDriveItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(CDriveComboBox::kItemHeight);
        return s;
    }
};

QIcon StyleIcon(QStyle::StandardPixmap which) {
    return QApplication::style() ? QApplication::style()->standardIcon(which) : QIcon();
}

}  // namespace

CDriveComboBox::CDriveComboBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new CDriveItemDelegate(this));
    setIconSize(QSize(16, 16));
}

int CDriveComboBox::FillDrives(uint32_t kindMask) {
    clear();
    if (!(kindMask & DRIVE_KIND_CDROM)) return 1;
    std::shared_ptr<IDriveSystem> drives = Drives();
    const QIcon icon = StyleIcon(QStyle::SP_DriveCDIcon);
    for (const DriveInfo& d : drives->ListCdDrives()) {
        DiskGeometry g;
        const bool hasDisc = drives->GetDiskFreeSpace(d.root, g);
        std::string stored;
        if (hasDisc) drives->GetVolumeLabel(d.root, stored);
        const std::string text = DriveDisplayName(d.root, StoredToHost(stored), hasDisc);
        addItem(icon, QString::fromStdString(text));
        setItemData(count() - 1, QString::fromStdString(d.root), kRootRole);
    }
    return 1;
}

void CDriveComboBox::SetFolder(const std::string& root) {
    clear();
    std::string shown = root;
    if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    addItem(StyleIcon(QStyle::SP_DirIcon), QString::fromStdString(shown));
    setItemData(0, QString::fromStdString(root), kRootRole);
}

std::string CDriveComboBox::DriveOf(int position) const {
    if (position < 0 || position >= count()) return {};
    return itemData(position, kRootRole).toString().toStdString();
}

}  // namespace orb
