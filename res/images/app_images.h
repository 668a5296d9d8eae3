// SPDX-License-Identifier: GPL-3.0-or-later
// The program's shared 16x16 image lists. Icons come from the running Qt style, so
// they match the desktop; a style without one of them gets a small drawn stand-in.
#pragma once

#include <QIcon>
#include <QList>

namespace orb {

// Images of every tree that shows the library or a disc.
enum AppImage { kImageDisc = 0, kImageFolderClosed = 1, kImageFolderOpen = 2 };
// Images of the favourites tree.
enum FavoriteImage {
    kImageSoftwareNoLocation = 0,
    kImageSoftware = 1,
    kImageFavoriteCategory = 2,
};

constexpr int kAppImageSize = 16;

// 0 disc, 1 closed folder, 2 open folder. Needs a QApplication.
QList<QIcon> AppImageList();
// 0 software without a location, 1 software with a location, 2 category.
QList<QIcon> FavoriteImageList();

}  // namespace orb
