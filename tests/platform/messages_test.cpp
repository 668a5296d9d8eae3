#include "platform/messages.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orb
