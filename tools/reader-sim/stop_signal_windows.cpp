#include <windows.h>

#include "tools/reader-sim/stop_signal.h"

namespace {

HANDLE gStop = nullptr;  // manual reset: set once, by the console's handler thread

BOOL WINAPI OnConsoleEvent(DWORD /*event*/) {
    SetEvent(gStop);
    return TRUE;
}

}  // namespace

void SimPrepareStopSignal() {
    gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void SimWaitForStopSignal() {
    WaitForSingleObject(gStop, INFINITE);
}
