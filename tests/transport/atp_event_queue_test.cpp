#include "transport/atp_event_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Taken = std::vector<std::pair<uint32_t, uint64_t>>;

TEST(ATPEventQueue, KeepsEventsBeyondTheRingInOrderAndMergesDataOnlyWhileQueued) {
    ATPEventQueue queue;
    Taken posted;
    for (uint64_t i = 0; i < 3 * kATPEventQueueSize + 7; ++i) {
        posted.emplace_back(kEvtAddDevice + i % 3, i);
        ASSERT_EQ(queue.post(posted.back().first, i), ATPPostResult::queued);
        if (i == kATPEventQueueSize + 1) {
            posted.emplace_back(kEvtMsgData, 5);  // lands in the overflow, keeps its place
            queue.post(kEvtMsgData, 5);
        }
    }
    EXPECT_EQ(queue.post(kEvtMsgData, 5), ATPPostResult::merged);  // one is still queued
    Taken taken;
    for (ATPEvent event; queue.take(&event);) {
        taken.emplace_back(event.type, event.value);
    }
    EXPECT_EQ(taken, posted);
    EXPECT_EQ(queue.post(kEvtMsgData, 5), ATPPostResult::queued);  // taken: this one must stay
}

}  // namespace
