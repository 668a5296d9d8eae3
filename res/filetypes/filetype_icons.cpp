// SPDX-License-Identifier: GPL-3.0-or-later
// Loads the bundled file-type pictures from the program's resources.
#include "res/filetypes/filetype_icons.h"

#include <QString>

namespace orb {

QIcon BundledFileTypeIcon(FileIconKind kind) {
    static const char* const kNames[] = {nullptr, "folder",  "text",       "image",   "audio",
                                         "video", "archive", "executable", "document"};
    const char* name = kNames[static_cast<int>(kind)];
    if (!name) return {};
    QIcon icon;
    for (int size : {16, 32})
        icon.addFile(QStringLiteral(":/filetypes/%1/%2.png").arg(size).arg(QLatin1String(name)),
                     QSize(size, size));
    return icon;
}

}  // namespace orb
