// The watch thread on Windows: waits on the notice handle and an event that stops it.
#include <windows.h>

#include "hid/watch_thread.h"
#include "platform/debug_log.h"

namespace {

HANDLE ToWin(HidNotice handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

HidNotice HidNewStopNotice(const char* name) {
    const HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) {
        DebugLog("HID: cannot create the stop event of %s (%lu)\n", name, GetLastError());
        return kHidNoNotice;
    }
    return reinterpret_cast<HidNotice>(stop);
}

void HidSetStopNotice(HidNotice stop) {
    SetEvent(ToWin(stop));
}

void HidCloseStopNotice(HidNotice stop) {
    CloseHandle(ToWin(stop));
}

void HidWatchThread::run(void* raw) {
    auto* self = static_cast<HidWatchThread*>(raw);
    const HANDLE handles[2] = {ToWin(self->stop_), ToWin(self->notice_)};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        if (!self->drain_(self->context_)) {
            return;
        }
    }
}
