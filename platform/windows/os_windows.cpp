// Win32 implementation of os.h: events, threads, locks, sleeping and the atomic flag store.
#include <windows.h>

#include <cstring>
#include <new>

#include "platform/debug_log.h"
#include "platform/os.h"

// Handles cross the interface as opaque pointers; on Windows they are the Win32 HANDLE itself.
static HANDLE ToWin(OsHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

static OsHandle FromWin(HANDLE handle) {
    return reinterpret_cast<OsHandle>(handle);
}

OsHandle OsCreateEvent(bool initiallySet, bool manualReset) {
    HANDLE event =
        CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
    if (event == nullptr) {
        DebugLog("CreateEvent failed (%d)\n", static_cast<int>(GetLastError()));
        return nullptr;
    }
    return FromWin(event);
}

void OsSetEvent(OsHandle event) {
    if (event != nullptr) {
        SetEvent(ToWin(event));
    }
}

void OsResetEvent(OsHandle event) {
    if (event != nullptr) {
        ResetEvent(ToWin(event));
    }
}

int OsWait(OsHandle handle, uint32_t timeoutMs) {
    if (handle == nullptr) {
        return kWaitTimeout;
    }
    const DWORD timeout = timeoutMs == kOsWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
    switch (WaitForSingleObject(ToWin(handle), timeout)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            return kWaitSignalled;
        default:
            return kWaitTimeout;
    }
}

void OsCloseHandle(OsHandle handle) {
    if (handle != nullptr) {
        CloseHandle(ToWin(handle));
    }
}

namespace {

// Linux keeps 15 characters of a thread name; keep the same so both platforms show the same.
constexpr size_t kThreadNameMax = 15;

struct ThreadStart {
    OsThreadBody body;
    void* argument;
    char name[kThreadNameMax + 1];
};

using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);

// SetThreadDescription only exists from Windows 10 1607 on, so it cannot be linked directly.
SetThreadDescriptionFn LookUpSetThreadDescription() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    FARPROC proc = GetProcAddress(kernel, "SetThreadDescription");
    if (proc == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void (*)()>(proc));
}

void NameCurrentThread(const char* name) {
    static const SetThreadDescriptionFn setDescription = LookUpSetThreadDescription();
    if (setDescription == nullptr || name[0] == '\0') {
        return;
    }
    wchar_t wide[kThreadNameMax + 1];
    if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, kThreadNameMax + 1) == 0) {
        return;
    }
    setDescription(GetCurrentThread(), wide);
}

DWORD WINAPI ThreadTrampoline(LPVOID parameter) {
    ThreadStart* start = static_cast<ThreadStart*>(parameter);
    const OsThreadBody body = start->body;
    void* const argument = start->argument;
    // Named here rather than by the creator so the name is in place before the body runs.
    NameCurrentThread(start->name);
    delete start;
    body(argument);
    return 0;
}

}  // namespace

OsHandle OsCreateThread(const char* name, OsThreadBody body, void* argument) {
    if (body == nullptr) {
        DebugLog("OsCreateThread: no thread body\n");
        return nullptr;
    }
    ThreadStart* start = new (std::nothrow) ThreadStart;
    if (start == nullptr) {
        DebugLog("OsCreateThread: out of memory\n");
        return nullptr;
    }
    start->body = body;
    start->argument = argument;
    start->name[0] = '\0';
    if (name != nullptr) {
        // A cut inside a UTF-8 sequence only costs a replacement character in the name.
        strncat(start->name, name, kThreadNameMax);
    }
    HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (thread == nullptr) {
        DebugLog("CreateThread failed (%d)\n", static_cast<int>(GetLastError()));
        delete start;
        return nullptr;
    }
    return FromWin(thread);
}

struct OsLockObject {
    CRITICAL_SECTION section;
};

OsLockRef OsCreateLock() {
    OsLockObject* lock = new (std::nothrow) OsLockObject;
    if (lock == nullptr) {
        DebugLog("OsCreateLock: out of memory\n");
        return nullptr;
    }
    InitializeCriticalSection(&lock->section);
    return lock;
}

void OsLock(OsLockRef lock) {
    if (lock != nullptr) {
        EnterCriticalSection(&lock->section);
    }
}

void OsUnlock(OsLockRef lock) {
    if (lock != nullptr) {
        LeaveCriticalSection(&lock->section);
    }
}

void OsDeleteLock(OsLockRef lock) {
    if (lock != nullptr) {
        DeleteCriticalSection(&lock->section);
        delete lock;
    }
}

void OsSleep(uint32_t ms) {
    Sleep(static_cast<DWORD>(ms));
}

static_assert(sizeof(LONG) == sizeof(int32_t), "InterlockedExchange must store 32 bits");

int32_t OsAtomicExchange(volatile int32_t* flag, int32_t value) {
    return static_cast<int32_t>(
        InterlockedExchange(reinterpret_cast<volatile LONG*>(flag), static_cast<LONG>(value)));
}
