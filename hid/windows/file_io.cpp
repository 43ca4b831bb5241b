// Report I/O on Windows: overlapped ReadFile and WriteFile of 65 bytes, cancelled with CancelIo.
#include <atomic>
#include <new>

#include "hid/windows/file_io.h"
#include "platform/debug_log.h"
#include "platform/os.h"

struct HidDevice {
    HANDLE file;
    // Set by interrupt() and never cleared: an interrupt that arrives between reads still ends
    // the next one.
    std::atomic<bool> interrupted;
};

namespace {

HANDLE ToWin(OsHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

unsigned long LastError() {
    return static_cast<unsigned long>(GetLastError());
}

// Returns once the kernel no longer uses ov or the buffer behind it. GetOverlappedResult(TRUE)
// alone is not enough: it returns as soon as ov.hEvent is set, and interrupt() may set the
// read's event again while the cancelled read is still finishing.
void WaitUntilDone(HANDLE file, OVERLAPPED& ov) {
    DWORD transferred = 0;
    while (!HasOverlappedIoCompleted(&ov)) {
        ResetEvent(ov.hEvent);
        // The completion sets the event after the status, so a reset after this check is safe.
        if (HasOverlappedIoCompleted(&ov)) {
            break;
        }
        if (!GetOverlappedResult(file, &ov, &transferred, TRUE) && !HasOverlappedIoCompleted(&ov)) {
            Sleep(1);  // the wait itself failed; poll rather than spin
        }
    }
}

HidWriteResult WaitForWrite(HANDLE file, OVERLAPPED& ov, uint32_t timeoutMs, int& errorCode) {
    const DWORD timeout = timeoutMs == kOsWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
    DWORD transferred = 0;
    const DWORD waited = WaitForSingleObject(ov.hEvent, timeout);
    if (waited == WAIT_OBJECT_0) {
        if (GetOverlappedResult(file, &ov, &transferred, FALSE)) {
            return HidWriteResult::written;
        }
        errorCode = static_cast<int>(GetLastError());
        return HidWriteResult::failed;
    }
    const unsigned long waitError = LastError();
    // ov lives on the caller's stack: the write must be over before it returns. CancelIo
    // cancels only this thread's I/O, so the read stays pending.
    CancelIo(file);
    WaitUntilDone(file, ov);
    if (waited == WAIT_TIMEOUT) {
        // Finished between the time-out and the cancel: it went out, so do not resend.
        if (GetOverlappedResult(file, &ov, &transferred, FALSE)) {
            return HidWriteResult::written;
        }
        return HidWriteResult::timedOut;
    }
    errorCode = static_cast<int>(waitError);
    return HidWriteResult::failed;
}

// A message-mode pipe hands a message longer than the buffer over in parts (a HID device never
// does). The rest is read and dropped, so the next read starts at a message; size gets the
// whole length for the caller to refuse.
bool DropRestOfMessage(HANDLE file, OVERLAPPED& ov, int& size) {
    size = kHidReportSize;
    for (;;) {
        uint8_t rest[512];
        const HANDLE event = ov.hEvent;
        ov = OVERLAPPED{};
        ov.hEvent = event;
        const bool started = ReadFile(file, rest, sizeof rest, nullptr, &ov);
        unsigned long error = started ? 0 : LastError();
        if (error == ERROR_IO_PENDING) {
            // The rest of a message is always there already; anything else is a broken device.
            CancelIo(file);
            WaitUntilDone(file, ov);
        } else if (started || error == ERROR_MORE_DATA) {
            DWORD transferred = 0;
            const bool whole = GetOverlappedResult(file, &ov, &transferred, FALSE);
            error = whole ? 0 : LastError();
            size += static_cast<int>(transferred);
            if (whole) {
                return true;
            }
            if (error == ERROR_MORE_DATA) {
                continue;
            }
        }
        DebugLog("HID read: dropping an overlong message failed (%lu)\n", error);
        return false;
    }
}

}  // namespace

HidDevice* WindowsFileBackend::adopt(HANDLE file, const char* path) {
    HidDevice* device = new (std::nothrow) HidDevice;
    if (device == nullptr) {
        DebugLog("HID: out of memory opening %s\n", path);
        CloseHandle(file);
        return nullptr;
    }
    device->file = file;
    device->interrupted.store(false);
    return device;
}

HidReadResult WindowsFileBackend::read(HidDevice* device, OsHandle readEvent,
                                       uint8_t (&report)[kHidReportSize], int& size) {
    size = 0;
    HANDLE event = ToWin(readEvent);
    if (device == nullptr || event == nullptr) {
        DebugLog("HID read: no device or no event\n");
        return HidReadResult::failed;
    }
    ResetEvent(event);
    // Checked after the reset: an interrupt() from here on sets the event again.
    if (device->interrupted.load()) {
        return HidReadResult::interrupted;
    }

    OVERLAPPED ov = {};
    ov.hEvent = event;
    if (ReadFile(device->file, report, kHidReportSize, nullptr, &ov)) {
        SetEvent(event);
    } else {
        const unsigned long error = LastError();
        if (error == ERROR_MORE_DATA) {
            SetEvent(event);  // done at once, with a rest; the result below tells
        } else if (error != ERROR_IO_PENDING) {
            DebugLog("HID read failed (%lu)\n", error);
            return HidReadResult::failed;
        }
    }

    if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) {
        DebugLog("HID read: wait failed (%lu)\n", LastError());
        CancelIo(device->file);
        WaitUntilDone(device->file, ov);
        return HidReadResult::failed;
    }

    DWORD transferred = 0;
    if (GetOverlappedResult(device->file, &ov, &transferred, FALSE)) {
        size = static_cast<int>(transferred);
        return HidReadResult::report;
    }
    const unsigned long error = LastError();
    if (error == ERROR_MORE_DATA) {
        return DropRestOfMessage(device->file, ov, size) ? HidReadResult::report
                                                         : HidReadResult::failed;
    }
    if (error == ERROR_IO_INCOMPLETE) {
        // Woken by interrupt(); the buffer must be left alone before returning.
        CancelIo(device->file);
        WaitUntilDone(device->file, ov);
        return HidReadResult::interrupted;
    }
    DebugLog("HID read failed (%lu)\n", error);
    return HidReadResult::failed;
}

void WindowsFileBackend::interrupt(HidDevice* device, OsHandle readEvent) {
    if (device != nullptr) {
        device->interrupted.store(true);
    }
    if (readEvent != nullptr) {
        SetEvent(ToWin(readEvent));
    }
}

HidWriteResult WindowsFileBackend::write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                                         uint32_t timeoutMs, int& errorCode) {
    errorCode = 0;
    if (device == nullptr) {
        return HidWriteResult::refused;
    }
    // Per call, so that concurrent writers and the read never share an event.
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        DebugLog("\n\tWriteHidReport failed - unable to create event\n");
        errorCode = -1;
        return HidWriteResult::failed;
    }

    OVERLAPPED ov = {};
    ov.hEvent = event;
    HidWriteResult result = HidWriteResult::written;
    if (!WriteFile(device->file, report, kHidReportSize, nullptr, &ov)) {
        const unsigned long error = LastError();
        if (error != ERROR_IO_PENDING) {
            errorCode = static_cast<int>(error);
            result = HidWriteResult::refused;
        } else {
            result = WaitForWrite(device->file, ov, timeoutMs, errorCode);
        }
    }

    CloseHandle(event);
    return result;
}

void WindowsFileBackend::close(HidDevice* device) {
    if (device == nullptr) {
        return;
    }
    CloseHandle(device->file);
    delete device;
}
