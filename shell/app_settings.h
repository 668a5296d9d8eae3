// SPDX-License-Identifier: GPL-3.0-or-later
// The program's settings store and the values every part reads from it: the
// library directory, drive monitoring, the file list's style and sort order, the
// recent files, the window's layout and the run-at-logon entry.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

namespace orb {

// Groups and value names of the store.
inline constexpr const char* kSettingsGroup = "设置";
inline constexpr const char* kKeyLibraryDir = "光盘库目录";
inline constexpr const char* kKeyAutoLocate = "自动定位";
inline constexpr const char* kKeyListStyle = "liststyle";
inline constexpr const char* kKeySortCol = "sortcol";
inline constexpr const char* kKeySortDir = "sortdir";
inline constexpr const char* kRecentGroup = "最近文件";
inline constexpr const char* kRecentKey = "光盘索引%1";
inline constexpr int kRecentCount = 4;
inline constexpr const char* kDefaultLibraryName = "Kelvane光盘库";
inline constexpr const char* kWindowGroup = "窗口";

// The per-user store: QSettings("KelvaneSoft", "Kelvane光盘助手").
std::unique_ptr<QSettings> OpenSettings();

// One integer value of group "设置" with its default.
int ReadSettingInt(const char* key, int defaultValue);
void WriteSettingInt(const char* key, int value);

// The folder of the running executable (ending with '/').
std::string ExecutableDir();
// The executable's full path.
std::string ExecutablePath();

// The default library directory: ~/Kelvane光盘库/, or the executable's folder +
// "Kelvane光盘库/" when that folder already exists there. Always ends with '/'.
std::string DefaultLibraryDirectory(const std::string& exeDir);
// The library directory: the stored value when it names an existing directory;
// otherwise the default, created (one level) and stored. Never fails.
std::string GetLibraryDirectory();
// Same rule against an explicit executable folder (tests).
std::string GetLibraryDirectory(const std::string& exeDir);
void StoreLibraryDirectory(const std::string& path);

// The recent-file list, most recent first, at most four entries.
QStringList ReadRecentFiles();
void WriteRecentFiles(const QStringList& files);
// Puts path in front of the list (removing an equal entry) and cuts it to four.
QStringList AddRecentFile(QStringList files, const QString& path);

// What the window looked like when it was last closed. Empty byte arrays (and
// page -1) mean "never stored": the window keeps its built-in layout then.
struct WindowMemory {
    QByteArray geometry;  // QWidget::saveGeometry: size, position, maximised
    QByteArray docks;     // QMainWindow::saveState: the navigation bar
    QByteArray outerSplitter, innerSplitter;
    // The upper control's share in the library, favourites and search panes
    // (-1: never stored).
    double paneShares[3] = {-1, -1, -1};
    int page = -1;
    QString lastIndex;  // the index shown at close, empty when none
};
WindowMemory ReadWindowMemory();
void WriteWindowMemory(const WindowMemory& memory);

// Run at logon: ~/.config/autostart/Kelvane光盘助手.desktop whose Exec is the
// executable and "/minimize"; its existence is the setting.
std::string AutostartFilePath();
bool IsAutostartEnabled();
// Writes or removes the entry; false when the file system refused.
bool SetAutostartEnabled(bool on, const std::string& executable);

}  // namespace orb
