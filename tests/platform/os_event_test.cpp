#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "platform/os.h"

namespace {

// Polls until done holds; the cap only turns a hang into a failure.
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 30000 && !done(); ++i) {
        OsSleep(1);
    }
    return done();
}

TEST(OsEvent, WaitFollowsInitialStateAndResetMode) {
    struct Case {
        bool initiallySet;
        bool manualReset;
        int firstWait;
        int secondWait;  // an auto-reset event has cleared itself by now
    };
    const Case cases[] = {
        {true, true, kWaitSignalled, kWaitSignalled},
        {true, false, kWaitSignalled, kWaitTimeout},
        {false, true, kWaitTimeout, kWaitTimeout},
        {false, false, kWaitTimeout, kWaitTimeout},
    };
    for (const Case& c : cases) {
        OsHandle event = OsCreateEvent(c.initiallySet, c.manualReset);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(OsWait(event, 0), c.firstWait);
        EXPECT_EQ(OsWait(event, 10), c.secondWait);
        OsSetEvent(event);
        EXPECT_EQ(OsWait(event, 0), kWaitSignalled);
        OsResetEvent(event);
        EXPECT_EQ(OsWait(event, 0), kWaitTimeout);
        OsCloseHandle(event);
    }
}

struct Waiters {
    OsHandle event;
    std::atomic<int> waiting{0};
    std::atomic<int> released{0};
};

// Waits without end, so only a set can release it: a time-out that still finds a manual-reset
// event set cannot pass for a wake-up.
void waitForSet(void* argument) {
    auto* waiters = static_cast<Waiters*>(argument);
    ++waiters->waiting;
    if (OsWait(waiters->event, kOsWaitForever) == kWaitSignalled) {
        ++waiters->released;
    }
}

TEST(OsEvent, SetReleasesOneAutoResetWaiterOrEveryManualResetWaiter) {
    for (bool manualReset : {false, true}) {
        SCOPED_TRACE(manualReset ? "manual" : "auto");
        Waiters waiters{OsCreateEvent(false, manualReset)};
        OsHandle threads[3];
        for (OsHandle& thread : threads) {
            thread = OsCreateThread("waiter", waitForSet, &waiters);
            ASSERT_NE(thread, nullptr);
        }
        ASSERT_TRUE(Eventually([&] { return waiters.waiting == 3; }));
        OsSleep(20);  // into their waits; one that comes later finds the event set anyway
        for (int set = 1; set <= (manualReset ? 1 : 3); ++set) {
            OsSetEvent(waiters.event);
            ASSERT_TRUE(Eventually([&] { return waiters.released >= set; }));
        }
        EXPECT_TRUE(Eventually([&] { return waiters.released == 3; }));
        EXPECT_EQ(OsWait(waiters.event, 0), manualReset ? kWaitSignalled : kWaitTimeout);
        for (OsHandle thread : threads) {
            OsSetEvent(waiters.event);  // frees any waiter a failure left behind
            EXPECT_EQ(OsWait(thread, 30000), kWaitSignalled);
            OsCloseHandle(thread);
        }
        OsCloseHandle(waiters.event);
    }
}

void holdUntilSet(void* argument) {
    OsWait(static_cast<OsHandle>(argument), kOsWaitForever);
}

TEST(OsThread, HandleIsSignalledWhenTheThreadEnds) {
    OsHandle go = OsCreateEvent(false, true);
    OsHandle thread = OsCreateThread("holder", holdUntilSet, go);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(OsWait(thread, 20), kWaitTimeout);
    OsSetEvent(go);
    EXPECT_EQ(OsWait(thread, 30000), kWaitSignalled);
    EXPECT_EQ(OsWait(thread, 0), kWaitSignalled);
    OsCloseHandle(thread);
    OsCloseHandle(go);
}

struct Counter {
    OsLockRef lock;
    int value;
    volatile int32_t flag;
};

void addUnderLock(void* argument) {
    auto* counter = static_cast<Counter*>(argument);
    for (int i = 0; i < 100000; ++i) {
        OsLock(counter->lock);
        OsLock(counter->lock);  // recursive, like a critical section
        ++counter->value;
        OsUnlock(counter->lock);
        OsUnlock(counter->lock);
    }
    OsAtomicExchange(&counter->flag, 1);
}

TEST(OsLock, SerialisesThreadsAndIsRecursive) {
    Counter counter{OsCreateLock(), 0, 0};
    ASSERT_NE(counter.lock, nullptr);
    OsHandle a = OsCreateThread("adder-a", addUnderLock, &counter);
    OsHandle b = OsCreateThread("adder-b", addUnderLock, &counter);
    EXPECT_EQ(OsWait(a, 30000), kWaitSignalled);
    EXPECT_EQ(OsWait(b, 30000), kWaitSignalled);
    EXPECT_EQ(counter.value, 200000);
    EXPECT_EQ(OsAtomicExchange(&counter.flag, 0), 1);
    OsCloseHandle(a);
    OsCloseHandle(b);
    OsDeleteLock(counter.lock);
}

}  // namespace
