// SPDX-License-Identifier: GPL-3.0-or-later
// Settings values, the library directory rule, recent files and autostart.
#include "shell/app_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace orb {

std::unique_ptr<QSettings> OpenSettings() {
    return std::make_unique<QSettings>(QStringLiteral("KelvaneSoft"),
                                       QStringLiteral("Kelvane光盘助手"));
}

int ReadSettingInt(const char* key, int defaultValue) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kSettingsGroup));
    bool ok = false;
    const int value = s->value(QString::fromUtf8(key), defaultValue).toInt(&ok);
    return ok ? value : defaultValue;
}

void WriteSettingInt(const char* key, int value) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kSettingsGroup));
    s->setValue(QString::fromUtf8(key), value);
}

std::string ExecutablePath() {
    QString path =
        QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
    if (path.isEmpty()) path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return path.toStdString();
}

std::string ExecutableDir() {
    QString dir = QFileInfo(QString::fromStdString(ExecutablePath())).absolutePath();
    if (!dir.endsWith('/')) dir += '/';
    return dir.toStdString();
}

std::string DefaultLibraryDirectory(const std::string& exeDir) {
    std::string beside = exeDir;
    if (beside.empty() || beside.back() != '/') beside += '/';
    beside += std::string(kDefaultLibraryName) + "/";
    // Portable use: a library someone put beside the program. The program's folder
    // is never made a home for user data otherwise; a build tree is wiped by a
    // clean rebuild.
    struct stat st {};
    if (::stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return beside;
    std::string home = QDir::homePath().toStdString();
    if (home.empty() || home.back() != '/') home += '/';
    return home + kDefaultLibraryName + "/";
}

static bool IsDirectory(const std::string& path) {
    if (path.empty()) return false;
    QFileInfo info(QString::fromStdString(path));
    return info.exists() && info.isDir();
}

std::string GetLibraryDirectory(const std::string& exeDir) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kSettingsGroup));
    const std::string stored = s->value(QString::fromUtf8(kKeyLibraryDir)).toString().toStdString();
    if (IsDirectory(stored)) return stored;
    const std::string dir = DefaultLibraryDirectory(exeDir);
    QDir().mkdir(QString::fromStdString(dir));
    s->setValue(QString::fromUtf8(kKeyLibraryDir), QString::fromStdString(dir));
    return dir;
}

std::string GetLibraryDirectory() {
    return GetLibraryDirectory(ExecutableDir());
}

void StoreLibraryDirectory(const std::string& path) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kSettingsGroup));
    s->setValue(QString::fromUtf8(kKeyLibraryDir), QString::fromStdString(path));
}

QStringList ReadRecentFiles() {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kRecentGroup));
    QStringList files;
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString v = s->value(QString::fromUtf8(kRecentKey).arg(i)).toString();
        if (!v.isEmpty()) files << v;
    }
    return files;
}

void WriteRecentFiles(const QStringList& files) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kRecentGroup));
    for (int i = 1; i <= kRecentCount; ++i) {
        const QString key = QString::fromUtf8(kRecentKey).arg(i);
        if (i <= files.size())
            s->setValue(key, files[i - 1]);
        else
            s->remove(key);
    }
}

QStringList AddRecentFile(QStringList files, const QString& path) {
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > kRecentCount) files.removeLast();
    return files;
}

WindowMemory ReadWindowMemory() {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kWindowGroup));
    WindowMemory m;
    m.geometry = s->value(QStringLiteral("geometry")).toByteArray();
    m.docks = s->value(QStringLiteral("docks")).toByteArray();
    m.outerSplitter = s->value(QStringLiteral("outerSplitter")).toByteArray();
    m.innerSplitter = s->value(QStringLiteral("innerSplitter")).toByteArray();
    bool ok = false;
    m.page = s->value(QStringLiteral("page"), -1).toInt(&ok);
    if (!ok) m.page = -1;
    m.lastIndex = s->value(QStringLiteral("lastIndex")).toString();
    const QStringList shares = s->value(QStringLiteral("paneShares")).toString().split(',');
    for (int i = 0; i < 3 && i < shares.size(); ++i) {
        const double v = shares[i].toDouble(&ok);
        m.paneShares[i] = ok && v > 0 && v < 1 ? v : -1;
    }
    return m;
}

void WriteWindowMemory(const WindowMemory& m) {
    auto s = OpenSettings();
    s->beginGroup(QString::fromUtf8(kWindowGroup));
    s->setValue(QStringLiteral("geometry"), m.geometry);
    s->setValue(QStringLiteral("docks"), m.docks);
    s->setValue(QStringLiteral("outerSplitter"), m.outerSplitter);
    s->setValue(QStringLiteral("innerSplitter"), m.innerSplitter);
    s->setValue(QStringLiteral("page"), m.page);
    QStringList shares;
    for (double v : m.paneShares) shares << QString::number(v, 'f', 4);
    s->setValue(QStringLiteral("paneShares"), shares.join(','));
    if (m.lastIndex.isEmpty())
        s->remove(QStringLiteral("lastIndex"));
    else
        s->setValue(QStringLiteral("lastIndex"), m.lastIndex);
}

std::string AutostartFilePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::ConfigLocation);
    return (dir + QStringLiteral("/autostart/Kelvane光盘助手.desktop")).toStdString();
}

bool IsAutostartEnabled() {
    return QFileInfo::exists(QString::fromStdString(AutostartFilePath()));
}

// Quotes an Exec argument the way desktop entries expect it.
static QString QuoteExecArg(const QString& arg) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needs = false;
    for (QChar c : arg)
        if (reserved.contains(c)) needs = true;
    if (!needs) return arg;
    QString out = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

bool SetAutostartEnabled(bool on, const std::string& executable) {
    const QString path = QString::fromStdString(AutostartFilePath());
    if (!on) return !QFileInfo::exists(path) || QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QTextStream out(&f);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Kelvane光盘助手\n"
        << "Comment=光盘目录管理\n"
        << "Exec=" << QuoteExecArg(QString::fromStdString(executable)) << " /minimize\n"
        << "Icon=kelvane-orb\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    return f.error() == QFileDevice::NoError;
}

}  // namespace orb
