#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/unique_fd.h"
#include "tools/reader-sim/socket_device.h"

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

struct SocketDevice::Impl {
    UniqueFd listener;
    UniqueFd connection;
    UniqueFd wakeRead;  // wake() writes a byte, wait() drains them
    UniqueFd wakeWrite;
    std::string path;
};

SocketDevice::SocketDevice() : impl_(new Impl) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        impl_->wakeRead.reset(fds[0]);
        impl_->wakeWrite.reset(fds[1]);
    }
}

SocketDevice::~SocketDevice() {
    unplug();
}

bool SocketDevice::ready() const {
    return impl_->wakeRead.valid();
}

std::string SocketDevice::PathFor(const std::string& dir, const std::string& name) {
    return dir + "/" + name + "-vid_1a61&pid_3650.sock";
}

bool SocketDevice::plugAt(const std::string& dir, const std::string& path, std::string* error) {
    unplug();
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
    impl_->listener = std::move(fd);
    impl_->path = path;
    return true;
}

void SocketDevice::unplug() {
    impl_->connection.reset();
    if (impl_->listener.valid()) {
        impl_->listener.reset();
        ::unlink(impl_->path.c_str());
    }
}

void SocketDevice::die() {
    impl_->connection.reset();
    impl_->listener.reset();
}

bool SocketDevice::plugged() const {
    return impl_->listener.valid();
}

bool SocketDevice::connected() const {
    return impl_->connection.valid();
}

const std::string& SocketDevice::path() const {
    return impl_->path;
}

bool SocketDevice::accept() {
    if (!impl_->listener.valid() || impl_->connection.valid()) {
        return false;
    }
    const int fd = ::accept4(impl_->listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    impl_->connection.reset(fd);
    return true;
}

void SocketDevice::closeConnection() {
    impl_->connection.reset();
}

SocketDevice::Io SocketDevice::receive(uint8_t* buffer, uint32_t capacity, uint32_t* size) {
    // MSG_TRUNC reports a datagram's real length, so an oversized one is seen as such.
    const ssize_t n = ::recv(impl_->connection.get(), buffer, capacity, MSG_DONTWAIT | MSG_TRUNC);
    if (n > 0) {
        *size = static_cast<uint32_t>(n);
        return Io::ok;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Io::again;
    }
    return Io::closed;
}

SocketDevice::Io SocketDevice::send(const uint8_t* data, uint32_t size) {
    const ssize_t n = ::send(impl_->connection.get(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(size)) {
        return Io::ok;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return Io::again;
    }
    return Io::closed;
}

void SocketDevice::wait(uint64_t timeoutUs, bool wantWrite) {
    pollfd fds[2] = {{impl_->wakeRead.get(), POLLIN, 0}, {-1, 0, 0}};
    if (connected()) {
        fds[1] = {impl_->connection.get(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)),
                  0};
    } else if (plugged()) {
        fds[1] = {impl_->listener.get(), POLLIN, 0};
    }
    timespec timeout{};
    if (timeoutUs != kForever) {
        timeout.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
        timeout.tv_nsec = static_cast<long>(timeoutUs % 1000000 * 1000);
    }
    ::ppoll(fds, 2, timeoutUs == kForever ? nullptr : &timeout, nullptr);
    char drain[64];
    while (::read(impl_->wakeRead.get(), drain, sizeof drain) > 0) {
    }
}

void SocketDevice::wake() {
    const char byte = 1;
    // A full pipe already holds a wake-up; the byte is only a nudge.
    (void)!::write(impl_->wakeWrite.get(), &byte, 1);
}
