// SPDX-License-Identifier: GPL-3.0-or-later
// Names of the installed desktop integration (menu entry, MIME type, icon, manual) and
// the look-ups the program makes at start-up: is it installed system-wide, where is the
// manual. No Qt, so the rules are tested without a display.
#pragma once

#include <string>
#include <vector>

namespace orb {

// Fixed names; the install rules in res/ use the same ones.
inline constexpr const char* kDesktopFileId = "kelvane-orb.desktop";
inline constexpr const char* kConverterDesktopFileId = "kelvane-orb22to30.desktop";
inline constexpr const char* kMimePackageFile = "kelvane-orb.xml";
inline constexpr const char* kIndexMimeType = "application/x-kelvane-orb";
inline constexpr const char* kProgramIconName = "kelvane-orb";
inline constexpr const char* kConverterIconName = "kelvane-orb22to30";
// The manual's folder beside the executable, and below the installed prefix.
inline constexpr const char* kManualFolder = "orbhelp";
inline constexpr const char* kInstalledManualDir = "../share/doc/kelvane-orb/orbhelp";

// The system data folders: the absolute entries of xdgDataDirs (the value of
// $XDG_DATA_DIRS, may be null), or /usr/local/share and /usr/share when it has none.
// Relative entries are ignored, as the XDG base directory rules say.
std::vector<std::string> SystemDataDirs(const char* xdgDataDirs);

// True when applications/kelvane-orb.desktop and mime/packages/kelvane-orb.xml are both
// found in the given data folders (each in any of them): the desktop then already knows
// the program and the .orb type, and per-user copies are not needed.
bool SystemDesktopIntegrationInstalled(const std::vector<std::string>& dataDirs);
// The same over $XDG_DATA_DIRS.
bool SystemDesktopIntegrationInstalled();

// The manual page named page ("index.html", "feedback.html"): exeDir/orbhelp/page when
// that file exists (a build tree, or a copy kept beside the program), else
// exeDir/../share/doc/kelvane-orb/orbhelp/page (an installed program); empty when
// neither exists. exeDir may end with '/' or not.
std::string FindManualPage(const std::string& exeDir, const std::string& page);

// "创建桌面快捷方式": writes desktopDir/Kelvane光盘助手.desktop starting exe (quoted
// when it holds a space), with the executable bits a desktop needs to trust it.
// False when desktopDir is no folder or the file cannot be written.
bool WriteDesktopShortcut(const std::string& desktopDir, const std::string& exe);

}  // namespace orb
