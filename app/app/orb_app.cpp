// SPDX-License-Identifier: GPL-3.0-or-later
// Application start-up, shell registration and the single running instance.
#include "app/app/orb_app.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>

#include "app/frame/main_frame.h"
#include "index/doc/orb_doc.h"
#include "res/desktop/desktop_files.h"
#include "shell/app_settings.h"

namespace orb {

namespace {

constexpr int kHandOverTimeoutMs = 2000;
const char* const kDesktopId = kDesktopFileId;
const char* const kMimePackage = kMimePackageFile;

QString MimePackageText() {
    return QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-kelvane-orb\">\n"
        "    <comment>Kelvane光盘索引</comment>\n"
        "    <comment xml:lang=\"zh_CN\">Kelvane光盘索引</comment>\n"
        "    <icon name=\"kelvane-orb\"/>\n"
        "    <magic priority=\"60\"><match type=\"string\" value=\"ORBF\" offset=\"0\"/></magic>\n"
        "    <glob pattern=\"*.orb\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n");
}

QString QuoteExec(const QString& exe) {
    QString out = exe;
    out.replace('\\', QStringLiteral("\\\\"))
        .replace('"', QStringLiteral("\\\""))
        .replace('`', QStringLiteral("\\`"))
        .replace('$', QStringLiteral("\\$"));
    return '"' + out + '"';
}

QString DesktopEntryText(const QString& executable) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Kelvane光盘助手\n"
               "Comment=光盘目录管理：编目、浏览、注释和搜索光盘\n"
               "Exec=%1 %f\n"
               "Icon=kelvane-orb\n"
               "Terminal=false\n"
               "Categories=Utility;Archiving;\n"
               "MimeType=application/x-kelvane-orb;\n")
        .arg(QuoteExec(executable));
}

// Writes text unless the file already holds exactly it.
bool WriteIfChanged(const QString& path, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) return false;
    existing.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

}  // namespace

COrbApp::COrbApp(Options options) : m_options(std::move(options)) {
    if (m_options.serverName.isEmpty()) m_options.serverName = DefaultServerName();
}

COrbApp::~COrbApp() {
    // The frame goes before the document it shows.
    m_frame.reset();
    m_doc.reset();
}

QString COrbApp::DefaultServerName() {
    return QStringLiteral("kelvane-orb-%1").arg(static_cast<qulonglong>(::getuid()));
}

bool COrbApp::HandOverToRunningInstance(const QString& serverName, const CommandLine& cl) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(kHandOverTimeoutMs)) return false;
    // A start at logon finds the program already running: nothing to show.
    if (cl.startHidden) return true;
    QString line;
    if (!cl.file.isEmpty()) line = QFileInfo(cl.file).absoluteFilePath();
    socket.write(line.toUtf8() + '\n');
    socket.waitForBytesWritten(kHandOverTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kHandOverTimeoutMs);
    return true;
}

bool COrbApp::RegisterShellTypes(const QString& dataHome, const QString& executable,
                                 bool refreshCaches) {
    if (dataHome.isEmpty()) return false;
    // An installed package already tells the desktop; a per-user copy would
    // shadow it with this executable's path.
    if (SystemDesktopIntegrationInstalled()) return false;
    const QString mimeDir = dataHome + QStringLiteral("/mime");
    const QString appsDir = dataHome + QStringLiteral("/applications");
    const bool mimeChanged =
        WriteIfChanged(mimeDir + QStringLiteral("/packages/") + kMimePackage, MimePackageText());
    const bool appChanged =
        WriteIfChanged(appsDir + '/' + kDesktopId, DesktopEntryText(executable));
    // The desktop's caches are refreshed only when something changed; failures
    // are silent, the program works without them.
    if (mimeChanged && refreshCaches) {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
        if (!tool.isEmpty()) QProcess::startDetached(tool, {mimeDir});
    }
    if (appChanged && refreshCaches) {
        const QString tool =
            QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
        if (!tool.isEmpty()) QProcess::startDetached(tool, {appsDir});
    }
    return mimeChanged || appChanged;
}

bool COrbApp::InitInstance(const QStringList& args) {
    // Settings, the recent-file list and the image lists come with the store and
    // the frame; the document first, then its window.
    m_doc = std::make_unique<COrbDoc>();
    CMainFrame::Options frameOptions;
    frameOptions.watchDrives = m_options.watchDrives;
    m_frame = std::make_unique<CMainFrame>(*m_doc, frameOptions);

    if (m_options.registerShell) {
        QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
        RegisterShellTypes(dataHome, QString::fromStdString(ExecutablePath()));
    }
    if (m_options.singleInstance) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_server->listen(m_options.serverName)) {
            // A socket left by a crashed instance: nobody answered the hand-over.
            QLocalServer::removeServer(m_options.serverName);
            m_server->listen(m_options.serverName);
        }
        connect(m_server, &QLocalServer::newConnection, this, &COrbApp::OnNewConnection);
    }

    const CommandLine cl = ParseCommandLine(args);
    m_startHidden = cl.startHidden;
    m_doc->OnNewDocument();
    m_doc->LocateDisc();
    if (!cl.file.isEmpty()) {
        if (!m_frame->OpenDocumentFile(QFileInfo(cl.file).absoluteFilePath().toStdString()))
            return false;
    }
    if (m_startHidden) {
        // With no tray this starts minimised instead: the window must stay reachable.
        m_frame->MinimizeToTray();
    } else {
        m_frame->show();
        m_frame->repaint();
    }
    return true;
}

void COrbApp::OnNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(64 * 1024);
                HandleHandOver(QString::fromUtf8(line).trimmed());
            }
            // A peer that never ends its line gets no unbounded buffer.
            if (socket->bytesAvailable() > 64 * 1024) socket->abort();
        });
    }
}

void COrbApp::HandleHandOver(const QString& line) {
    if (!m_frame) return;
    if (m_frame->IsInTray()) m_frame->RestoreFromTray();
    m_frame->raise();
    m_frame->activateWindow();
    if (!line.isEmpty()) m_frame->OpenDocumentFile(line.toStdString());
}

}  // namespace orb
