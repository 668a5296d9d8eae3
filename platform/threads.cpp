// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orb {

namespace {
constexpr int kBelowNormalNiceStep = 4;
constexpr int kLowestNice = 19;
}  // namespace

void LowerCurrentThreadPriority() {
    // On Linux the nice value set for a thread id applies to that thread alone.
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return;
    ::setpriority(PRIO_PROCESS, tid, std::min(current + kBelowNormalNiceStep, kLowestNice));
}

}  // namespace orb
