// The Windows backends: HID devices listed by SetupAPI, and the named-pipe device
// (LUMORA_HID_SOCKET_DIR). Both read and write through the same overlapped file I/O, so the
// pipe exercises the very code that serves a reader. Internal to hid/.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

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

// The machine's HID devices; watch() uses device notifications on Windows 8 and later.
std::unique_ptr<HidBackend> HidNewWindowsHidBackend();

// The named pipes announced by the marker files in dir; null only when out of memory.
std::unique_ptr<HidBackend> HidNewPipeBackend(const std::string& dir);
