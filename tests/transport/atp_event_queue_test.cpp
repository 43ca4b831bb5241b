#include "transport/atp_event_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Taken = std::vector<std::pair<uint32_t, uint64_t>>;

Taken TakeAll(ATPEventQueue& queue) {
    Taken taken;
    for (ATPEvent event; queue.take(&event);) {
        taken.emplace_back(event.type, event.value);
    }
    return taken;
}

TEST(ATPEventQueue, MergesDataEventsOnlyWhileOneIsStillQueued) {
    ATPEventQueue queue;
    for (auto type : {kEvtMsgData, kEvtTextData, kEvtMsgData}) {
        queue.post(type, 1);
    }
    queue.post(kEvtMsgData, 2);
    ATPEvent first;
    ASSERT_TRUE(queue.take(&first));
    EXPECT_EQ(first.type, kEvtMsgData);
    queue.post(kEvtMsgData, 1);  // the first one is taken: this one must stay
    EXPECT_EQ(TakeAll(queue), (Taken{{kEvtTextData, 1}, {kEvtMsgData, 2}, {kEvtMsgData, 1}}));
}

TEST(ATPEventQueue, KeepsLifecycleEventsBeyondTheRingInOrder) {
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
    EXPECT_EQ(TakeAll(queue), posted);
}

}  // namespace
