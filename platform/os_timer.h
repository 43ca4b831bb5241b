// Callback timers. One backend per OS implements this header (posix/, windows/).
#pragma once

#include <cstdint>

struct OsTimer;

// Called as callback(timer, argument) on a platform timer thread, never on the thread that
// created the timer. Callbacks of different timers may run at the same time; one timer's
// callback never overlaps itself (a periodic tick that falls due while the previous call is
// still running is skipped).
using OsTimerCallback = void (*)(OsTimer* timer, void* argument);

// Creates a timer whose first call comes dueMs after now and, when periodic, again every dueMs
// until cancelled; periodic calls keep to their cadence and do not drift. Returns null (and
// logs) when the platform refuses. The timer is owned by the caller until OsTimerCancel.
OsTimer* OsTimerCreate(uint32_t dueMs, bool periodic, OsTimerCallback callback, void* argument);

// Stops further calls and gives the timer back; null is allowed and does nothing. Returns
// without waiting for a call that is already running (so it may be called from the timer's own
// callback); the timer's memory is released once such a call has finished. After it returns no
// new call starts. The timer must not be used after this call.
void OsTimerCancel(OsTimer* timer);
