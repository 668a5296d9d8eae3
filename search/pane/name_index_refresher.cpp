// SPDX-License-Identifier: GPL-3.0-or-later
// The name index refreshed in the background.
#include "search/pane/name_index_refresher.h"

#include "platform/threads.h"

namespace orb {

CNameIndexRefresher::~CNameIndexRefresher() {
    abort_.store(1);
    if (worker_.joinable()) worker_.join();
}

void CNameIndexRefresher::Request(const std::string& libraryDir) {
    if (libraryDir.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    library_ = libraryDir;
    wanted_ = true;
    if (running_) return;  // the running worker takes it up when it is done
    // A worker that has ended (running_ false) is past its last use of the lock:
    // joining it is immediate.
    if (worker_.joinable()) worker_.join();
    running_ = true;
    worker_ = std::thread([this] { Work(); });
}

bool CNameIndexRefresher::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

NameIndexRefresh CNameIndexRefresher::Last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

void CNameIndexRefresher::Work() {
    LowerCurrentThreadPriority();  // the window and the searches come first
    std::unique_lock<std::mutex> lock(mutex_);
    while (wanted_ && !abort_.load()) {
        wanted_ = false;
        const std::string library = library_;
        lock.unlock();
        const NameIndexRefresh r = RefreshNameIndex(library, false, &abort_);
        lock.lock();
        if (abort_.load()) break;
        last_ = r;
        completed_.fetch_add(1);
    }
    running_ = false;
}

}  // namespace orb
