// POSIX backend of os.h: events and thread handles on pthread mutexes and monotonic condition
// variables, so waits are immune to wall-clock changes.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <new>

#include "platform/debug_log.h"
#include "platform/os.h"

// Events and threads share one waitable shape: a thread's handle is a manual-reset event that
// is set when the thread ends. The object is freed when both the handle and, for a thread,
// the running thread have let go of it.
struct OsObject {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    bool signalled;
    bool manualReset;
    std::atomic<int> references;
};

struct OsLockObject {
    pthread_mutex_t mutex;
};

namespace {

OsObject* newWaitable(bool initiallySet, bool manualReset, int references) {
    auto* object = new (std::nothrow) OsObject;
    if (!object) {
        return nullptr;
    }
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    const bool ok = pthread_mutex_init(&object->mutex, nullptr) == 0 &&
                    pthread_cond_init(&object->cond, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    if (!ok) {
        DebugLog("OsCreateEvent: cannot initialise the event\n");
        delete object;
        return nullptr;
    }
    object->signalled = initiallySet;
    object->manualReset = manualReset;
    object->references = references;
    return object;
}

void release(OsObject* object) {
    if (object->references.fetch_sub(1) == 1) {
        pthread_cond_destroy(&object->cond);
        pthread_mutex_destroy(&object->mutex);
        delete object;
    }
}

timespec deadlineAfter(uint32_t ms) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += long(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

struct ThreadStart {
    OsThreadBody body;
    void* argument;
    OsObject* handle;
    char name[16];
};

void* threadMain(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    pthread_setname_np(pthread_self(), start.name);
    start.body(start.argument);
    OsSetEvent(start.handle);
    release(start.handle);
    return nullptr;
}

}  // namespace

OsHandle OsCreateEvent(bool initiallySet, bool manualReset) {
    return newWaitable(initiallySet, manualReset, 1);
}

void OsSetEvent(OsHandle event) {
    if (!event) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    event->signalled = true;
    pthread_mutex_unlock(&event->mutex);
    // After unlocking: a waiter woken under the lock would at once block on it again, costing
    // a second wake-up. Waiters test the flag under the lock, so none misses this one.
    // An auto-reset event releases one waiter; a manual-reset one releases them all.
    if (event->manualReset) {
        pthread_cond_broadcast(&event->cond);
    } else {
        pthread_cond_signal(&event->cond);
    }
}

void OsResetEvent(OsHandle event) {
    if (!event) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    event->signalled = false;
    pthread_mutex_unlock(&event->mutex);
}

int OsWait(OsHandle handle, uint32_t timeoutMs) {
    if (!handle) {
        return kWaitTimeout;
    }
    const timespec deadline = deadlineAfter(timeoutMs);
    pthread_mutex_lock(&handle->mutex);
    int rc = 0;
    while (!handle->signalled && rc != ETIMEDOUT) {
        rc = timeoutMs == kOsWaitForever
                 ? pthread_cond_wait(&handle->cond, &handle->mutex)
                 : pthread_cond_timedwait(&handle->cond, &handle->mutex, &deadline);
        if (rc != 0 && rc != ETIMEDOUT) {
            break;
        }
    }
    const bool signalled = handle->signalled;
    if (signalled && !handle->manualReset) {
        handle->signalled = false;
    }
    pthread_mutex_unlock(&handle->mutex);
    return signalled ? kWaitSignalled : kWaitTimeout;
}

void OsCloseHandle(OsHandle handle) {
    if (handle) {
        release(handle);
    }
}

OsHandle OsCreateThread(const char* name, OsThreadBody body, void* argument) {
    OsObject* handle = newWaitable(false, true, 2);  // the caller's handle and the thread
    auto* start = new (std::nothrow) ThreadStart{body, argument, handle, {}};
    if (!handle || !start) {
        delete start;
        if (handle) {
            release(handle);
            release(handle);
        }
        return nullptr;
    }
    std::snprintf(start->name, sizeof start->name, "%s", name ? name : "lumora");
    pthread_t thread;
    const int rc = pthread_create(&thread, nullptr, threadMain, start);
    if (rc != 0) {
        DebugLog("OsCreateThread: cannot start %s (%d)\n", start->name, rc);
        delete start;
        release(handle);
        release(handle);
        return nullptr;
    }
    pthread_detach(thread);
    return handle;
}

OsLockRef OsCreateLock() {
    auto* lock = new (std::nothrow) OsLockObject;
    if (!lock) {
        return nullptr;
    }
    // Recursive, like the critical sections of the home platform.
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    return lock;
}

void OsLock(OsLockRef lock) {
    if (lock) {
        pthread_mutex_lock(&lock->mutex);
    }
}

void OsUnlock(OsLockRef lock) {
    if (lock) {
        pthread_mutex_unlock(&lock->mutex);
    }
}

void OsDeleteLock(OsLockRef lock) {
    if (lock) {
        pthread_mutex_destroy(&lock->mutex);
        delete lock;
    }
}

void OsSleep(uint32_t ms) {
    timespec remaining{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int32_t OsAtomicExchange(volatile int32_t* flag, int32_t value) {
    return __atomic_exchange_n(flag, value, __ATOMIC_SEQ_CST);
}
