// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orb {
namespace {

TEST(PlainMessageTarget, SendRunsAtOnceAndPostWaitsForDispatch) {
    std::vector<uint32_t> seen;
    CPlainMessageTarget target([&](uint32_t msg, WPARAM w, LPARAM) -> LRESULT {
        seen.push_back(msg);
        return static_cast<LRESULT>(w * 2);
    });
    EXPECT_EQ(target.Send(WM_SCAN_STATUS, 21, 0), 42);
    target.Post(WM_SEARCH_EVENT, 2, 0);
    EXPECT_EQ(seen, std::vector<uint32_t>{WM_SCAN_STATUS});
    EXPECT_EQ(target.DispatchPosted(), 1u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{WM_SCAN_STATUS, WM_SEARCH_EVENT}));
}

TEST(PlainMessageTarget, WaitPostedWakesForAMessageFromAnotherThread) {
    int finished = 0;
    CPlainMessageTarget target([&](uint32_t, WPARAM w, LPARAM) -> LRESULT {
        if (w == 2) ++finished;
        return 0;
    });
    std::thread worker([&] { target.Post(WM_SEARCH_EVENT, 2, 0); });
    EXPECT_TRUE(target.WaitPosted(5000));
    worker.join();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(target.WaitPosted(10));
}

TEST(PlainMessageTarget, OwnerMayDestroyTheTargetAsSoonAsTheLastSendIsHandled) {
    // The owner waits for the final message and destroys the target at once, while
    // the worker is still returning from its Send.
    for (int round = 0; round < 200; ++round) {
        std::mutex m;
        std::condition_variable cv;
        bool seen = false;
        auto target =
            std::make_unique<CPlainMessageTarget>([&](uint32_t, WPARAM, LPARAM) -> LRESULT {
                std::lock_guard<std::mutex> lock(m);
                seen = true;
                cv.notify_all();
                return 0;
            });
        std::thread worker([t = target.get()] { t->Send(WM_SCAN_STATUS, 3, 0); });
        {
            std::unique_lock<std::mutex> lock(m);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return seen; }));
        }
        target.reset();
        worker.join();
    }
}

}  // namespace
}  // namespace orb
