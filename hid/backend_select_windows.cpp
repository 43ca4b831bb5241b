// Picks the backend of this process on Windows.
#include <cstdlib>

#include "hid/backend_windows.h"
#include "platform/debug_log.h"

namespace {

HidBackend* chooseBackend() {
    const char* dir = std::getenv("LUMORA_HID_SOCKET_DIR");
    if (dir != nullptr && *dir != '\0') {
        DebugLog("HID: using the named-pipe device in %s\n", dir);
        return HidNewPipeBackend(dir).release();
    }
    return HidNewWindowsHidBackend().release();
}

}  // namespace

HidBackend& HidActiveBackend() {
    // Never destroyed: readThreads and watches may still use it while the process exits.
    static HidBackend* const backend = chooseBackend();
    return *backend;
}
