// SPDX-License-Identifier: GPL-3.0-or-later
// Walks the library on a worker thread, so a large library never holds up the window.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "library/store/library_store.h"

namespace orb {

// One walk of the library (discs included) on its own thread. The owner either
// waits a little for it (a small library is then filled as if walked on the
// spot) or goes on and takes the walk when loaded() arrives; CSharedLibraryWalk::
// Adopt then lets every tree and the watcher fill from it without a second walk.
class CLibraryLoader : public QObject {
    Q_OBJECT
public:
    explicit CLibraryLoader(QObject* parent = nullptr);
    // Stops a running walk and waits for it.
    ~CLibraryLoader() override;

    // Starts walking root; a walk still running is stopped and forgotten.
    void Start(const std::string& root);
    // Stops and forgets the walk: loaded() will not come for it.
    void Cancel();
    // Waits up to ms (no limit when negative) for the walk; true when it is done.
    bool WaitFor(int ms);
    // True while a started walk has not been taken or cancelled.
    bool IsPending() const { return m_pending; }
    // The finished walk, once; an empty recording when none is done.
    CSharedLibraryWalk::Recording Take();

signals:
    // The walk is done and waits to be taken (on the loader's thread).
    void loaded();

private:
    void Join();

    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    bool m_pending = false;
    unsigned m_generation = 0;
    CSharedLibraryWalk::Recording m_result;
};

}  // namespace orb
