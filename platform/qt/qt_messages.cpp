// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/qt_messages.h"

#include <QMetaObject>
#include <QThread>
#include <atomic>

namespace orb {

CQtMessageTarget::CQtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

LRESULT CQtMessageTarget::Send(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (QThread::currentThread() == thread()) return handler_ ? handler_(msg, wParam, lParam) : 0;
    // Qt's queue already orders the worker's writes before the handler and the
    // handler's before the return; the two atomics state that order in the
    // program itself, where the thread sanitizer can see it. After the handler the
    // target may already be gone, so the way back uses only this call's locals.
    LRESULT result = 0;
    std::atomic<int> handled{0};
    sent_.fetch_add(1, std::memory_order_release);
    QMetaObject::invokeMethod(
        this,
        [&] {
            sent_.load(std::memory_order_acquire);
            result = handler_ ? handler_(msg, wParam, lParam) : 0;
            handled.store(1, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    handled.load(std::memory_order_acquire);
    return result;
}

void CQtMessageTarget::Post(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    QMetaObject::invokeMethod(
        this,
        [this, msg, wParam, lParam] {
            if (handler_) handler_(msg, wParam, lParam);
        },
        Qt::QueuedConnection);
}

}  // namespace orb
