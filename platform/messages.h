// SPDX-License-Identifier: GPL-3.0-or-later
// Window-message delivery between a worker thread and the window that owns it.
// A "window handle" of the engine is an IMessageTarget*. Send blocks the calling
// worker until the window's thread has handled the message, so pointers passed in
// lParam stay valid while the window reads them; Post returns at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orb {

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// Private message numbers; fixed values, not relative to WM_USER.
constexpr uint32_t WM_SCAN_STATUS = 0x5A00;
constexpr uint32_t WM_SCAN_SIZE_PROGRESS = 0x5A01;
constexpr uint32_t WM_SCAN_WRITE_PROGRESS = 0x5A02;
constexpr uint32_t WM_SEARCH_EVENT = 0x5A03;

class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual void Post(uint32_t msg, WPARAM wParam, LPARAM lParam) = 0;
};

// A target without a window: Send runs the handler on the calling thread (the
// worker then trivially waits for it); Post queues the message until the owner
// calls DispatchPosted or WaitPosted. Used by tests and the command-line tools.
//
// The handler and the lock that serialises Sends live in a block that each Send
// holds on to, so the owner may destroy the target as soon as the handler has
// seen the last message it waits for: the worker's Send then finishes on the
// block alone and never touches the destroyed target.
class CPlainMessageTarget : public IMessageTarget {
public:
    using Handler = std::function<LRESULT(uint32_t, WPARAM, LPARAM)>;
    explicit CPlainMessageTarget(Handler handler = {})
        : shared_(std::make_shared<Shared>(std::move(handler))) {}

    LRESULT Send(uint32_t msg, WPARAM wParam, LPARAM lParam) override {
        // Sends from several workers are handled one at a time, like a window's
        // single thread would.
        std::shared_ptr<Shared> shared = shared_;
        std::lock_guard<std::mutex> lock(shared->sendMutex);
        return shared->handler ? shared->handler(msg, wParam, lParam) : 0;
    }

    void Post(uint32_t msg, WPARAM wParam, LPARAM lParam) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted_.push_back({msg, wParam, lParam});
        }
        cv_.notify_all();
    }

    // Handles every posted message queued so far on the calling thread.
    size_t DispatchPosted() {
        std::deque<Posted> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(posted_);
        }
        for (const Posted& p : batch)
            if (shared_->handler) shared_->handler(p.msg, p.wParam, p.lParam);
        return batch.size();
    }

    // Waits until a message is posted (or the timeout passes), then dispatches.
    bool WaitPosted(int timeoutMs) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return !posted_.empty(); }))
                return false;
        }
        DispatchPosted();
        return true;
    }

private:
    struct Posted {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    struct Shared {
        explicit Shared(Handler h) : handler(std::move(h)) {}
        std::mutex sendMutex;
        const Handler handler;  // fixed at construction: read without a lock
    };
    const std::shared_ptr<Shared> shared_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Posted> posted_;
};

}  // namespace orb
