// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps a library's name index up to date on a worker thread of its own, so the
// window never waits for it; without Qt.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "search/index/name_index.h"

namespace orb {

class CNameIndexRefresher {
public:
    CNameIndexRefresher() = default;
    // Stops the refresh between two discs and waits for it.
    ~CNameIndexRefresher();
    CNameIndexRefresher(const CNameIndexRefresher&) = delete;
    CNameIndexRefresher& operator=(const CNameIndexRefresher&) = delete;

    // Asks for the library's index to be brought up to date; returns at once.
    // Requests that arrive while a refresh runs are folded into one more refresh
    // after it, of the latest library asked for.
    void Request(const std::string& libraryDir);
    // Refreshes finished since the start (tests and the window's status).
    size_t Completed() const { return completed_.load(); }
    bool Busy() const;
    // The outcome of the latest refresh.
    NameIndexRefresh Last() const;

private:
    void Work();

    mutable std::mutex mutex_;
    std::thread worker_;
    std::string library_;  // the latest library asked for
    bool wanted_ = false;  // a refresh is asked for and not yet begun
    bool running_ = false;
    NameIndexRefresh last_;
    std::atomic<int> abort_{0};
    std::atomic<size_t> completed_{0};
};

}  // namespace orb
