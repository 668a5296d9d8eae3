// SPDX-License-Identifier: GPL-3.0-or-later
// Application start-up, shell registration and the single running instance.
#include "app/app/orb_app.h"

#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSessionManager>
#include <QStandardPaths>
#include <QTimer>

#include "app/frame/main_frame.h"
#include "index/doc/orb_doc.h"
#include "res/desktop/desktop_files.h"
#include "shell/app_settings.h"
#include "ui/ui_font.h"

namespace orb {

namespace {

constexpr int kConnectTimeoutMs = 2000;
// How long a second start waits for the running program to take its file.
constexpr int kAnswerTimeoutMs = 5000;
constexpr char kAnswer[] = "ok\n";
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
    return ServerNameFor(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(), ::getuid(),
                         qEnvironmentVariable("WAYLAND_DISPLAY"), qEnvironmentVariable("DISPLAY"));
}

QString COrbApp::ServerNameFor(const QString& runtimeDir, const QString& tempDir, unsigned uid,
                               const QString& waylandDisplay, const QString& display) {
    // Two sessions of one user must not hand files to each other's windows.
    QString screen = !waylandDisplay.isEmpty() ? waylandDisplay : display;
    if (screen.isEmpty()) screen = QStringLiteral("none");
    // A display name may be a path (Wayland) or hold ':' and '.': keep a safe,
    // short file name.
    QString safe;
    for (const QChar c : screen.left(40))
        safe += (c.isLetterOrNumber() && c.unicode() < 128) || c == '.' || c == '-' ? c : '_';
    const QString dir = QDir::isAbsolutePath(runtimeDir) ? runtimeDir : tempDir;
    return QDir::cleanPath(dir) + QStringLiteral("/kelvane-orb-%1-%2").arg(uid).arg(safe);
}

HandOverResult COrbApp::HandOverToRunningInstance(const QString& serverName,
                                                  const CommandLine& cl) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return HandOverResult::NoInstance;
    // A start at logon finds the program already running: nothing to show.
    if (cl.startHidden) return HandOverResult::Delivered;
    QString line;
    if (!cl.file.isEmpty()) line = QFileInfo(cl.file).absoluteFilePath();
    socket.write(line.toUtf8() + '\n');
    // The running program answers before it opens anything; a program that does
    // not is stuck, and this start must not wait on it for ever.
    QElapsedTimer clock;
    clock.start();
    while (!socket.canReadLine()) {
        const qint64 left = kAnswerTimeoutMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(static_cast<int>(left)))
            return HandOverResult::NoAnswer;
    }
    return socket.readLine(16) == kAnswer ? HandOverResult::Delivered : HandOverResult::NoAnswer;
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
    // Every widget takes the one text font, so it is set before the first is built.
    ApplyUiFont();
    m_doc = std::make_unique<COrbDoc>();
    CMainFrame::Options frameOptions;
    frameOptions.watchDrives = m_options.watchDrives;
    // A library walked in this time fills the window as it opens; a larger one
    // lets the window show and fills its trees when the walk is done.
    frameOptions.libraryWaitMs = 200;
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

    // The desktop session ends: the user's writing reaches the disk now. The
    // program is not closed here, as the user may still cancel the logout; the
    // session's end then closes the window like every other quit.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { m_doc->SaveModified(); });

    const CommandLine cl = ParseCommandLine(args);
    m_startHidden = cl.startHidden;
    const WindowMemory memory = ReadWindowMemory();
    m_frame->RestoreWindowMemory(memory);
    m_doc->OnNewDocument();
    m_doc->LocateDisc();
    if (!cl.file.isEmpty()) {
        if (!m_frame->OpenDocumentFile(QFileInfo(cl.file).absoluteFilePath().toStdString()))
            return false;
    } else if (const QString last = IndexToReopen(cl, memory.lastIndex); !last.isEmpty()) {
        // Checked first, so a vanished index is skipped without a message.
        m_frame->OpenDocumentFile(last.toStdString());
    }
    m_frame->LocateDiscAtStart(!cl.file.isEmpty());
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
                const QString line = QString::fromUtf8(socket->readLine(64 * 1024)).trimmed();
                socket->write(kAnswer);
                socket->flush();
                // Opening may show a message box. Its event loop must never run
                // inside this handler: the peer's disconnect would delete the
                // socket under it. The open runs from the event loop instead.
                QTimer::singleShot(0, this, [this, line] { HandleHandOver(line); });
            }
            // A peer that never ends its line gets no unbounded buffer.
            if (socket->bytesAvailable() > 64 * 1024) socket->abort();
        });
    }
}

void COrbApp::RequestQuit() {
    if (m_quitting) return;
    m_quitting = true;
    // The window's close stores the pending annotation edit and writes the
    // companion and the recent files; a window in the tray is closed the same way.
    if (m_frame) m_frame->close();
    QCoreApplication::quit();
}

void COrbApp::HandleHandOver(const QString& line) {
    if (!m_frame) return;
    if (m_frame->IsInTray()) m_frame->RestoreFromTray();
    m_frame->raise();
    m_frame->activateWindow();
    if (!line.isEmpty()) m_frame->OpenDocumentFile(line.toStdString());
}

}  // namespace orb
