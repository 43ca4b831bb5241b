// The watch thread on POSIX: poll on the notice fd and an eventfd that stops it.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "hid/posix/fd_device.h"
#include "hid/watch_thread.h"
#include "platform/debug_log.h"

HidNotice HidNewStopNotice(const char* name) {
    UniqueFd fd = HidNewWakeFd(name);
    return fd.valid() ? fd.release() : kHidNoNotice;
}

void HidSetStopNotice(HidNotice stop) {
    HidSignalWakeFd(int(stop));
}

void HidCloseStopNotice(HidNotice stop) {
    close(int(stop));
}

void HidWatchThread::run(void* raw) {
    auto* self = static_cast<HidWatchThread*>(raw);
    for (;;) {
        pollfd fds[2] = {{int(self->notice_), POLLIN, 0}, {int(self->stop_), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            DebugLog("HID: %s: poll failed (errno %d)\n", self->name_, errno);
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            if (!self->drain_(self->context_)) {
                return;
            }
        } else if (fds[0].revents != 0) {
            DebugLog("HID: %s: the watched fd failed (revents 0x%x)\n", self->name_,
                     unsigned(fds[0].revents));
            return;
        }
    }
}
