// SPDX-License-Identifier: GPL-3.0-or-later
// CFolderPicker: asks the user for a directory (directories only).
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace orb {

class CFolderPicker {
public:
    static constexpr const char* kDefaultTitle = "选择目标文件夹";

    // The initial folder loses trailing blanks and one trailing '/' (the root stays).
    static QString TrimInitialFolder(const QString& folder);
    // Shows the picker; true and the chosen path when the user confirmed a folder.
    // With a root folder, a root that does not exist ends as a cancel.
    static bool Pick(QWidget* parent, const QString& initialFolder, std::string& chosen,
                     const QString& title = QString::fromUtf8(kDefaultTitle),
                     const QString& rootFolder = QString());
};

}  // namespace orb
