// The device as a named pipe: duplex, message mode, overlapped, one instance. The pipe cannot
// be listed, so a marker file in the host's folder names it. One read stays outstanding while a
// host is connected, and at most one write; wait() sleeps on their events.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "tools/reader-sim/socket_device.h"

namespace {

constexpr DWORD kPipeBuffer = 4096;

// One overlapped operation with its own manual-reset event.
struct Op {
    Op() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Op() {
        if (ov.hEvent) {
            CloseHandle(ov.hEvent);
        }
    }
    // Clears the record for the next operation; the event stays.
    OVERLAPPED* fresh() {
        const HANDLE event = ov.hEvent;
        ResetEvent(event);
        ov = OVERLAPPED{};
        ov.hEvent = event;
        return &ov;
    }
    bool done() const { return HasOverlappedIoCompleted(&ov); }

    OVERLAPPED ov{};
    bool pending = false;
};

// True when the marker at path names a pipe that still exists: another simulator is plugged in
// under that name. Waiting for an instance does not connect, so the other host is undisturbed.
bool HeldByLiveDevice(const std::string& path) {
    HANDLE marker = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        return false;
    }
    char name[MAX_PATH] = {};
    DWORD length = 0;
    const bool read = ReadFile(marker, name, sizeof name - 1, &length, nullptr);
    CloseHandle(marker);
    if (!read || length == 0 || std::strncmp(name, "\\\\.\\pipe\\", 9) != 0) {
        return false;
    }
    return WaitNamedPipeA(name, 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

std::string errorText(const char* what, DWORD code) {
    return std::string(what) + " failed (" + std::to_string(code) + ")";
}

}  // namespace

struct SocketDevice::Impl {
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    std::string path;  // the marker file
    bool connected = false;
    bool readFailed = false;    // the host hung up while no read could be started
    bool discarding = false;    // the rest of a message longer than the buffer is still coming
    bool earlyConnect = false;  // the host connected before the device started listening
    Op connect, read, write;
    uint8_t readBuffer[kPipeBuffer];
    uint8_t writeBuffer[kPipeBuffer];

    ~Impl() {
        if (wake) {
            CloseHandle(wake);
        }
    }

    void startConnect() {
        connect.pending = false;
        earlyConnect = false;
        if (ConnectNamedPipe(pipe, connect.fresh())) {
            connect.pending = true;
            return;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            connect.pending = true;
        } else if (error == ERROR_PIPE_CONNECTED) {
            earlyConnect = true;
            SetEvent(connect.ov.hEvent);
        }
    }

    void startRead() {
        read.pending = false;
        // A read that completes at once still reports through the record and its event.
        if (ReadFile(pipe, readBuffer, sizeof readBuffer, nullptr, read.fresh()) ||
            GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
            read.pending = true;
        } else {
            readFailed = true;
        }
    }

