// Read, interrupt and write on a device fd, shared by the socket and hidraw backends.
#include "hid/posix/fd_device.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

#include "hid/hid_internal.h"
#include "platform/debug_log.h"

UniqueFd HidNewWakeFd(const char* what) {
    UniqueFd fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd.valid()) {
        DebugLog("HID: cannot create the wake fd for %s (errno %d)\n", what, errno);
    }
    return fd;
}

void HidSignalWakeFd(int fd) {
    const uint64_t one = 1;
    // EAGAIN means the counter is already non-zero, which is all a waiter needs.
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

namespace {

constexpr int kHidrawReadBuffer = 4096;  // larger than any report of ours, to see oversize ones

// The peer or the device is gone: the write can never succeed.
bool isRefusal(int error) {
    switch (error) {
        case EPIPE:
        case ECONNRESET:
        case ECONNREFUSED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ENODEV:
        case ENXIO:
            return true;
        default:
            return false;
    }
}

// One input report off the fd: the byte count as the device sent it (before any cut), 0 at end
// of stream, -1 with errno on failure.
ssize_t receive(HidDevice* device, uint8_t (&report)[kHidReportSize]) {
    if (device->framing == HidFdFraming::reportIdIncluded) {
        if (device->batchNext == device->batchCount) {
            mmsghdr messages[HidDevice::kBatch] = {};
            iovec parts[HidDevice::kBatch];
            for (int i = 0; i < HidDevice::kBatch; ++i) {
                parts[i] = {device->batch[i], kHidReportSize};
                messages[i].msg_hdr.msg_iov = &parts[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            // MSG_TRUNC makes each length the datagram's real size even when it is cut.
            const int n = recvmmsg(device->fd.get(), messages, HidDevice::kBatch,
                                   MSG_TRUNC | MSG_DONTWAIT, nullptr);
            if (n <= 0) {
                return n;
            }
            for (int i = 0; i < n; ++i) {
                device->batchSizes[i] = messages[i].msg_len;
            }
            device->batchCount = n;
            device->batchNext = 0;
        }
        const int i = device->batchNext++;
        memcpy(report, device->batch[i], kHidReportSize);
        return ssize_t(device->batchSizes[i]);  // 0: the peer closed the connection
    }
    uint8_t buffer[kHidrawReadBuffer];
    const ssize_t n = ::read(device->fd.get(), buffer, sizeof buffer);
    if (n <= 0) {
        return n;
    }
    report[0] = 0;
    memcpy(report + 1, buffer, std::min<size_t>(size_t(n), kHidDataSize));
    return n + 1;
}

}  // namespace

HidDevice* HidFdDeviceOpen(UniqueFd fd, HidFdFraming framing, bool isSocket) {
    UniqueFd wake = HidNewWakeFd("a device");
    if (!wake.valid()) {
        return nullptr;
    }
    auto* device = new (std::nothrow) HidDevice;
    if (!device) {
        DebugLog("HID: out of memory opening a device\n");
        return nullptr;
    }
    device->fd = std::move(fd);
    device->wake = std::move(wake);
    device->framing = framing;
    device->isSocket = isSocket;
    return device;
}

HidReadResult HidFdDeviceRead(HidDevice* device, uint8_t (&report)[kHidReportSize], int& size,
                              bool wait) {
    size = 0;
    if (!device) {
        return HidReadResult::failed;
    }
    for (;;) {
        if (device->interrupted.load()) {
            return HidReadResult::interrupted;
        }
        // Read first and poll only when nothing is waiting: during a transfer reports queue up,
        // and a poll per report would double the system calls.
        const ssize_t n = receive(device, report);
        if (n > 0) {
            size = int(std::min<ssize_t>(n, INT_MAX));
            return HidReadResult::report;
        }
        if (n == 0) {
            return HidReadResult::failed;  // the peer closed the connection
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            DebugLog("HID: read from a device failed (errno %d)\n", errno);
            return HidReadResult::failed;
        }
        if (!wait) {
            if (errno == EINTR) {
                continue;
            }
            return HidReadResult::drained;
        }
        pollfd fds[2] = {{device->fd.get(), POLLIN, 0}, {device->wake.get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            DebugLog("HID: poll on a device failed (errno %d)\n", errno);
            return HidReadResult::failed;
        }
        if (fds[1].revents != 0) {
            return HidReadResult::interrupted;  // the flag was set before the wake fd
        }
        // Data queued before a hang-up is still delivered by the next read; a hang-up without
        // data ends the device.
        if (!(fds[0].revents & POLLIN) && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            return HidReadResult::failed;
        }
    }
}

void HidFdDeviceRest(HidDevice* device, uint32_t ms) {
    pollfd wake = {device->wake.get(), POLLIN, 0};
    poll(&wake, 1, int(std::min<uint32_t>(ms, INT_MAX)));
}

void HidFdDeviceInterrupt(HidDevice* device) {
    if (!device) {
        return;
    }
    device->interrupted.store(true);
    HidSignalWakeFd(device->wake.get());
}

HidWriteResult HidFdDeviceWrite(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                                uint32_t timeoutMs, int& errorCode) {
    errorCode = 0;
    if (!device) {
        return HidWriteResult::refused;
    }
    const bool forever = timeoutMs == kOsWaitForever;
    const int64_t deadline = HidNowMs() + timeoutMs;
    // Written at once when there is room, as there nearly always is; polled only while there
    // is none, so a write costs one system call.
    short revents = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            int waitMs = -1;
            if (!forever) {
                waitMs = int(std::clamp<int64_t>(deadline - HidNowMs(), 0, INT_MAX));
            }
            pollfd out = {device->fd.get(), POLLOUT, 0};
            const int ready = poll(&out, 1, waitMs);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                errorCode = errno;
                return HidWriteResult::failed;
            }
            if (ready == 0) {
                return HidWriteResult::timedOut;
            }
            if (out.revents & POLLNVAL) {
                errorCode = EBADF;
                return HidWriteResult::failed;
            }
            revents = out.revents;
        }
        // On hang-up or error the send itself says why. A hidraw write blocks in the kernel
        // until the USB transfer ends (it has its own time-out), whatever O_NONBLOCK says.
        const ssize_t n = device->isSocket ? send(device->fd.get(), report, sizeof report,
                                                  MSG_NOSIGNAL | MSG_DONTWAIT)
                                           : ::write(device->fd.get(), report, sizeof report);
        if (n == ssize_t(sizeof report)) {
            return HidWriteResult::written;
        }
        if (n >= 0) {
            DebugLog("HID: short write to a device (%zd of %zu bytes)\n", n, sizeof report);
            errorCode = EIO;
            return HidWriteResult::failed;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            if (revents & (POLLHUP | POLLERR)) {
                errorCode = error;
                return HidWriteResult::refused;  // never writable again; don't spin on it
            }
            continue;  // another writer took the room; wait for the rest of the time-out
        }
        errorCode = error;
        if (isRefusal(error)) {
            return HidWriteResult::refused;
        }
        if (error == ETIMEDOUT) {
            return HidWriteResult::timedOut;
        }
        return HidWriteResult::failed;
    }
}

void HidFdDeviceClose(HidDevice* device) {
    delete device;
}
