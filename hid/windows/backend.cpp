// Windows HID backend: SetupAPI lists the HID interfaces, which are opened for the overlapped
// report I/O of file_io.cpp; cfgmgr32's device notifications wake the listing when
// one comes or goes. HID.DLL and the notifications are bound at run time.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "hid/hid.h"
#include "hid/windows/file_io.h"
#include "platform/debug_log.h"
#include "platform/os.h"

namespace {

typedef void(__stdcall* HidDGetHidGuidFn)(GUID*);

// cfgmgr32.h declares device notifications only for Windows 8 builds; Windows 7, which we still
// run on, and Wine lack them. So they are looked up at run time, their few types written here.
using CmNotification = HANDLE;
constexpr DWORD kCmFilterDeviceInterface = 0;
struct CmNotifyFilter {
    DWORD cbSize;
    DWORD flags;
    DWORD filterType;
    DWORD reserved;
    union {
        GUID classGuid;
        HANDLE target;
        WCHAR instanceId[MAX_DEVICE_ID_LEN];
    } u;
};
static_assert(sizeof(CmNotifyFilter) == 416, "Windows checks cbSize against the whole union");
typedef DWORD(CALLBACK* CmNotifyCallback)(CmNotification, void* context, DWORD action,
                                          void* eventData, DWORD eventDataSize);
typedef CONFIGRET(WINAPI* CmRegisterNotificationFn)(CmNotifyFilter*, void* context,
                                                    CmNotifyCallback, CmNotification*);
typedef CONFIGRET(WINAPI* CmUnregisterNotificationFn)(CmNotification);

HMODULE gHidLibrary = nullptr;
// Atomic because listenThread reads it while LoadHidLibrary's thread owns it.
std::atomic<HidDGetHidGuidFn> gGetHidGuid{nullptr};

unsigned long LastError() {
    return static_cast<unsigned long>(GetLastError());
}

// GetProcAddress typed; null for a null library too.
template <typename Fn>
Fn procAddress(HMODULE library, const char* name) {
    const FARPROC proc = library != nullptr ? GetProcAddress(library, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// The HID interface class; false (logged once) while HID.DLL is not loaded.
bool readHidGuid(GUID& guid) {
    const HidDGetHidGuidFn getHidGuid = gGetHidGuid.load();
    if (getHidGuid == nullptr) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true)) {
            DebugLog("HID: HID.DLL is not loaded; no devices can be listed\n");
        }
        return false;
    }
    getHidGuid(&guid);
    return true;
}

struct LibraryFree {
    void operator()(HMODULE library) const { FreeLibrary(library); }
};
using LibraryPtr = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFree>;

// Wakes discovery on each arrival and removal of a HID interface. Windows calls notify on a
// thread of its own, so it only sets the event, taking no lock of ours; the scan it starts
// compares the listing with the device table, so a notice twice over changes nothing.
class NotificationWatch final : public HidWatch {
public:
    // Registers for the interfaces of class guid; null (logged once) when this Windows offers
    // no such notice or refuses it.
    static HidWatch* start(const GUID& guid, OsHandle wake) {
        // From System32 only: a cfgmgr32.dll beside the program is not ours to load.
        LibraryPtr library(LoadLibraryExA("cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        const auto registerFn =
            procAddress<CmRegisterNotificationFn>(library.get(), "CM_Register_Notification");
        const auto unregisterFn =
            procAddress<CmUnregisterNotificationFn>(library.get(), "CM_Unregister_Notification");
        if (registerFn == nullptr || unregisterFn == nullptr) {
            logNoNoticeOnce("cfgmgr32 has no CM_Register_Notification", LastError());
            return nullptr;
        }
        CmNotifyFilter filter = {};
        filter.cbSize = sizeof filter;
        filter.filterType = kCmFilterDeviceInterface;
        filter.u.classGuid = guid;
        CmNotification notification = nullptr;
        const CONFIGRET result = registerFn(&filter, wake, &notify, &notification);
        if (result != CR_SUCCESS) {
            logNoNoticeOnce("CM_Register_Notification failed", result);
            return nullptr;
        }
        auto* watch =
            new (std::nothrow) NotificationWatch(std::move(library), unregisterFn, notification);
        if (watch == nullptr) {
            unregisterFn(notification);
        }
        return watch;
    }

    ~NotificationWatch() override {
        // Returns once no notify runs any more, so wake may be closed after us.
        const CONFIGRET result = unregister_(notification_);
        if (result != CR_SUCCESS) {
            DebugLog("HID: CM_Unregister_Notification failed (%lu)\n",
                     static_cast<unsigned long>(result));
        }
    }

private:
    NotificationWatch(LibraryPtr library, CmUnregisterNotificationFn unregister,
                      CmNotification notification)
        : library_(std::move(library)), unregister_(unregister), notification_(notification) {}

    // Every notice of an interface filter is an arrival or a removal.
    static DWORD CALLBACK notify(CmNotification, void* wake, DWORD, void*, DWORD) {
        OsSetEvent(static_cast<OsHandle>(wake));
        return ERROR_SUCCESS;
    }

    static void logNoNoticeOnce(const char* why, unsigned long code) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true)) {
            DebugLog("HID: no device notifications (%s, %lu); relying on the periodic scan\n", why,
                     code);
        }
    }

    LibraryPtr library_;  // keeps unregister_ loaded
    CmUnregisterNotificationFn unregister_;
    CmNotification notification_;  // owned
};

class WindowsHidBackend final : public WindowsFileBackend {
public:
    bool enumerate(std::vector<std::string>& paths) override {
        GUID hidGuid;
        if (!readHidGuid(hidGuid)) {
            return false;
        }

        HDEVINFO set =
            SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            DebugLog("SetupDiGetClassDevs failed (%lu)\n", LastError());
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
                        DebugLog("SetupDiEnumDeviceInterfaces failed at %lu (%lu)\n",
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
            DebugLog("HID: out of memory listing devices\n");
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

    HidWatch* watch(OsHandle wake) override {
        GUID hidGuid;
        return readHidGuid(hidGuid) ? NotificationWatch::start(hidGuid, wake) : nullptr;
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
                DebugLog("SetupDiGetDeviceInterfaceDetail (size) failed (%lu)\n", error);
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
            DebugLog("SetupDiGetDeviceInterfaceDetail failed (%lu)\n", LastError());
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
        DebugLog("Load HID.DLL failed\n");
        return false;
    }
    const auto getHidGuid = procAddress<HidDGetHidGuidFn>(library, "HidD_GetHidGuid");
    if (getHidGuid == nullptr) {
        DebugLog("HID.DLL has no HidD_GetHidGuid\n");
        FreeLibrary(library);
        return false;
    }
    gHidLibrary = library;
    gGetHidGuid.store(getHidGuid);
    return true;
}

void UnloadHidLibrary() {
    gGetHidGuid.store(nullptr);
    if (gHidLibrary != nullptr) {
        FreeLibrary(gHidLibrary);
        gHidLibrary = nullptr;
    }
}

std::unique_ptr<HidBackend> HidNewSystemBackend() {
    return std::unique_ptr<HidBackend>(new (std::nothrow) WindowsHidBackend);
}
