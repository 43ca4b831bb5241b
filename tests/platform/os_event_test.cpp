#include <gtest/gtest.h>

#include <atomic>

#include "platform/os.h"

namespace {

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

TEST(OsEvent, NullHandlesAreHarmless) {
    EXPECT_EQ(OsWait(nullptr, 0), kWaitTimeout);
    OsSetEvent(nullptr);
    OsResetEvent(nullptr);
    OsCloseHandle(nullptr);
    OsLock(nullptr);
    OsUnlock(nullptr);
    OsDeleteLock(nullptr);
}

struct Waiter {
    OsHandle event;
    std::atomic<int>* released;
};

void waitOnce(void* argument) {
    auto* waiter = static_cast<Waiter*>(argument);
    if (OsWait(waiter->event, 5000) == kWaitSignalled) {
        ++*waiter->released;
    }
}

// Each set of an auto-reset event releases exactly one of several waiters; a manual-reset event
// releases all of them.
TEST(OsEvent, SetReleasesOneAutoResetWaiterOrAllManualResetWaiters) {
    for (bool manualReset : {false, true}) {
        std::atomic<int> released{0};
        Waiter waiter{OsCreateEvent(false, manualReset), &released};
        OsHandle threads[3];
        for (OsHandle& thread : threads) {
            thread = OsCreateThread("waiter", waitOnce, &waiter);
            ASSERT_NE(thread, nullptr);
        }
        OsSetEvent(waiter.event);
        if (!manualReset) {
            // Two more sets, each taken by one waiter, must release the remaining two.
            while (released.load() < 1) {
                OsSleep(1);
            }
            OsSetEvent(waiter.event);
            while (released.load() < 2) {
                OsSleep(1);
            }
            OsSetEvent(waiter.event);
        }
        for (OsHandle thread : threads) {
            EXPECT_EQ(OsWait(thread, 10000), kWaitSignalled);
            OsCloseHandle(thread);
        }
        EXPECT_EQ(released.load(), 3) << (manualReset ? "manual" : "auto");
        EXPECT_EQ(OsWait(waiter.event, 0), manualReset ? kWaitSignalled : kWaitTimeout);
        OsCloseHandle(waiter.event);
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
    EXPECT_EQ(OsWait(thread, 10000), kWaitSignalled);
    EXPECT_EQ(OsWait(thread, 0), kWaitSignalled);
    OsCloseHandle(thread);
    OsCloseHandle(go);
}

TEST(OsThread, ClosingTheHandleOfARunningThreadLetsItFinish) {
    OsHandle go = OsCreateEvent(false, true);
    OsHandle thread = OsCreateThread("detached", holdUntilSet, go);
    ASSERT_NE(thread, nullptr);
    OsCloseHandle(thread);
    OsSetEvent(go);  // the thread still uses its own reference; nothing may crash or leak
    OsSleep(20);
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
    EXPECT_EQ(counter.flag, 0);
    OsCloseHandle(a);
    OsCloseHandle(b);
    OsDeleteLock(counter.lock);
}

}  // namespace
