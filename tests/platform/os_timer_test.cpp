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
    OsTimer* cancelAt = nullptr;  // cancel from inside the callback on this call number
    int cancelOnCall = 0;

    bool waitFor(int n, milliseconds limit = milliseconds(10000)) {
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

TEST(OsTimer, OneShotTimerCallsOnce) {
    Calls& calls = freshCalls();
    OsTimer* timer = OsTimerCreate(5, false, countCall, &calls);
    ASSERT_TRUE(calls.waitFor(1));
    EXPECT_FALSE(calls.waitFor(2, milliseconds(60)));
    OsTimerCancel(timer);
}

TEST(OsTimer, CancelFromInsideTheCallbackStopsFurtherCalls) {
    Calls& calls = freshCalls();
    calls.cancelOnCall = 3;
    OsTimerCreate(2, true, countCall, &calls);
    ASSERT_TRUE(calls.waitFor(3));
    EXPECT_FALSE(calls.waitFor(4, milliseconds(50)));
}

TEST(OsTimer, CancelOfNullTimerDoesNothing) {
    OsTimerCancel(nullptr);
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
// memory is released only after that call ends (AddressSanitizer checks this).
TEST(OsTimer, CancelDoesNotWaitForARunningCallback) {
    Blocking blocking;
    OsTimer* timer = OsTimerCreate(1, true, blockUntilReleased, &blocking);
    ASSERT_EQ(OsWait(blocking.entered, 10000), kWaitSignalled);
    OsTimerCancel(timer);
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

// A slow callback must not hold up other timers: the acknowledgement timer of one reader keeps
// running while another reader's callback waits.
TEST(OsTimer, SlowCallbackDoesNotDelayOtherTimers) {
    Blocking blocking;
    OsTimer* slow = OsTimerCreate(1, false, blockUntilReleased, &blocking);
    ASSERT_EQ(OsWait(blocking.entered, 10000), kWaitSignalled);
    Calls& calls = freshCalls();
    OsTimer* fast = OsTimerCreate(2, true, countCall, &calls);
    EXPECT_TRUE(calls.waitFor(10));
    OsTimerCancel(fast);
    OsSetEvent(blocking.release);
    OsTimerCancel(slow);
    while (!blocking.finished) {
        OsSleep(1);
    }
    OsCloseHandle(blocking.entered);
    OsCloseHandle(blocking.release);
}

TEST(OsTimer, ManyTimersAllFire) {
    constexpr int kTimers = 64;
    Calls* calls[kTimers];
    OsTimer* timers[kTimers];
    for (int i = 0; i < kTimers; ++i) {
        calls[i] = &freshCalls();
        timers[i] = OsTimerCreate(1 + i % 7, i % 2 == 0, countCall, calls[i]);
    }
    for (int i = 0; i < kTimers; ++i) {
        EXPECT_TRUE(calls[i]->waitFor(1)) << i;
    }
    for (OsTimer* timer : timers) {
        OsTimerCancel(timer);
    }
}

}  // namespace
