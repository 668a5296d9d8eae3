#include "platform/qt/qt_messages.h"

#include <QMetaObject>
#include <QThread>

namespace orb {

CQtMessageTarget::CQtMessageTarget(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

LRESULT CQtMessageTarget::Send(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (QThread::currentThread() == thread()) return handler_ ? handler_(msg, wParam, lParam) : 0;
    LRESULT result = 0;
    QMetaObject::invokeMethod(
        this, [&] { result = handler_ ? handler_(msg, wParam, lParam) : 0; },
        Qt::BlockingQueuedConnection);
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
