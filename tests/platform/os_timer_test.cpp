#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/os.h"
#include "platform/os_timer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Counts calls and lets a test wait for a number of them.
struct Calls {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    std::thread::id lastThread;
    int cancelOnCall = 0;  // cancel from inside the callback on this call number

    // The default limit only turns a hang into a failure.
    bool waitFor(int n, milliseconds limit = milliseconds(30000)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return count >= n; });
    }
    int current() {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
};

// Callback state that outlives its test: a call already running when OsTimerCancel returns may
// still touch it. Reachable until the process ends, so no leak checker minds.
Calls& freshCalls() {
    static auto* const kept = new std::deque<Calls>();
    return kept->emplace_back();
}

void countCall(OsTimer* timer, void* argument) {
    auto* calls = static_cast<Calls*>(argument);
    std::lock_guard<std::mutex> lock(calls->mutex);
    ++calls->count;
    calls->lastThread = std::this_thread::get_id();
    if (calls->cancelOnCall == calls->count) {
        OsTimerCancel(timer);
    }
    calls->changed.notify_all();
}

TEST(OsTimer, PeriodicTimerKeepsItsCadenceOnAnotherThread) {
    Calls& calls = freshCalls();
    const auto start = Clock::now();
    OsTimer* timer = OsTimerCreate(10, true, countCall, &calls);
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(calls.waitFor(20));
    // Never early: the 20th call is due 200 ms after creation.
    EXPECT_GE(Clock::now() - start, milliseconds(200));
    EXPECT_NE(calls.lastThread, std::this_thread::get_id());
    OsTimerCancel(timer);
}

TEST(OsTimer, OneShotCallsOnceAndCancelFromInsideStopsAPeriodicTimer) {
    Calls& once = freshCalls();
    OsTimer* timer = OsTimerCreate(5, false, countCall, &once);
    Calls& third = freshCalls();
    third.cancelOnCall = 3;
    OsTimerCreate(2, true, countCall, &third);
    ASSERT_TRUE(once.waitFor(1));
    ASSERT_TRUE(third.waitFor(3));
    EXPECT_FALSE(once.waitFor(2, milliseconds(60)));
    EXPECT_FALSE(third.waitFor(4, milliseconds(1)));
    OsTimerCancel(timer);
}

// A periodic timer's calls stop with the cancel; at most the one call already running when
// cancel was called may still finish afterwards.
TEST(OsTimer, NoNewCallAfterCancelReturns) {
    for (int round = 0; round < 20; ++round) {
        Calls& calls = freshCalls();
        OsTimer* timer = OsTimerCreate(1, true, countCall, &calls);
        ASSERT_TRUE(calls.waitFor(2));
        OsTimerCancel(timer);
        const int atCancel = calls.current();
        EXPECT_FALSE(calls.waitFor(atCancel + 2, milliseconds(20)));
    }
}

// Timers whose call is handed to a worker but not yet started when another timer's callback
// cancels them. Once that callback returns its thread is free for the next call: one of theirs,
// on the thread that cancelled it, can only have started after the cancel.
struct CancelRound {
    OsTimer* victims[32];
    OsHandle armed = OsCreateEvent(false, true);
    OsHandle done = OsCreateEvent(false, true);
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
    OsSetEvent(round->done);
}

TEST(OsTimer, TimerCancelledBeforeItsQueuedCallStartsNeverRuns) {
    for (int r = 0; r < 50; ++r) {
        // Kept, like Calls: a late call reads the round.
        static auto* const kept = new std::deque<CancelRound>();
        CancelRound* round = &kept->emplace_back();
        OsTimer* canceller = OsTimerCreate(5, false, cancelVictims, round);
        for (OsTimer*& victim : round->victims) {
            victim = OsTimerCreate(5, false, victimCall, round);
        }
        OsSetEvent(round->armed);
        ASSERT_EQ(OsWait(round->done, 30000), kWaitSignalled);
        OsTimerCancel(canceller);
    }
    OsSleep(20);
    EXPECT_EQ(gCallsAfterCancel.load(), 0);
}

struct Blocking {
    OsHandle entered = OsCreateEvent(false, true);
    OsHandle release = OsCreateEvent(false, true);
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
};

void blockUntilReleased(OsTimer*, void* argument) {
    auto* blocking = static_cast<Blocking*>(argument);
    ++blocking->calls;
    OsSetEvent(blocking->entered);
    OsWait(blocking->release, kOsWaitForever);
    blocking->finished = true;
}

// Cancel must not wait for the running call (this would deadlock otherwise), and the timer's
// memory is released only after that call ends (AddressSanitizer checks this). Meanwhile other
// timers, many of them, keep firing: a slow callback holds up no one else.
TEST(OsTimer, CancelDoesNotWaitForARunningCallbackWhichDelaysNoOtherTimer) {
    Blocking blocking;
    OsTimer* slow = OsTimerCreate(1, true, blockUntilReleased, &blocking);
    ASSERT_EQ(OsWait(blocking.entered, 30000), kWaitSignalled);
    OsTimerCancel(slow);
    constexpr int kTimers = 64;
    Calls* calls[kTimers];
    OsTimer* timers[kTimers];
    for (int i = 0; i < kTimers; ++i) {
        calls[i] = &freshCalls();
        timers[i] = OsTimerCreate(1 + i % 7, i % 2 == 0, countCall, calls[i]);
    }
    for (int i = 0; i < kTimers; ++i) {
        EXPECT_TRUE(calls[i]->waitFor(1)) << i;
        OsTimerCancel(timers[i]);
    }
    EXPECT_FALSE(blocking.finished);
    OsSetEvent(blocking.release);
    while (!blocking.finished) {
        OsSleep(1);
    }
    OsSleep(10);
    EXPECT_EQ(blocking.calls.load(), 1);  // the skipped ticks never ran
    OsCloseHandle(blocking.entered);
    OsCloseHandle(blocking.release);
}

}  // namespace
