// Operating-system services for the lower layers: events, threads, locks, sleeping and an
// atomic flag store. One backend per OS implements this header (posix/, windows/).
//
// Every function may be called from any thread unless its comment says otherwise. None of them
// throws; failures are logged through DebugLog and reported by the result.
#pragma once

#include <cstdint>

// An event or a thread. Opaque; owned by whoever created it until OsCloseHandle.
struct OsObject;
using OsHandle = OsObject*;

// A mutual-exclusion lock. Opaque; owned by whoever created it until OsDeleteLock.
struct OsLockObject;
using OsLockRef = OsLockObject*;

enum : int {
    kWaitSignalled = 1,
    kWaitTimeout = 2,
};

// OsWait time-out that never expires.
constexpr uint32_t kOsWaitForever = 0xFFFFFFFFu;

// Creates an unnamed event. Returns null when the OS refuses. A manual-reset event stays set
// until OsResetEvent; an auto-reset event clears itself when it releases one waiter.
OsHandle OsCreateEvent(bool initiallySet, bool manualReset);
void OsSetEvent(OsHandle event);
void OsResetEvent(OsHandle event);

// Blocks up to timeoutMs until the event is set or the thread has ended. Returns kWaitSignalled
// when it is or becomes so, kWaitTimeout on time-out and on every failure (a null handle too).
int OsWait(OsHandle handle, uint32_t timeoutMs);

// Releases an event or thread handle (null allowed). Closing a thread's handle does not stop the
// thread; its resources are freed when it ends. Nobody may wait on a handle while it is closed.
void OsCloseHandle(OsHandle handle);

// Starts a thread that runs body(argument) and gives it a short name (seen in debuggers and
// `top -H`; at most 15 characters are kept). Returns the thread's handle, which OsWait waits on
// until the thread ends, or null when the thread cannot be started.
using OsThreadBody = void (*)(void* argument);
OsHandle OsCreateThread(const char* name, OsThreadBody body, void* argument);

// Locks are recursive (a thread may take a lock it holds). OsLock, OsUnlock and OsDeleteLock
// accept a null lock and then do nothing. OsCreateLock returns null only when out of memory.
OsLockRef OsCreateLock();
void OsLock(OsLockRef lock);
void OsUnlock(OsLockRef lock);
void OsDeleteLock(OsLockRef lock);

// Blocks the calling thread for ms milliseconds.
void OsSleep(uint32_t ms);

// Stores value into *flag atomically, visible to all threads at once; returns the old value.
int32_t OsAtomicExchange(volatile int32_t* flag, int32_t value);
