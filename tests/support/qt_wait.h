// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting on a condition while the event loop runs, with a result gtest can check
// (QTRY_* report to QTest's own log, which a gtest binary never reads).
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

namespace orb::test {

// Runs the event loop until done() holds (true) or timeoutMs pass (false).
template <class Condition>
bool WaitUntil(Condition done, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace orb::test
