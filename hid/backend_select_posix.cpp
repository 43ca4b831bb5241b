// Picks the backend of this process on Linux.
#include <stdlib.h>

#include "hid/backend_linux_hidraw.h"
#include "hid/backend_socket.h"
#include "hid/hid_backend.h"
#include "platform/debug_log.h"

namespace {

HidBackend* chooseBackend() {
    const char* dir = getenv("LUMORA_HID_SOCKET_DIR");
    if (dir && *dir) {
        DebugLog("HID: using the socket device in %s\n", dir);
        return HidNewSocketBackend(dir).release();
    }
    return HidNewHidrawBackend().release();
}

}  // namespace

HidBackend& HidActiveBackend() {
    // Never destroyed: readThreads and watches may still use it while the process exits.
    static HidBackend* const backend = chooseBackend();
    return *backend;
}
