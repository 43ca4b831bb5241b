// The device end of a socket device: a SOCK_SEQPACKET Unix socket whose file name carries the
// reader's USB ids, so a host that lists the directory finds it like a HID device. Every datagram
// is one 65-byte report. Plugging binds under a temporary name and renames the socket into place
// once it listens; unplugging closes everything and removes the file.
//
// Non-blocking descriptors; the owner polls them. Single-threaded: owned by one sim-link thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/unique_fd.h"

constexpr uint32_t kReportSize = 65;  // report id 0, then one 64-byte packet

class SocketDevice {
public:
    enum class Io : uint8_t { ok, again, closed };

    SocketDevice() = default;
    SocketDevice(const SocketDevice&) = delete;
    SocketDevice& operator=(const SocketDevice&) = delete;
    ~SocketDevice() { unplug(); }

    // Returns "<dir>/<name>-vid_1a61&pid_3650.sock".
    static std::string PathFor(const std::string& dir, const std::string& name);

    // Creates the listening socket at PathFor(dir, name), replacing a stale file there. Returns
    // false with a message when the path is too long, another live device listens there or the
    // system refuses.
    bool plug(const std::string& dir, const std::string& name, std::string* error);
    // Closes the connection and the listening socket and removes the socket file.
    void unplug();

    bool plugged() const { return listener_.valid(); }
    bool connected() const { return connection_.valid(); }
    int listenFd() const { return listener_.get(); }
    int connectionFd() const { return connection_.get(); }
    const std::string& path() const { return path_; }

    // Takes a waiting connection; false when there is none (or one is already open).
    bool accept();
    void closeConnection();

    // Receives one datagram into report (kReportSize bytes); *size is its real length, which
    // the caller checks. closed: the host hung up.
    Io receive(uint8_t* report, uint32_t* size);
    // Sends one kReportSize-byte report; again when the socket's buffer is full.
    Io send(const uint8_t* report);

private:
    UniqueFd listener_;
    UniqueFd connection_;
    std::string path_;
};
