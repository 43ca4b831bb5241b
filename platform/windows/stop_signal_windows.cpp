#include <windows.h>

#include <atomic>

#include "platform/stop_signal.h"

namespace {

HANDLE gStop = nullptr;  // manual reset: set once, by the console's handler thread
std::atomic<int> gExitCode{kStopExitTerminate};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    gExitCode.store(event == CTRL_C_EVENT ? kStopExitInterrupt : kStopExitTerminate);
    SetEvent(gStop);
    // Closing the console ends the process as this returns: the program gets the time it needs
    // to clean up (it ends within a second) instead.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        Sleep(2000);
    }
    return TRUE;
}

}  // namespace

void PrepareStopSignal() {
    gStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int WaitForStopSignal() {
    WaitForSingleObject(gStop, INFINITE);
    return gExitCode.load();
}
