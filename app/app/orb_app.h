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

// What became of a second start's hand-over.
enum class HandOverResult {
    NoInstance,  // nobody listens: this start runs the program itself
    Delivered,   // the running program took the file (or the request to show itself)
    NoAnswer,    // someone listens but did not answer in time: give up, never hang
};

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

    // The single-instance socket of this user and display, from the environment.
    static QString DefaultServerName();
    // Its rule: a full path in the runtime folder (the temporary folder when there
    // is none), named per user and per display (Wayland's when set, else X's).
    static QString ServerNameFor(const QString& runtimeDir, const QString& tempDir, unsigned uid,
                                 const QString& waylandDisplay, const QString& display);
    // Hands the command line's file (or a request to show the window) to a running
    // instance and waits a few seconds for its answer.
    static HandOverResult HandOverToRunningInstance(const QString& serverName,
                                                    const CommandLine& cl);

    // Saves what the close of the window saves and ends the event loop: the way
    // out for a termination signal. A second request while one runs is ignored.
    void RequestQuit();

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
    bool m_quitting = false;
};

}  // namespace orb
