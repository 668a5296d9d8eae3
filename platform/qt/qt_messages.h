// SPDX-License-Identifier: GPL-3.0-or-later
// Message delivery to a window living on the Qt user-interface thread.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "platform/messages.h"

namespace orb {

// Send from a worker blocks until the handler ran on the object's thread
// (a direct call when already on it); Post queues the call and returns.
class CQtMessageTarget : public QObject, public IMessageTarget {
    Q_OBJECT
public:
    using Handler = std::function<LRESULT(uint32_t, WPARAM, LPARAM)>;
    explicit CQtMessageTarget(Handler handler, QObject* parent = nullptr);

    LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    void Post(uint32_t msg, WPARAM wParam, LPARAM lParam) override;

private:
    Handler handler_;
    std::atomic<uint64_t> sent_{0};
};

}  // namespace orb
