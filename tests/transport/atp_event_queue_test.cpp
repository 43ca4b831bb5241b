#include "transport/atp_event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace {

std::vector<std::pair<uint32_t, uint64_t>> TakeAll(ATPEventQueue& queue) {
    std::vector<std::pair<uint32_t, uint64_t>> taken;
    ATPEvent event;
    while (queue.take(&event)) {
        taken.emplace_back(event.type, event.value);
    }
    return taken;
}

TEST(ATPEventQueue, MergesDataEventsOnlyWhileOneIsStillQueued) {
    ATPEventQueue queue;
    queue.post(kEvtMsgData, 1);
    queue.post(kEvtTextData, 1);
    queue.post(kEvtMsgData, 1);
    queue.post(kEvtMsgData, 2);
    queue.post(kEvtTextData, 1);
    ATPEvent first;
    ASSERT_TRUE(queue.take(&first));
    EXPECT_EQ(first.type, kEvtMsgData);
    queue.post(kEvtMsgData, 1);  // the first one is taken: this one must stay
    using E = std::pair<uint32_t, uint64_t>;
    EXPECT_EQ(TakeAll(queue),
              (std::vector<E>{{kEvtTextData, 1}, {kEvtMsgData, 2}, {kEvtMsgData, 1}}));
}

TEST(ATPEventQueue, KeepsLifecycleEventsBeyondTheRingInOrder) {
    ATPEventQueue queue;
    const uint32_t types[] = {kEvtAddDevice, kEvtAttach, kEvtRemoveDevice};
    constexpr int kPosted = 3 * kATPEventQueueSize + 7;
    for (int i = 0; i < kPosted; ++i) {
        ASSERT_EQ(queue.post(types[i % 3], static_cast<uint64_t>(i)), ATPPostResult::queued);
        if (i == kATPEventQueueSize + 1) {
            queue.post(kEvtMsgData, 5);  // lands in the overflow, keeps its place
        }
    }
    const auto taken = TakeAll(queue);
    ASSERT_EQ(taken.size(), static_cast<size_t>(kPosted + 1));
    for (int i = 0, j = 0; i < kPosted; ++i, ++j) {
        if (j == kATPEventQueueSize + 2) {
            EXPECT_EQ(taken[j], std::make_pair(kEvtMsgData, uint64_t{5}));
            ++j;
        }
        EXPECT_EQ(taken[j], std::make_pair(types[i % 3], static_cast<uint64_t>(i)));
    }
}

// Posters stand in for read threads: each bumps its "ring" and then posts a data event, and
// posts lifecycle events in between. The consumer reads the ring's size when it takes a data
// event, as delivery does; merging must still let it see every last byte.
TEST(ATPEventQueue, ConcurrentPostersLoseNoLifecycleEventAndNoData) {
    constexpr int kPosters = 4;
    constexpr int kRounds = 5000;
    ATPEventQueue queue;
    std::atomic<int> ringSize[kPosters] = {};
    std::atomic<int> finished{0};
    std::map<uint64_t, int> lifecycleSeen;
    int lastSeenSize[kPosters] = {};
    uint64_t lastValue[kPosters] = {};
    bool inOrder = true;

    std::thread consumer([&] {
        ATPEvent event;
        for (;;) {
            const bool done = finished == kPosters;
            if (!queue.take(&event)) {
                if (done) {
                    return;
                }
                std::this_thread::yield();
                continue;
            }
            if (event.type == kEvtMsgData) {
                lastSeenSize[event.value] = ringSize[event.value];
                continue;
            }
            ++lifecycleSeen[event.value];
            const uint64_t poster = event.value / kRounds;
            inOrder = inOrder && (lastValue[poster] == 0 || event.value > lastValue[poster]);
            lastValue[poster] = event.value;
        }
    });
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < kRounds; ++i) {
                ++ringSize[p];
                queue.post(kEvtMsgData, static_cast<uint64_t>(p));
                queue.post(kEvtAddDevice + i % 3, static_cast<uint64_t>(p * kRounds + i));
            }
            ++finished;
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    consumer.join();

    EXPECT_TRUE(inOrder);
    ASSERT_EQ(lifecycleSeen.size(), static_cast<size_t>(kPosters * kRounds));
    for (const auto& seen : lifecycleSeen) {
        ASSERT_EQ(seen.second, 1) << "event " << seen.first;
    }
    for (int p = 0; p < kPosters; ++p) {
        EXPECT_EQ(lastSeenSize[p], kRounds) << "poster " << p;
    }
}

}  // namespace
