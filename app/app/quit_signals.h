// SPDX-License-Identifier: GPL-3.0-or-later
// CQuitSignals: SIGTERM, SIGINT and SIGHUP as a Qt signal on the window's thread.
#pragma once

#include <signal.h>

#include <QObject>

class QSocketNotifier;

namespace orb {

// A signal handler may only write a byte into a pipe; the notifier on the pipe's
// other end runs the normal close path from the event loop. One instance at a
// time; destroying it restores the previous handlers.
class CQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit CQuitSignals(QObject* parent = nullptr);
    ~CQuitSignals() override;
    // False when the pipe could not be made (the signals then end the program as
    // they would without it).
    bool IsActive() const { return m_notifier != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void OnReadable();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previous[3] = {};
};

}  // namespace orb
