// SPDX-License-Identifier: GPL-3.0-or-later
// Runs an operation that is handed a FIFO and reports whether it came back on its
// own: an open that blocks on the FIFO is set free by opening it for writing, so
// a failing test ends instead of hanging.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace orb::test {

inline bool ReturnsWithoutBlockingOn(const std::string& fifo, const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        fn();
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool returned = done;
    // Set a blocked reader (or writer) free.
    for (int i = 0; !done && i < 1000; ++i) {
        int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    t.join();
    return returned;
}

}  // namespace orb::test
