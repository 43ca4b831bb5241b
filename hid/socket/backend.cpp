// The socket device. Each datagram, both ways, is one 65-byte report: report id 0, then the
// 64-byte packet. The device side binds and listens (under a temporary name, renamed into place
// once it listens), we connect; it unplugs by closing the connection and removing the file.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <utility>

#include "hid/posix/fd_device.h"
#include "hid/watch_thread.h"
#include "platform/debug_log.h"

namespace {

class SocketWatch : public HidWatch {
public:
    SocketWatch(UniqueFd inotify, OsHandle wake) : inotify_(std::move(inotify)), wake_(wake) {}
    bool start() { return thread_.start("hid-sock-watch", inotify_.get(), &drain, this); }

private:
    static bool drain(void* raw) {
        auto* self = static_cast<SocketWatch*>(raw);
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(self->inotify_.get(), buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    return true;
                }
                DebugLog("HID: hid-sock-watch: read failed (errno %d)\n", errno);
                return false;
            }
            bool gone = false;
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                gone = gone || (event->mask & IN_IGNORED) != 0;
                OsSetEvent(self->wake_);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
            if (gone) {
                // The directory itself went away; no event can follow.
                DebugLog("HID: the socket device directory is gone; watch ended\n");
                return false;
            }
        }
    }

    UniqueFd inotify_;
    OsHandle wake_;          // not owned
    HidWatchThread thread_;  // owns "hid-sock-watch"; declared last so it stops first
};

class SocketBackend : public HidFdBackend {
public:
    explicit SocketBackend(std::string dir) : dir_(std::move(dir)) {}

    bool enumerate(std::vector<std::string>& paths) override {
        paths.clear();
        DIR* dir = opendir(dir_.c_str());
        if (!dir) {
            DebugLog("HID: cannot list the socket device directory %s (errno %d)\n", dir_.c_str(),
                     errno);
            return false;
        }
        while (const dirent* entry = readdir(dir)) {
            const std::string path = dir_ + "/" + entry->d_name;
            struct stat info;
            // Entries vanish between readdir and stat when a device unplugs; that is no error.
            if (stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
                paths.push_back(path);
            }
        }
        closedir(dir);
        std::sort(paths.begin(), paths.end());
        return true;
    }

    HidDevice* open(const char* path, bool& denied) override {
        denied = false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (!path || strlen(path) >= sizeof address.sun_path) {
            DebugLog("HID: socket device path too long: %s\n", path ? path : "(null)");
            return nullptr;
        }
        strcpy(address.sun_path, path);
        UniqueFd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd.valid()) {
            DebugLog("HID: cannot create a socket (errno %d)\n", errno);
            return nullptr;
        }
        // A Unix connect completes at once or fails (EAGAIN when the backlog is full), so the
        // non-blocking socket never leaves it pending.
        if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            denied = errno == EACCES || errno == EPERM;
            if (!denied && errno != ECONNREFUSED && errno != ENOENT && errno != EAGAIN) {
                DebugLog("HID: cannot connect to %s (errno %d)\n", path, errno);
            }
            return nullptr;
        }
        return HidFdDeviceOpen(std::move(fd), HidFdFraming::reportIdIncluded, true);
    }

    HidWatch* watch(OsHandle wake) override {
        UniqueFd inotify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!inotify.valid()) {
            DebugLog("HID: cannot create an inotify instance (errno %d)\n", errno);
            return nullptr;
        }
        // Devices arrive by rename (IN_MOVED_TO) once they listen; the rest covers other tools.
        const uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB;
        if (inotify_add_watch(inotify.get(), dir_.c_str(), mask) < 0) {
            DebugLog("HID: cannot watch %s (errno %d)\n", dir_.c_str(), errno);
            return nullptr;
        }
        return HidStartWatch<SocketWatch>(std::move(inotify), wake);
    }

private:
    const std::string dir_;
};

}  // namespace

std::unique_ptr<HidBackend> HidNewSocketDeviceBackend(const std::string& dir) {
    return std::unique_ptr<HidBackend>(new (std::nothrow) SocketBackend(dir));
}
