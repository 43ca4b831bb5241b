// Win32 implementation of os_timer.h on timer queues, one queue per timer so that deleting the
// queue can wait for exactly this timer's callbacks.
#include <windows.h>

#include <new>

#include "platform/debug_log.h"
#include "platform/os_timer.h"

struct OsTimer {
    HANDLE queue;
    HANDLE timer;
    OsTimerCallback callback;
    void* argument;
    // Guards timer, cancelled and running; never held while the callback runs.
    CRITICAL_SECTION state;
    bool cancelled;
    bool running;
};

namespace {

void FreeTimer(OsTimer* osTimer) {
    DeleteCriticalSection(&osTimer->state);
    delete osTimer;
}

VOID CALLBACK TimerTrampoline(PVOID parameter, BOOLEAN /*timerOrWaitFired*/) {
    OsTimer* osTimer = static_cast<OsTimer*>(parameter);
    EnterCriticalSection(&osTimer->state);
    // The queue hands overdue periodic ticks to other pool threads; drop them instead of
    // letting the callback overlap itself.
    if (osTimer->cancelled || osTimer->running || osTimer->callback == nullptr) {
        LeaveCriticalSection(&osTimer->state);
        return;
    }
    osTimer->running = true;
    LeaveCriticalSection(&osTimer->state);

    osTimer->callback(osTimer, osTimer->argument);

    EnterCriticalSection(&osTimer->state);
    osTimer->running = false;
    LeaveCriticalSection(&osTimer->state);
}

// Runs on a pool thread so the canceller never blocks; waiting here also covers a cancel issued
// from the timer's own callback.
DWORD WINAPI ReleaseTimer(LPVOID parameter) {
    OsTimer* osTimer = static_cast<OsTimer*>(parameter);
    if (!DeleteTimerQueueEx(osTimer->queue, INVALID_HANDLE_VALUE)) {
        // The callbacks may not be over, so the block must outlive them: leak it.
        DebugLog("DeleteTimerQueueEx failed (%d)\n", static_cast<int>(GetLastError()));
        return 0;
    }
    FreeTimer(osTimer);
    return 0;
}

}  // namespace

OsTimer* OsTimerCreate(uint32_t dueMs, bool periodic, OsTimerCallback callback, void* argument) {
    OsTimer* osTimer = new (std::nothrow) OsTimer;
    if (osTimer == nullptr) {
        DebugLog("OsTimerCreate: out of memory\n");
        return nullptr;
    }
    osTimer->queue = nullptr;
    osTimer->timer = nullptr;
    osTimer->callback = callback;
    osTimer->argument = argument;
    osTimer->cancelled = false;
    osTimer->running = false;
    InitializeCriticalSection(&osTimer->state);

    HANDLE queue = CreateTimerQueue();
    if (queue == nullptr) {
        DebugLog("CreateTimerQueue failed (%d)\n", static_cast<int>(GetLastError()));
        FreeTimer(osTimer);
        return nullptr;
    }
    osTimer->queue = queue;

    // A short due time can fire, and its callback cancel, before CreateTimerQueueTimer has
    // returned; holding the state lock until the handle is stored makes the trampoline wait.
    EnterCriticalSection(&osTimer->state);
    HANDLE timer = nullptr;
    // A period of 0 would mean "once"; a periodic timer due at once repeats every millisecond.
    const DWORD period = periodic ? (dueMs ? dueMs : 1) : 0;
    // Timer queues count whole milliseconds of a coarser clock than the caller's, so a call may
    // come up to one before its time; one more keeps every call at or after it.
    const DWORD due = dueMs < MAXDWORD ? dueMs + 1 : dueMs;
    const BOOL created =
        CreateTimerQueueTimer(&timer, queue, TimerTrampoline, osTimer, due, period, 0);
    if (!created) {
        const DWORD error = GetLastError();
        LeaveCriticalSection(&osTimer->state);
        DebugLog("CreateTimerQueueTimer failed (%d)\n", static_cast<int>(error));
        // No timer exists, so no callback can still touch the block.
        DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE);
        FreeTimer(osTimer);
        return nullptr;
    }
    osTimer->timer = timer;
    LeaveCriticalSection(&osTimer->state);
    return osTimer;
}

void OsTimerCancel(OsTimer* osTimer) {
    if (osTimer == nullptr) {
        return;
    }
    EnterCriticalSection(&osTimer->state);
    osTimer->cancelled = true;
    const HANDLE queue = osTimer->queue;
    const HANDLE timer = osTimer->timer;
    LeaveCriticalSection(&osTimer->state);
    if (queue == nullptr || timer == nullptr) {
        return;
    }

    // No completion event: waiting here would deadlock a cancel made from the callback itself.
    if (!DeleteTimerQueueTimer(queue, timer, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            DebugLog("DeleteTimerQueue returned with an error:%d\n", static_cast<int>(error));
        }
    }

    if (!QueueUserWorkItem(ReleaseTimer, osTimer, WT_EXECUTELONGFUNCTION)) {
        DebugLog("OsTimerCancel: cannot queue the release (%d), leaking the timer\n",
                 static_cast<int>(GetLastError()));
        // Lets the queue go once its callbacks end; the block stays, as a late tick still reads
        // its cancelled flag.
        DeleteTimerQueueEx(queue, nullptr);
    }
}
