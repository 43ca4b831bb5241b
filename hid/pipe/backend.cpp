// The socket device on Windows: a named pipe per reader, announced by a marker file in one
// folder whose whole content is the pipe's name (pipes themselves cannot be listed everywhere).
// A marker's path is the device path; opening it opens the pipe in message mode for the same
// overlapped I/O as a HID device.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "hid/watch_thread.h"
#include "hid/windows/file_io.h"
#include "platform/debug_log.h"
#include "platform/os.h"

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";

struct ChangeClose {
    void operator()(HANDLE change) const { FindCloseChangeNotification(change); }
};
using ChangePtr = std::unique_ptr<std::remove_pointer_t<HANDLE>, ChangeClose>;

// Wakes discovery when a file in the folder is added, removed or renamed.
class PipeWatch final : public HidWatch {
public:
    PipeWatch(ChangePtr change, OsHandle wake) : change_(std::move(change)), wake_(wake) {}
    bool start() {
        return thread_.start("hid-pipe-watch", reinterpret_cast<HidNotice>(change_.get()), &drain,
                             this);
    }

private:
    static bool drain(void* raw) {
        auto* self = static_cast<PipeWatch*>(raw);
        // Armed again before the wake: a later change signals anew, an earlier one is seen by
        // the scan that the wake starts. (A device arrives as a file, then a rename.)
        const bool armed = FindNextChangeNotification(self->change_.get());
        OsSetEvent(self->wake_);
        if (!armed) {
            DebugLog("HID: hid-pipe-watch: watch ended (%lu)\n", GetLastError());
        }
        return armed;
    }

    ChangePtr change_;
    OsHandle wake_;          // not owned
    HidWatchThread thread_;  // owns "hid-pipe-watch"; declared last so it stops first
};

// Reads a marker: the pipe's full name, and nothing else.
bool readMarker(const char* path, std::string& pipeName) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;  // unplugged since the scan
    }
    char text[kHidPathSize];
    DWORD length = 0;
    const bool read = ReadFile(file, text, sizeof text, &length, nullptr);
    CloseHandle(file);
    pipeName.assign(text, read ? length : 0);
    // Anything but a pipe's name would have us open whatever file a marker names.
    if (length >= sizeof text || pipeName.compare(0, sizeof kPipePrefix - 1, kPipePrefix) != 0 ||
        pipeName.find('\0') != std::string::npos) {
        DebugLog("HID: %s does not name a pipe\n", path);
        return false;
    }
    return true;
}

class PipeBackend final : public WindowsFileBackend {
public:
    explicit PipeBackend(std::string dir) : dir_(std::move(dir)) {}

    bool enumerate(std::vector<std::string>& paths) override {
        paths.clear();
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                return true;
            }
            DebugLog("HID: cannot list the device folder %s (%lu)\n", dir_.c_str(), error);
            return false;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                paths.push_back(dir_ + "/" + found.cFileName);
            }
        } while (FindNextFileA(search, &found));
        const DWORD error = GetLastError();
        FindClose(search);
        if (error != ERROR_NO_MORE_FILES) {
            DebugLog("HID: listing %s failed (%lu)\n", dir_.c_str(), error);
            return false;
        }
        std::sort(paths.begin(), paths.end());
        return true;
    }

    HidDevice* open(const char* path, bool& denied) override {
        denied = false;
        std::string pipeName;
        if (path == nullptr || !readMarker(path, pipeName)) {
            return nullptr;
        }
        HANDLE file = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        // Not logged: busy with another host, or gone; the caller retries.
        if (file == INVALID_HANDLE_VALUE) {
            denied = GetLastError() == ERROR_ACCESS_DENIED;
            return nullptr;
        }
        // A client end starts in byte mode; reports are messages.
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!SetNamedPipeHandleState(file, &mode, nullptr, nullptr)) {
            DebugLog("HID: %s: cannot read the pipe by messages (%lu)\n", path, GetLastError());
            CloseHandle(file);
            return nullptr;
        }
        return adopt(file, path);
    }

    HidWatch* watch(OsHandle wake) override {
        const HANDLE change =
            FindFirstChangeNotificationA(dir_.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
        if (change == INVALID_HANDLE_VALUE) {
            DebugLog("HID: cannot watch %s (%lu)\n", dir_.c_str(), GetLastError());
            return nullptr;
        }
        return HidStartWatch<PipeWatch>(ChangePtr(change), wake);
    }

private:
    const std::string dir_;
};

}  // namespace

std::unique_ptr<HidBackend> HidNewSocketDeviceBackend(const std::string& dir) {
    return std::unique_ptr<HidBackend>(new (std::nothrow) PipeBackend(dir));
}
