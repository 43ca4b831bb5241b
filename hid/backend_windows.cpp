// Windows HID backend: SetupAPI lists the HID interfaces, overlapped file I/O reads and writes
// reports. HID.DLL is bound at run time.
#include <windows.h>

#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "hid/hid.h"
#include "hid/hid_backend.h"
#include "platform/debug_log.h"
#include "platform/os.h"

struct HidDevice {
    HANDLE file;
    // Set by interrupt() and never cleared: an interrupt that arrives between reads still ends
    // the next one.
    std::atomic<bool> interrupted;
};

namespace {

typedef void(__stdcall* HidDGetHidGuidFn)(GUID*);

HMODULE gHidLibrary = nullptr;
// Atomic because listenThread reads it while LoadHidLibrary's thread owns it.
std::atomic<HidDGetHidGuidFn> gGetHidGuid{nullptr};

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

class WindowsHidBackend final : public HidBackend {
public:
    bool enumerate(std::vector<std::string>& paths) override {
        const HidDGetHidGuidFn getHidGuid = gGetHidGuid.load();
        if (getHidGuid == nullptr) {
            static std::atomic<bool> logged{false};
            if (!logged.exchange(true)) {
                DebugLog(0, "HID: HID.DLL is not loaded; no devices can be listed\n");
            }
            return false;
        }
        GUID hidGuid;
        getHidGuid(&hidGuid);

        HDEVINFO set =
            SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            DebugLog(0, "SetupDiGetClassDevs failed (%lu)\n", LastError());
            return false;
        }

        bool listed = true;
        // The list must be destroyed even when a path cannot be stored.
        try {
            for (DWORD index = 0;; ++index) {
                SP_DEVICE_INTERFACE_DATA interfaceData = {};
                interfaceData.cbSize = sizeof(interfaceData);
                if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
                    const unsigned long error = LastError();
                    if (error != ERROR_NO_MORE_ITEMS) {
                        // A partial list would make present devices look removed.
                        DebugLog(0, "SetupDiEnumDeviceInterfaces failed at %lu (%lu)\n",
                                 static_cast<unsigned long>(index), error);
                        listed = false;
                    }
                    break;
                }
                std::string path;
                if (ReadInterfacePath(set, interfaceData, path)) {
                    paths.push_back(std::move(path));
                }
            }
        } catch (const std::bad_alloc&) {
            DebugLog(0, "HID: out of memory listing devices\n");
            listed = false;
        }

        SetupDiDestroyDeviceInfoList(set);
        return listed;
    }

    HidDevice* open(const char* path, bool& denied) override {
        denied = false;
        if (path == nullptr) {
            return nullptr;
        }
        HANDLE file =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        // Not logged: the caller retries a busy device every few tens of milliseconds.
        if (file == INVALID_HANDLE_VALUE) {
            denied = GetLastError() == ERROR_ACCESS_DENIED;
            return nullptr;
        }
        HidDevice* device = new (std::nothrow) HidDevice;
        if (device == nullptr) {
            DebugLog(0, "HID: out of memory opening %s\n", path);
            CloseHandle(file);
            return nullptr;
        }
        device->file = file;
        device->interrupted.store(false);
        return device;
    }

    HidReadResult read(HidDevice* device, OsHandle readEvent, uint8_t (&report)[kHidReportSize],
                       int& size) override {
        size = 0;
        HANDLE event = ToWin(readEvent);
        if (device == nullptr || event == nullptr) {
            DebugLog(0, "HID read: no device or no event\n");
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
            if (error != ERROR_IO_PENDING) {
                DebugLog(0, "HID read failed (%lu)\n", error);
                return HidReadResult::failed;
            }
        }

        if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) {
            DebugLog(0, "HID read: wait failed (%lu)\n", LastError());
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
        if (error == ERROR_IO_INCOMPLETE) {
            // Woken by interrupt(); the buffer must be left alone before returning.
            CancelIo(device->file);
            WaitUntilDone(device->file, ov);
            return HidReadResult::interrupted;
        }
        DebugLog(0, "HID read failed (%lu)\n", error);
        return HidReadResult::failed;
    }

    void interrupt(HidDevice* device, OsHandle readEvent) override {
        if (device != nullptr) {
            device->interrupted.store(true);
        }
        if (readEvent != nullptr) {
            SetEvent(ToWin(readEvent));
        }
    }

    HidWriteResult write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                         uint32_t timeoutMs, int& errorCode) override {
        errorCode = 0;
        if (device == nullptr) {
            return HidWriteResult::refused;
        }
        // Per call, so that concurrent writers and the read never share an event.
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr) {
            DebugLog(0, "\n\tWriteHidReport failed - unable to create event\n");
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

    void close(HidDevice* device) override {
        if (device == nullptr) {
            return;
        }
        CloseHandle(device->file);
        delete device;
    }

    HidWatch* watch(OsHandle /*wake*/) override {
        // Arrival notices need a window; the periodic scan finds devices instead.
        return nullptr;
    }

private:
    // Reads one interface's device path; false (logged) when its details cannot be read.
    static bool ReadInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                  std::string& path) {
        DWORD required = 0;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &required,
                                              nullptr)) {
            const unsigned long error = LastError();
            if (error != ERROR_INSUFFICIENT_BUFFER || required == 0) {
                DebugLog(0, "SetupDiGetDeviceInterfaceDetail (size) failed (%lu)\n", error);
                return false;
            }
        }
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        }
        // operator new aligns the buffer for any fundamental type, so the cast is safe.
        std::vector<char> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, required, nullptr,
                                              nullptr)) {
            DebugLog(0, "SetupDiGetDeviceInterfaceDetail failed (%lu)\n", LastError());
            return false;
        }
        // The path ends at its terminator, which lies within the buffer Windows filled.
        const size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        path.assign(detail->DevicePath, strnlen(detail->DevicePath, required - offset));
        return true;
    }

    static HidWriteResult WaitForWrite(HANDLE file, OVERLAPPED& ov, uint32_t timeoutMs,
                                       int& errorCode) {
        const DWORD timeout =
            timeoutMs == kOsWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
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
};

}  // namespace

bool LoadHidLibrary() {
    if (gHidLibrary != nullptr) {
        return true;
    }
    HMODULE library = LoadLibraryA("HID.DLL");
    if (library == nullptr) {
        DebugLog(0, "Load HID.DLL failed\n");
        return false;
    }
    FARPROC proc = GetProcAddress(library, "HidD_GetHidGuid");
    if (proc == nullptr) {
        DebugLog(0, "HID.DLL has no HidD_GetHidGuid\n");
        FreeLibrary(library);
        return false;
    }
    gHidLibrary = library;
    gGetHidGuid.store(reinterpret_cast<HidDGetHidGuidFn>(reinterpret_cast<void (*)()>(proc)));
    return true;
}

void UnloadHidLibrary() {
    gGetHidGuid.store(nullptr);
    if (gHidLibrary != nullptr) {
        FreeLibrary(gHidLibrary);
        gHidLibrary = nullptr;
    }
}

HidBackend& HidActiveBackend() {
    static WindowsHidBackend backend = [] {
        const char* socketDir = std::getenv("LUMORA_HID_SOCKET_DIR");
        if (socketDir != nullptr && socketDir[0] != '\0') {
            DebugLog(0, "HID: the socket device is not available on this platform\n");
        }
        return WindowsHidBackend();
    }();
    return backend;
}
