// The one device the user may not open, for the layers above to explain an absent reader.
#include <string>

#include "hid/hid.h"
#include "hid/hid_internal.h"
#include "platform/debug_log.h"

namespace {

OsLockRef DeniedLock() {
    static OsLockRef lock = OsCreateLock();
    return lock;
}

std::string& DeniedPath() {
    static std::string path;
    return path;
}

}  // namespace

std::string HidDeniedDevicePath() {
    OsLock(DeniedLock());
    std::string path = DeniedPath();
    OsUnlock(DeniedLock());
    return path;
}

void HidNoteDenied(const char* platformPath) {
    OsLock(DeniedLock());
    const bool fresh = DeniedPath() != platformPath;
    if (fresh) {
        DeniedPath() = platformPath;
    }
    OsUnlock(DeniedLock());
    // Retries meet the same refusal every few seconds; once is enough to say.
    if (fresh) {
        DebugLog("HID: cannot open %s: permission denied\n", platformPath);
    }
}

void HidForgetDenied(const char* platformPath) {
    OsLock(DeniedLock());
    if (DeniedPath() == platformPath) {
        DeniedPath().clear();
    }
    OsUnlock(DeniedLock());
}
