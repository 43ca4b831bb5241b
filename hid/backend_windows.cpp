// Windows HID backend: SetupAPI lists the HID interfaces, which are opened for the overlapped
// report I/O of backend_windows_io.cpp. HID.DLL is bound at run time.
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

#include "hid/backend_windows.h"
#include "hid/hid.h"
#include "platform/debug_log.h"
#include "platform/os.h"

namespace {

typedef void(__stdcall* HidDGetHidGuidFn)(GUID*);

HMODULE gHidLibrary = nullptr;
// Atomic because listenThread reads it while LoadHidLibrary's thread owns it.
std::atomic<HidDGetHidGuidFn> gGetHidGuid{nullptr};

unsigned long LastError() {
    return static_cast<unsigned long>(GetLastError());
}

class WindowsHidBackend final : public WindowsFileBackend {
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
        return adopt(file, path);
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

std::unique_ptr<HidBackend> HidNewWindowsHidBackend() {
    return std::unique_ptr<HidBackend>(new (std::nothrow) WindowsHidBackend);
}
