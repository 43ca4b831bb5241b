// Real readers on Linux: hidraw nodes found through sysfs, hot-plug notice from udev.
#include "hid/linux/backend.h"

#include <errno.h>
#include <fcntl.h>
#include <libudev.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <new>
#include <utility>

#include "hid/linux/hidraw_identity.h"
#include "hid/posix/fd_device.h"
#include "hid/watch_thread.h"
#include "platform/debug_log.h"

namespace {

// Present while the udev daemon runs; without it a monitor is created but never hears a thing.
constexpr char kUdevControl[] = "/run/udev/control";

std::atomic<bool> udevAbsenceLogged{false};

void logNoUdevOnce(const char* why) {
    if (!udevAbsenceLogged.exchange(true)) {
        DebugLog("HID: no udev hot-plug notice (%s); relying on the periodic scan\n", why);
    }
}

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
};
struct MonitorUnref {
    void operator()(udev_monitor* monitor) const { udev_monitor_unref(monitor); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using MonitorPtr = std::unique_ptr<udev_monitor, MonitorUnref>;

// udev announces a hidraw node after it has applied its permissions, so the open that follows
// a wake-up does not meet EACCES.
class UdevWatch : public HidWatch {
public:
    UdevWatch(UdevPtr context, MonitorPtr monitor, OsHandle wake)
        : udev_(std::move(context)), monitor_(std::move(monitor)), wake_(wake) {}
    bool start() {
        return thread_.start("hid-udev-watch", udev_monitor_get_fd(monitor_.get()), &drain, this);
    }

private:
    static bool drain(void* raw) {
        auto* self = static_cast<UdevWatch*>(raw);
        // The monitor's socket is non-blocking: null once nothing is left.
        errno = 0;
        while (udev_device* device = udev_monitor_receive_device(self->monitor_.get())) {
            udev_device_unref(device);
            OsSetEvent(self->wake_);
        }
        if (errno == ENOBUFS) {
            OsSetEvent(self->wake_);  // events were dropped; a scan catches up
        }
        return true;
    }

    UdevPtr udev_;
    MonitorPtr monitor_;
    OsHandle wake_;          // not owned
    HidWatchThread thread_;  // owns "hid-udev-watch"; declared last so it stops first
};

class HidrawBackend : public HidFdBackend {
public:
    HidrawBackend(std::string sysfsClassDir, std::string devDir)
        : sysfsClassDir_(std::move(sysfsClassDir)), devDir_(std::move(devDir)) {}

    bool enumerate(std::vector<std::string>& paths) override {
        return HidHidrawEnumerate(sysfsClassDir_, devDir_, paths);
    }

    HidDevice* open(const char* path, bool& denied) override {
        denied = false;
        if (!path) {
            return nullptr;
        }
        const char* mark = strchr(path, '#');
        const std::string node = mark ? std::string(path, mark) : std::string(path);
        UniqueFd fd(::open(node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid()) {
            denied = errno == EACCES || errno == EPERM;
            // EACCES until udev has applied its rule, EBUSY while another program holds it,
            // ENOENT/ENODEV when unplugged: the caller retries, so these stay quiet.
            if (errno != EACCES && errno != EBUSY && errno != ENOENT && errno != ENODEV &&
                errno != ENXIO && errno != EPERM) {
                DebugLog("HID: cannot open %s (errno %d)\n", node.c_str(), errno);
            }
            return nullptr;
        }
        return HidFdDeviceOpen(std::move(fd), HidFdFraming::reportIdOmitted, false);
    }

    HidWatch* watch(OsHandle wake) override {
        if (access(kUdevControl, F_OK) != 0) {
            logNoUdevOnce("the udev daemon is not running");
            return nullptr;
        }
        UdevPtr context(udev_new());
        MonitorPtr monitor(context ? udev_monitor_new_from_netlink(context.get(), "udev")
                                   : nullptr);
        if (!monitor ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr) < 0 ||
            udev_monitor_enable_receiving(monitor.get()) < 0) {
            logNoUdevOnce("cannot create a udev monitor");
            return nullptr;
        }
        return HidStartWatch<UdevWatch>(std::move(context), std::move(monitor), wake);
    }

private:
    const std::string sysfsClassDir_;
    const std::string devDir_;
};

}  // namespace

// No HID library to bind: hidraw and the socket device are plain file descriptors.
bool LoadHidLibrary() {
    return true;
}

void UnloadHidLibrary() {}

std::unique_ptr<HidBackend> HidNewSystemBackend() {
    return HidNewHidrawBackend();
}

std::unique_ptr<HidBackend> HidNewHidrawBackend(const std::string& sysfsClassDir,
                                                const std::string& devDir) {
    return std::unique_ptr<HidBackend>(new (std::nothrow) HidrawBackend(sysfsClassDir, devDir));
}
