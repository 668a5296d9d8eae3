// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own file-type icons, for a desktop whose icon theme has none.
#pragma once

#include <QIcon>

namespace orb {

enum class FileIconKind { None, Folder, Text, Image, Audio, Video, Archive, Executable, Document };

// The bundled icon of a kind (16 and 32 pixels); a null icon for None.
QIcon BundledFileTypeIcon(FileIconKind kind);

}  // namespace orb
