// SPDX-License-Identifier: GPL-3.0-or-later
// Batched reads through io_uring, one ring per thread.
#include "platform/batch_read.h"

#include <liburing.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace orb {

namespace {

constexpr unsigned kRingEntries = 256;

constexpr int64_t kNotRead = INT64_MIN;

void ReadOneByOne(std::vector<BatchRead>& reads) {
    for (BatchRead& r : reads) {
        if (r.result != kNotRead) continue;
        ssize_t n;
        do n = ::pread(r.fd, r.buffer, r.length, static_cast<off_t>(r.offset));
        while (n < 0 && errno == EINTR);
        r.result = n < 0 ? -errno : n;
    }
}

// The thread's ring, made at its first batch; unusable (a kernel or sandbox
// without io_uring) means reads go one by one.
struct Ring {
    io_uring ring{};
    bool made = false;
    bool usable = false;
    Ring() {
        // One thread submits and reaps: the kernel may then skip waking it
        // with an interrupt for each completion.
        usable =
            ::io_uring_queue_init(kRingEntries, &ring,
                                  IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_COOP_TASKRUN) == 0 ||
            ::io_uring_queue_init(kRingEntries, &ring, 0) == 0;
        made = usable;
    }
    ~Ring() {
        if (made) ::io_uring_queue_exit(&ring);
    }
    Ring(const Ring&) = delete;
    Ring& operator=(const Ring&) = delete;
};

}  // namespace

void ReadInBatch(std::vector<BatchRead>& reads) {
    for (BatchRead& b : reads) b.result = kNotRead;
    // A read or two gains nothing from the ring.
    if (reads.size() < 3) return ReadOneByOne(reads);
    thread_local Ring ring;
    if (!ring.usable) return ReadOneByOne(reads);
    io_uring* r = &ring.ring;
    size_t queued = 0, submitted = 0, completed = 0;
    auto reap = [&](io_uring_cqe* cqe) {
        const uint64_t at = ::io_uring_cqe_get_data64(cqe);
        if (at < reads.size()) reads[at].result = cqe->res;
        ::io_uring_cqe_seen(r, cqe);
        ++completed;
    };
    bool failed = false;
    while (completed < reads.size()) {
        // No more in flight than the completion ring holds.
        for (io_uring_sqe* sqe; queued < reads.size() && queued - completed < kRingEntries &&
                                (sqe = ::io_uring_get_sqe(r));) {
            BatchRead& b = reads[queued];
            ::io_uring_prep_read(sqe, b.fd, b.buffer, b.length, b.offset);
            ::io_uring_sqe_set_data64(sqe, queued);
            ++queued;
        }
        const int n = ::io_uring_submit_and_wait(r, 1);
        if (n > 0) {
            submitted += static_cast<size_t>(n);
        } else if (n < 0 && n != -EINTR && n != -EAGAIN && n != -EBUSY) {
            // (Interrupted or busy: what is queued goes in with the next call.)
            failed = true;
            break;
        }
        io_uring_cqe* cqe;
        while (::io_uring_peek_cqe(r, &cqe) == 0) reap(cqe);
    }
    if (!failed) return;
    // What is in flight still lands in its buffers: waited for before the reads
    // never handed over are done one by one, and the ring is not used again.
    while (completed < submitted) {
        io_uring_cqe* cqe;
        const int rc = ::io_uring_wait_cqe(r, &cqe);
        if (rc == -EINTR || rc == -EAGAIN || rc == -EBUSY) continue;
        if (rc != 0) break;
        reap(cqe);
    }
    ring.usable = false;
    // Handed over in order: a read among the first `submitted` whose end was not
    // seen is failed, not read again into a buffer the kernel may still fill.
    for (size_t i = 0; i < submitted && i < reads.size(); ++i)
        if (reads[i].result == kNotRead) reads[i].result = -EIO;
    ReadOneByOne(reads);
}

}  // namespace orb
