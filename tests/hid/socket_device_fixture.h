// The device side of the socket device, for tests: listens at <dir>/<name> (bound under a
// temporary name and renamed into place, as the simulator does), accepts the host, and sends
// and receives datagrams. One connection at a time; no gtest dependency.
#pragma once

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

class SocketDeviceFixture {
public:
    static constexpr size_t kReportSize = 65;

    SocketDeviceFixture() = default;
    SocketDeviceFixture(const SocketDeviceFixture&) = delete;
    SocketDeviceFixture& operator=(const SocketDeviceFixture&) = delete;
    ~SocketDeviceFixture() { unplug(); }

    // Creates the listening socket file <dir>/<name>; false when any step fails.
    bool listen(const std::string& dir, const std::string& name) {
        path_ = dir + "/" + name;
        // The temporary name must not hold the match text, or a scan could adopt a socket
        // that is about to be renamed away.
        static int serial = 0;
        const std::string staging =
            dir + "/.staging-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || !bindTo(listener_, staging) || ::listen(listener_, 4) != 0) {
            unlink(staging.c_str());
            return false;
        }
        return rename(staging.c_str(), path_.c_str()) == 0;
    }

    const std::string& path() const { return path_; }
    int connection() const { return connection_; }

    // Waits up to timeoutMs for the host's connect and accepts it.
    bool accept(int timeoutMs = 5000) {
        pollfd ready = {listener_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) {
            return false;
        }
        closeConnection();
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return connection_ >= 0;
    }

    // Sends one datagram of any size.
    bool send(const void* data, size_t size) {
        return ::send(connection_, data, size, MSG_NOSIGNAL) == ssize_t(size);
    }

    // Sends report id 0 and the 64-byte packet.
    bool sendReport(const uint8_t (&packet)[kReportSize - 1]) {
        uint8_t report[kReportSize] = {0};
        memcpy(report + 1, packet, sizeof packet);
        return send(report, sizeof report);
    }

    // Receives one datagram within timeoutMs: its bytes, whole; empty on time-out or failure.
    std::vector<uint8_t> receive(int timeoutMs = 5000) {
        pollfd ready = {connection_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) {
            return {};
        }
        std::vector<uint8_t> buffer(4096);
        const ssize_t n = recv(connection_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        buffer.resize(n > 0 ? size_t(n) : 0);
        return buffer;
    }

    // Closes the host's connection only; the socket file still listens.
    void closeConnection() {
        if (connection_ >= 0) {
            ::close(connection_);
            connection_ = -1;
        }
    }

    // What a killed device leaves behind: everything closed, the socket file still there.
    void die() {
        closeConnection();
        if (listener_ >= 0) {
            ::close(listener_);
            listener_ = -1;
        }
    }

    // What a device does when it goes away: closes everything and removes the socket file.
    void unplug() {
        closeConnection();
        if (listener_ >= 0) {
            ::close(listener_);
            listener_ = -1;
            unlink(path_.c_str());
        }
    }

private:
    static bool bindTo(int fd, const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            return false;
        }
        memcpy(address.sun_path, path.c_str(), path.size() + 1);
        unlink(path.c_str());
        return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }

    std::string path_;
    int listener_ = -1;
    int connection_ = -1;
};
