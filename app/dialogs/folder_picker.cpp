// SPDX-License-Identifier: GPL-3.0-or-later
// Directory picker on QFileDialog.
#include "app/dialogs/folder_picker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace orb {

QString CFolderPicker::TrimInitialFolder(const QString& folder) {
    QString f = folder;
    while (!f.isEmpty() && f.back().isSpace()) f.chop(1);
    if (f.size() > 1 && f.endsWith('/')) f.chop(1);
    return f;
}

bool CFolderPicker::Pick(QWidget* parent, const QString& initialFolder, std::string& chosen,
                         const QString& title, const QString& rootFolder) {
    QString start = TrimInitialFolder(initialFolder);
    if (!rootFolder.isEmpty()) {
        if (!QFileInfo(rootFolder).isDir()) return false;
        if (start.isEmpty()) start = rootFolder;
    }
    const QString dir = QFileDialog::getExistingDirectory(
        parent, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty()) return false;
    chosen = QDir::cleanPath(dir).toStdString();
    return true;
}

}  // namespace orb