    // Waits until no operation uses its record or buffer any more.
    void cancelAll() {
        CancelIoEx(pipe, nullptr);
        for (Op* op : {&connect, &read, &write}) {
            DWORD ignored = 0;
            if (op->pending) {
                GetOverlappedResult(pipe, &op->ov, &ignored, TRUE);
                op->pending = false;
            }
        }
    }
};

SocketDevice::SocketDevice() : impl_(new Impl) {}

SocketDevice::~SocketDevice() {
    unplug();
}

bool SocketDevice::ready() const {
    return impl_->wake && impl_->connect.ov.hEvent && impl_->read.ov.hEvent &&
           impl_->write.ov.hEvent;
}

std::string SocketDevice::PathFor(const std::string& dir, const std::string& name) {
    return dir + "/" + name + "-vid_1a61&pid_3650.pipe";
}

bool SocketDevice::plugAt(const std::string& dir, const std::string& path, std::string* error) {
    unplug();
    // Taking the name over would cut the other simulator off and delete its marker on exit.
    if (HeldByLiveDevice(path)) {
        *error = path + ": held by a live simulator (give this one another --name)";
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string unique = std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(counter.fetch_add(1)) + "-" +
                               std::to_string(GetTickCount64());
    const std::string pipeName = "\\\\.\\pipe\\lumora-" + unique;
    HANDLE pipe = CreateNamedPipeA(
        pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBuffer, kPipeBuffer, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        *error = errorText("CreateNamedPipe", GetLastError());
        return false;
    }
    // The temporary name lacks the USB ids, so no host reads a half-written marker.
    const std::string temporary = dir + "/.reader-sim-" + unique + ".tmp";
    HANDLE marker = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool wrote =
        marker != INVALID_HANDLE_VALUE &&
        WriteFile(marker, pipeName.data(), DWORD(pipeName.size()), &written, nullptr) &&
        written == pipeName.size();
    const DWORD writeError = GetLastError();
    if (marker != INVALID_HANDLE_VALUE) {
        CloseHandle(marker);
    }
    if (!wrote) {
        *error = temporary + ": " + errorText("writing the marker", writeError);
        DeleteFileA(temporary.c_str());
        CloseHandle(pipe);
        return false;
    }
    impl_->pipe = pipe;
    impl_->startConnect();
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        *error = path + ": " + errorText("MoveFileEx", GetLastError());
        DeleteFileA(temporary.c_str());
        impl_->path.clear();
        unplug();
        return false;
    }
    impl_->path = path;
    return true;
}

void SocketDevice::unplug() {
    // The marker goes first, so no host finds a pipe that is about to vanish.
    if (impl_->pipe != INVALID_HANDLE_VALUE && !impl_->path.empty()) {
        DeleteFileA(impl_->path.c_str());
    }
    die();
}

void SocketDevice::die() {
    Impl& d = *impl_;
    if (d.pipe == INVALID_HANDLE_VALUE) {
        return;
    }
    d.cancelAll();
    DisconnectNamedPipe(d.pipe);
    CloseHandle(d.pipe);
    d.pipe = INVALID_HANDLE_VALUE;
    d.connected = false;
    d.readFailed = false;
    d.discarding = false;
}

bool SocketDevice::plugged() const {
    return impl_->pipe != INVALID_HANDLE_VALUE;
}

bool SocketDevice::connected() const {
    return impl_->connected;
}

const std::string& SocketDevice::path() const {
    return impl_->path;
}

bool SocketDevice::accept() {
    Impl& d = *impl_;
    if (d.pipe == INVALID_HANDLE_VALUE || d.connected) {
        return false;
    }
    if (d.connect.pending) {
        if (!d.connect.done()) {
            return false;
        }
        DWORD ignored = 0;
        d.connect.pending = false;
        if (!GetOverlappedResult(d.pipe, &d.connect.ov, &ignored, FALSE)) {
            // The host came and went; listen again.
            DisconnectNamedPipe(d.pipe);
            d.startConnect();
            return false;
        }
    } else if (!d.earlyConnect) {
        return false;
    }
    d.earlyConnect = false;
    d.connected = true;
    d.readFailed = false;
    d.discarding = false;
    d.startRead();
    return true;
}

void SocketDevice::closeConnection() {
    Impl& d = *impl_;
    if (d.pipe == INVALID_HANDLE_VALUE || !d.connected) {
        return;
    }
    d.cancelAll();
    DisconnectNamedPipe(d.pipe);
    d.connected = false;
    d.startConnect();
}

SocketDevice::Io SocketDevice::receive(uint8_t* buffer, uint32_t capacity, uint32_t* size) {
    Impl& d = *impl_;
    for (;;) {
        if (!d.connected || d.readFailed) {
            return Io::closed;
        }
        if (!d.read.done()) {
            return Io::again;
        }
        DWORD n = 0;
        const bool whole = GetOverlappedResult(d.pipe, &d.read.ov, &n, FALSE);
        const DWORD error = whole ? 0 : GetLastError();
        if (!whole && error != ERROR_MORE_DATA) {
            d.read.pending = false;
            return Io::closed;
        }
        const bool wasDiscarding = d.discarding;
        d.discarding = !whole;
        if (!wasDiscarding) {
            // Before the next read, which may complete at once into the same buffer.
            std::memcpy(buffer, d.readBuffer, std::min<DWORD>(n, capacity));
            // The real length of an overlong message is unknown; more than the buffer says enough.
            *size = whole ? n : n + 1;
        }
        d.startRead();
        if (!wasDiscarding) {
            return Io::ok;
        }  // else the tail of a message already reported
    }
}

SocketDevice::Io SocketDevice::send(const uint8_t* data, uint32_t size) {
    Impl& d = *impl_;
    if (!d.connected || size > sizeof d.writeBuffer) {
        return Io::closed;
    }
    if (d.write.pending) {
        if (!d.write.done()) {
            return Io::again;
        }
        DWORD ignored = 0;
        d.write.pending = false;
        if (!GetOverlappedResult(d.pipe, &d.write.ov, &ignored, FALSE)) {
            return Io::closed;
        }
    }
    // The copy lets the caller reuse its buffer while the write is still under way.
    std::memcpy(d.writeBuffer, data, size);
    if (WriteFile(d.pipe, d.writeBuffer, size, nullptr, d.write.fresh()) ||
        GetLastError() == ERROR_IO_PENDING) {
        d.write.pending = true;
        return Io::ok;
    }
    return Io::closed;
}

void SocketDevice::wait(uint64_t timeoutUs, bool wantWrite) {
    Impl& d = *impl_;
    if (d.connected && d.readFailed) {
        return;  // receive() has news at once
    }
    HANDLE handles[3] = {d.wake};
    DWORD count = 1;
    if (d.connected) {
        if (d.read.pending) {
            handles[count++] = d.read.ov.hEvent;
        }
        if (wantWrite && d.write.pending) {
            handles[count++] = d.write.ov.hEvent;
        }
    } else if (d.pipe != INVALID_HANDLE_VALUE && (d.connect.pending || d.earlyConnect)) {
        handles[count++] = d.connect.ov.hEvent;
    }
    // Rounded up, so a wait for a deadline never ends before it.
    const DWORD timeoutMs = timeoutUs == kForever
                                ? INFINITE
                                : DWORD(std::min<uint64_t>((timeoutUs + 999) / 1000, INFINITE - 1));
    WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

void SocketDevice::wake() {
    SetEvent(impl_->wake);
}
