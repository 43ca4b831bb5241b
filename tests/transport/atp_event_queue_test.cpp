#include "transport/atp_event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
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

// Posters stand in for read threads: each bumps its "ring", then posts a data event and a
// lifecycle event. The consumer reads the ring's size when it takes a data event, as delivery
// does; merging must still let it see every last byte, and no lifecycle event may be lost.
TEST(ATPEventQueue, ConcurrentPostersLoseNoLifecycleEventAndNoData) {
    constexpr int kPosters = 4;
    constexpr int kRounds = 5000;
    ATPEventQueue queue;
    std::atomic<int> ringSize[kPosters] = {};
    std::atomic<int> finished{0};
    int lastSeenSize[kPosters] = {};
    uint64_t nextLifecycle[kPosters] = {};
    std::thread consumer([&] {
        ATPEvent event;
        for (bool done = false; !done;) {
            done = finished == kPosters;
            while (queue.take(&event)) {
                if (event.type == kEvtMsgData) {
                    lastSeenSize[event.value] = ringSize[event.value];
                } else {  // each poster's in order, none lost
                    EXPECT_EQ(event.value % kRounds, nextLifecycle[event.value / kRounds]++);
                }
            }
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kRounds; ++i) {
                ++ringSize[p];
                queue.post(kEvtMsgData, p);
                queue.post(kEvtAddDevice + i % 3, uint64_t(p) * kRounds + i);
            }
            ++finished;
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    consumer.join();
    for (int p = 0; p < kPosters; ++p) {
        EXPECT_EQ(lastSeenSize[p], kRounds) << "poster " << p;
        EXPECT_EQ(nextLifecycle[p], uint64_t(kRounds)) << "poster " << p;
    }
}

}  // namespace
