// SPDX-License-Identifier: GPL-3.0-or-later
// The self-pipe that carries termination signals into the event loop.
#include "app/app/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace orb {

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t g_writeEnd = -1;

void OnSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a request: dropping this byte loses nothing.
    if (g_writeEnd >= 0) {
        const ssize_t n = ::write(g_writeEnd, &byte, 1);
        static_cast<void>(n);
    }
    errno = saved;
}

}  // namespace

CQuitSignals::CQuitSignals(QObject* parent) : QObject(parent) {
    if (g_writeEnd >= 0 || ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CQuitSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &m_previous[i]);
}

CQuitSignals::~CQuitSignals() {
    if (!m_notifier) return;
    for (int i = 0; i < 3; ++i) ::sigaction(kSignals[i], &m_previous[i], nullptr);
    g_writeEnd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void CQuitSignals::OnReadable() {
    unsigned char bytes[16];
    const ssize_t n = ::read(m_pipe[0], bytes, sizeof bytes);
    if (n > 0) emit quitRequested(bytes[n - 1]);
}

}  // namespace orb
