// SPDX-License-Identifier: GPL-3.0-or-later
// COrbApp: starts the catalogue program (settings, recent files, the document and
// the main window, the command line, start in the tray), registers the index file
// type with the desktop, and keeps one running instance per user: a second start
// hands its file to the first and exits.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "app/frame/frame_rules.h"

class QLocalServer;

namespace orb {

class COrbDoc;
class CMainFrame;

class COrbApp : public QObject {
    Q_OBJECT

public:
    struct Options {
        bool registerShell = true;   // write the per-user MIME type and desktop entry
        bool singleInstance = true;  // listen for files handed over by a second start
        bool watchDrives = true;
        QString serverName;  // empty: the per-user default
    };

    explicit COrbApp(Options options);
    COrbApp() : COrbApp(Options{}) {}
    ~COrbApp() override;

    // The per-user name of the single-instance socket.
    static QString DefaultServerName();
    // When another instance listens: hands it the command line's file (or asks it
    // to show its window) and returns true; the caller then exits with 0.
    static bool HandOverToRunningInstance(const QString& serverName, const CommandLine& cl);

    // Start-up; false ends the program (an index on the command line failed to open).
    bool InitInstance(const QStringList& args);

    CMainFrame* Frame() const { return m_frame.get(); }
    COrbDoc* Doc() const { return m_doc.get(); }
    bool StartedHidden() const { return m_startHidden; }

    // Writes the MIME package and desktop entry for the user into dataHome (the
    // XDG data folder) when they differ from what is there; true when a file was
    // written. Skipped when the system data folders already hold them.
    // refreshCaches starts the desktop's cache tools after a change.
    static bool RegisterShellTypes(const QString& dataHome, const QString& executable,
                                   bool refreshCaches = true);

private:
    void OnNewConnection();
    void HandleHandOver(const QString& line);

    Options m_options;
    std::unique_ptr<COrbDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    QLocalServer* m_server = nullptr;
    bool m_startHidden = false;
};

}  // namespace orb
