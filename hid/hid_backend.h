// What the shared HID code needs from the platform. One implementation per device source:
// Linux hidraw, the socket device (LUMORA_HID_SOCKET_DIR) and Windows. Internal to hid/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid.h"

enum class HidReadResult {
    report,       // one report of the given size is in the buffer
    drained,      // readIfQueued only: no report is waiting, nothing was read
    interrupted,  // interrupt() was called
    failed,       // the device is gone or broken; the readThread ends
};

enum class HidWriteResult {
    written,
    refused,   // failed at once (closed or gone); logged by nobody
    timedOut,  // did not complete in time; the backend has cancelled it
    failed,    // failed later; errorCode holds the platform's code
};

// Wakes an event when a device appears or disappears. Owns its own thread, if it needs one.
struct HidWatch {
    virtual ~HidWatch() = default;
};

class HidBackend {
public:
    virtual ~HidBackend() = default;

    // Lists present HID devices with the path the platform opens them by. Returns false when
    // the listing itself failed (one device whose details cannot be read is just left out).
    // Called on listenThread.
    virtual bool enumerate(std::vector<std::string>& paths) = 0;

    // Opens a device for reading and writing; null when it cannot be opened now, with denied
    // set when this user lacks the permission. Called on the entry's readThread.
    virtual HidDevice* open(const char* path, bool& denied) = 0;

    // Blocks until one input report arrives (stored with its report id first; size set to the
    // bytes read), the device fails, or interrupt() is called. readEvent is the entry's event.
    // Called on the entry's readThread only.
    virtual HidReadResult read(HidDevice* device, OsHandle readEvent,
                               uint8_t (&report)[kHidReportSize], int& size) = 0;

    // As read, but returns drained at once instead of waiting when no report is queued. A
    // backend that cannot tell without waiting says drained every time. Same thread as read.
    virtual HidReadResult readIfQueued(HidDevice*, OsHandle, uint8_t (&)[kHidReportSize],
                                       int& size) {
        size = 0;
        return HidReadResult::drained;
    }

    // Whether rest() waits as asked; a backend that cannot says false and reads as reports come.
    virtual bool canRest() const { return false; }
    // Waits ms milliseconds without reading, ending early on interrupt(). Same thread as read.
    virtual void rest(HidDevice*, uint32_t /*ms*/) {}

    // Makes a read in progress (or the next one) return interrupted. Any thread.
    virtual void interrupt(HidDevice* device, OsHandle readEvent) = 0;

    // Writes one 65-byte report, waiting at most timeoutMs. Any thread, also while a read is
    // in progress on the device.
    virtual HidWriteResult write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                                 uint32_t timeoutMs, int& errorCode) = 0;

    // Closes the device; no call on it may be in progress or follow. Called on its readThread.
    virtual void close(HidDevice* device) = 0;

    // Starts watching for arrivals and removals, setting wake on each; null when the platform
    // offers no such notice (the periodic scan still finds devices).
    virtual HidWatch* watch(OsHandle wake) = 0;
};

// One of each per OS: the socket device in dir (Unix-domain sockets, or named pipes announced
// by marker files on Windows) and the system's own HID devices (hidraw, or SetupAPI). Null only
// when out of memory.
std::unique_ptr<HidBackend> HidNewSocketDeviceBackend(const std::string& dir);
std::unique_ptr<HidBackend> HidNewSystemBackend();

// The backend for this process: the socket device when LUMORA_HID_SOCKET_DIR is set and not
// empty, else the system's HID devices. Chosen once; lives until the process ends.
HidBackend& HidActiveBackend();

// Stands in for the process's backend until called again with null, for tests; set only while
// no interface is open. The HID layer itself uses HidBackendInUse().
void HidSetBackendForTest(HidBackend* backend);
HidBackend& HidBackendInUse();
