// SPDX-License-Identifier: GPL-3.0-or-later
// Walks the library on a worker thread, so a large library never holds up the window.
#include "library/tree/library_loader.h"

#include <chrono>
#include <utility>

namespace orb {

CLibraryLoader::CLibraryLoader(QObject* parent) : QObject(parent) {}

CLibraryLoader::~CLibraryLoader() {
    Join();
}

void CLibraryLoader::Join() {
    m_stop = true;
    if (m_worker.joinable()) m_worker.join();
}

void CLibraryLoader::Start(const std::string& root) {
    Join();
    m_stop = false;
    m_finished = false;
    m_pending = true;
    m_result = {};
    const unsigned generation = ++m_generation;
    m_worker = std::thread([this, root, generation] {
        CSharedLibraryWalk::Recording walk = RecordLibraryWalk(root, true, &m_stop);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_result = std::move(walk);
            m_finished = true;
        }
        m_done.notify_all();
        // Queued to the loader's thread. The destructor joins this thread first,
        // and events left for a destroyed object are dropped.
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == m_generation && m_pending && m_finished) emit loaded();
            },
            Qt::QueuedConnection);
    });
}

void CLibraryLoader::Cancel() {
    Join();
    m_pending = false;
    m_result = {};
}

bool CLibraryLoader::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_pending) return false;
    if (ms < 0) {
        m_done.wait(lock, [this] { return m_finished; });
        return true;
    }
    return m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_finished; });
}

CSharedLibraryWalk::Recording CLibraryLoader::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pending || !m_finished) return {};
    m_pending = false;
    return std::move(m_result);
}

}  // namespace orb
