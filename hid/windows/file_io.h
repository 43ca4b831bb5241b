// Overlapped report I/O on a device handle, shared by the Windows HID backend and the named-pipe
// device, so the pipe exercises the very code that serves a reader. Internal to hid/.
#pragma once

#include <windows.h>

#include "hid/hid_backend.h"

// Overlapped I/O of one report at a time on a device handle opened with FILE_FLAG_OVERLAPPED.
class WindowsFileBackend : public HidBackend {
public:
    HidReadResult read(HidDevice* device, OsHandle readEvent, uint8_t (&report)[kHidReportSize],
                       int& size) override;
    void interrupt(HidDevice* device, OsHandle readEvent) override;
    HidWriteResult write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                         uint32_t timeoutMs, int& errorCode) override;
    void close(HidDevice* device) override;

protected:
    // Takes over an open overlapped handle; null (and the handle closed) when out of memory.
    static HidDevice* adopt(HANDLE file, const char* path);
};
