// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's own 16-pixel command icons, drawn in code so they need no image
// files; the hot and disabled looks come from the Qt style.
#pragma once

#include <QIcon>

namespace orb {

enum class ToolIcon {
    NewDisc,
    NewFromFolder,
    Open,
    Cut,
    Copy,
    Paste,
    Library,
    Favorites,
    Search,
    Sync,
    Settings,
    Manual,
    About,
    Exit,
    AppIcon,
};

// Needs a QGuiApplication. Each icon has a 16 and a 32 pixel form.
QIcon MakeToolIcon(ToolIcon which);

}  // namespace orb
