#include <gtest/gtest.h>

#include <atomic>

#include "platform/os.h"
#include "tests/support/eventually.h"

namespace {

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

// Created set, an auto-reset event clears itself on its first wait, a manual one on a reset.
// Set, it releases one auto-reset waiter, or every manual-reset waiter.
TEST(OsEvent, WaitAndSetFollowTheResetMode) {
    for (bool manualReset : {false, true}) {
        SCOPED_TRACE(manualReset ? "manual" : "auto");
        OsHandle event = OsCreateEvent(true, manualReset);
        EXPECT_EQ(OsWait(event, 0), kWaitSignalled);
        EXPECT_EQ(OsWait(event, 10), manualReset ? kWaitSignalled : kWaitTimeout);
        OsSetEvent(event);
        OsResetEvent(event);
        EXPECT_EQ(OsWait(event, 0), kWaitTimeout);
        OsCloseHandle(event);

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

struct Counter {
    OsLockRef lock = OsCreateLock();
    int value = 0;
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
}

// Also: a thread's handle is signalled only once the thread has ended.
TEST(OsLock, SerialisesThreadsAndIsRecursive) {
    Counter counter;
    OsHandle threads[] = {OsCreateThread("adder-a", addUnderLock, &counter),
                          OsCreateThread("adder-b", addUnderLock, &counter)};
    for (OsHandle thread : threads) {
        EXPECT_EQ(OsWait(thread, 30000), kWaitSignalled);
        OsCloseHandle(thread);
    }
    EXPECT_EQ(counter.value, 200000);
    OsDeleteLock(counter.lock);
}

}  // namespace
