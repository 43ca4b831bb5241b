#include "tools/reader-sim/socket_device.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// True when a listening socket answers at path: another simulator is plugged in under that name.
// A file left behind by a killed one refuses the connection.
bool HeldByLiveDevice(const sockaddr_un& address) {
    UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!probe.valid()) {
        return false;
    }
    const int result =
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    // A full backlog (EAGAIN) also means someone listens.
    return result == 0 || errno == EAGAIN || errno == EINPROGRESS;
}

}  // namespace

std::string SocketDevice::PathFor(const std::string& dir, const std::string& name) {
    return dir + "/" + name + "-vid_1a61&pid_3650.sock";
}

bool SocketDevice::plug(const std::string& dir, const std::string& name, std::string* error) {
    unplug();
    const std::string path = PathFor(dir, name);
    // The temporary name lacks the USB ids, so no host picks the socket up before it listens.
    static std::atomic<unsigned> counter{0};
    const std::string temporary = dir + "/.reader-sim-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter.fetch_add(1)) + ".tmp";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path || temporary.size() >= sizeof address.sun_path) {
        *error = path + ": longer than a socket path may be";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Taking the name over would cut the other simulator off and delete its socket on exit.
    if (HeldByLiveDevice(address)) {
        *error = path + ": held by a live simulator (give this one another --name)";
        return false;
    }
    std::memcpy(address.sun_path, temporary.c_str(), temporary.size() + 1);

    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    ::unlink(temporary.c_str());
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = temporary + ": bind: " + std::strerror(errno);
        return false;
    }
    if (::listen(fd.get(), 4) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    listener_ = std::move(fd);
    path_ = path;
    return true;
}

void SocketDevice::unplug() {
    connection_.reset();
    if (listener_.valid()) {
        listener_.reset();
        ::unlink(path_.c_str());
    }
}

bool SocketDevice::accept() {
    if (!listener_.valid() || connection_.valid()) {
        return false;
    }
    const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    connection_.reset(fd);
    return true;
}

void SocketDevice::closeConnection() {
    connection_.reset();
}

SocketDevice::Io SocketDevice::receive(uint8_t* report, uint32_t* size) {
    // MSG_TRUNC reports a datagram's real length, so an oversized one is seen as such.
    const ssize_t n = ::recv(connection_.get(), report, kReportSize, MSG_DONTWAIT | MSG_TRUNC);
    if (n > 0) {
        *size = static_cast<uint32_t>(n);
        return Io::ok;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Io::again;
    }
    return Io::closed;
}

SocketDevice::Io SocketDevice::send(const uint8_t* report) {
    const ssize_t n = ::send(connection_.get(), report, kReportSize, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(kReportSize)) {
        return Io::ok;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Io::again;
    }
    return Io::closed;
}
