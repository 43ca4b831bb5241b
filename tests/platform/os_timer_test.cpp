#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

#include "platform/os.h"
#include "platform/os_timer.h"
#include "tests/support/eventually.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Calls {
    std::atomic<int> count{0};
    int cancelOnCall = 0;        // cancel from inside the callback on this call
    OsHandle release = nullptr;  // when set, each call waits for it
    std::thread::id thread;      // of the last call
    Clock::time_point at;        // of the last call
    bool reach(int n, int limitMs = 30000) {
        return Eventually([&] { return count >= n; }, limitMs);
    }
};

// Callback state that outlives its test: a call already running when OsTimerCancel returns may
// still touch it. Reachable until the process ends, so no leak checker minds.
template <typename T>
T& Kept() {
    static auto* const kept = new std::deque<T>();
    return kept->emplace_back();
}

void countCall(OsTimer* timer, void* argument) {
    auto* calls = static_cast<Calls*>(argument);
    calls->thread = std::this_thread::get_id();
    calls->at = Clock::now();
    if (++calls->count == calls->cancelOnCall) {
        OsTimerCancel(timer);
    }
    OsWait(calls->release, kOsWaitForever);
}

TEST(OsTimer, PeriodicKeepsItsCadenceOnAnotherThreadAndOneShotCallsOnce) {
    Calls& periodic = Kept<Calls>();
    periodic.cancelOnCall = 20;
    const auto start = Clock::now();
    ASSERT_NE(OsTimerCreate(10, true, countCall, &periodic), nullptr);
    Calls& once = Kept<Calls>();
    OsTimer* oneShot = OsTimerCreate(5, false, countCall, &once);
    ASSERT_TRUE(periodic.reach(20) && once.reach(1));
    EXPECT_GE(periodic.at - start, std::chrono::milliseconds(200));  // the 20th is due then
    EXPECT_NE(periodic.thread, std::this_thread::get_id());
    EXPECT_FALSE(periodic.reach(21, 50));
    EXPECT_EQ(once.count, 1);
    OsTimerCancel(oneShot);
}

// Timers whose call is handed to a worker but not yet started when another timer's callback
// cancels them. Once that callback returns its thread is free for the next call: one of theirs,
// on the thread that cancelled it, can only have started after the cancel.
struct CancelRound {
    OsTimer* victims[32];
    OsHandle armed = OsCreateEvent(false, true);
    std::atomic<bool> done{false};
};
thread_local const CancelRound* tCancelledBy = nullptr;
std::atomic<int> gCallsAfterCancel{0};

void victimCall(OsTimer*, void* argument) {
    if (tCancelledBy == static_cast<const CancelRound*>(argument)) {
        ++gCallsAfterCancel;
    }
}

void cancelVictims(OsTimer*, void* argument) {
    auto* round = static_cast<CancelRound*>(argument);
    OsWait(round->armed, kOsWaitForever);
    for (int i = 31; i >= 0; --i) {  // the last queued first, the least likely to have started
        OsTimerCancel(round->victims[i]);
    }
    tCancelledBy = round;
    round->done = true;
}

TEST(OsTimer, TimerCancelledBeforeItsQueuedCallStartsNeverRuns) {
    for (int r = 0; r < 50; ++r) {
        CancelRound& round = Kept<CancelRound>();
        OsTimer* canceller = OsTimerCreate(5, false, cancelVictims, &round);
        for (OsTimer*& victim : round.victims) {
            victim = OsTimerCreate(5, false, victimCall, &round);
        }
        OsSetEvent(round.armed);
        ASSERT_TRUE(Eventually([&] { return round.done.load(); }));
        OsTimerCancel(canceller);
    }
    OsSleep(20);
    EXPECT_EQ(gCallsAfterCancel, 0);
}

// Cancel must not wait for the running call (that would deadlock), and frees the timer only after
// it ends (AddressSanitizer checks). Meanwhile other timers keep firing; cancelled between calls,
// one stops too: at most a call already starting may still finish.
TEST(OsTimer, CancelDoesNotWaitForARunningCallbackWhichDelaysNoOtherTimer) {
    Calls& slow = Kept<Calls>();
    slow.release = OsCreateEvent(false, true);
    OsTimer* timer = OsTimerCreate(1, true, countCall, &slow);
    ASSERT_TRUE(slow.reach(1));
    OsTimerCancel(timer);
    Calls& fast = Kept<Calls>();
    timer = OsTimerCreate(2, true, countCall, &fast);
    EXPECT_TRUE(fast.reach(10));
    OsTimerCancel(timer);
    const int fastCalls = fast.count;
    OsSetEvent(slow.release);
    EXPECT_FALSE(slow.reach(2, 50));  // the skipped ticks never ran
    EXPECT_LE(fast.count, fastCalls + 1);
}

}  // namespace
