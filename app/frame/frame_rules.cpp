// SPDX-License-Identifier: GPL-3.0-or-later
// Main window rules without a window.
#include "app/frame/frame_rules.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "index/index_reader.h"
#include "library/tree/library_tree.h"
#include "platform/drives.h"

namespace orb {

std::vector<DiscInDrive> DiscsInDrives(IDriveSystem& drives) {
    std::vector<DiscInDrive> out;
    for (const DriveInfo& drive : drives.ListCdDrives()) {
        if (drives.GetDriveType(drive.root) != DRIVE_CDROM) continue;
        DiskGeometry geometry;
        if (!drives.GetDiskFreeSpace(drive.root, geometry)) continue;
        DiscInDrive disc;
        disc.root = drive.root;
        disc.capacity = geometry.Capacity();
        if (!drives.GetVolumeLabel(drive.root, disc.storedLabel)) disc.storedLabel.clear();
        out.push_back(std::move(disc));
    }
    return out;
}

bool HasArrival(const std::vector<DiscInDrive>& before, const std::vector<DiscInDrive>& after) {
    for (const DiscInDrive& disc : after) {
        bool known = false;
        for (const DiscInDrive& old : before)
            if (old == disc) known = true;
        if (!known) return true;
    }
    return false;
}

QTreeWidgetItem* FindLibraryDisc(const CLibraryTree& tree, const std::string& storedLabel,
                                 uint64_t capacity, std::string* indexPath) {
    // A header keeps only the label's first 49 bytes.
    const std::string_view label = LabelAsInHeader(storedLabel);
    return tree.FindDiscByHeader(
        [&](const IndexHeader& header) {
            return header.capacity == capacity && HeaderLabel(header) == label;
        },
        indexPath);
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine cl;
    if (args.size() == 1 && args[0] == QStringLiteral("/minimize")) {
        cl.startHidden = true;
        return cl;
    }
    // Switches are flags the standard rules ignore; the first plain argument is
    // the file to open.
    for (const QString& arg : args) {
        static const QRegularExpression kSwitch(QStringLiteral("^/[A-Za-z]+$"));
        if (kSwitch.match(arg).hasMatch() && !QFileInfo::exists(arg)) continue;
        if (arg.startsWith('-')) continue;
        cl.file = arg;
        break;
    }
    return cl;
}

const DiscInDrive* DiscToExamine(const std::vector<DiscInDrive>& before,
                                 const std::vector<DiscInDrive>& now, bool shownDiscInDrive,
                                 bool autoLocate, bool newDiscDialogOpen) {
    if (now.empty() || shownDiscInDrive || !autoLocate || newDiscDialogOpen) return nullptr;
    return HasArrival(before, now) ? &now.front() : nullptr;
}

const DiscInDrive* DiscToLocateAtStart(const std::vector<DiscInDrive>& now, bool shownDiscInDrive,
                                       bool autoLocate, bool fileOnCommandLine) {
    if (fileOnCommandLine) return nullptr;
    return DiscToExamine({}, now, shownDiscInDrive, autoLocate, false);
}

QString IndexToReopen(const CommandLine& commandLine, const QString& lastIndex) {
    if (!commandLine.file.isEmpty() || lastIndex.isEmpty()) return {};
    IndexHeader header;
    return ProbeIndexHeader(lastIndex.toStdString(), header) ? lastIndex : QString();
}

QString RecentDisplayName(int index, const QString& path) {
    QString name = QDir::toNativeSeparators(path);
    if (name.size() > 30) name = QStringLiteral("...") + name.right(27);
    name.replace('&', QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(index + 1).arg(name);
}

QStringList MoveRecentFiles(const QStringList& files, const std::string& from,
                            const std::string& to) {
    const bool directory = !from.empty() && from.back() == '/';
    QStringList out;
    for (const QString& file : files) {
        const std::string path = file.toStdString();
        if (path == from)
            out << QString::fromStdString(to);
        else if (directory && path.size() > from.size() && path.compare(0, from.size(), from) == 0)
            out << QString::fromStdString(to + path.substr(from.size()));
        else
            out << file;
    }
    return out;
}

}  // namespace orb
