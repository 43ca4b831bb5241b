// Descriptor plumbing shared by the POSIX backends: the HidDevice they both hand out, with its
// blocking read, interrupt and timed write. Internal to hid/.
#pragma once

#include <atomic>
#include <cstdint>

#include "hid/hid_backend.h"
#include "platform/posix/unique_fd.h"

// A non-blocking eventfd used to wake a poll from another thread; invalid when the OS refuses
// (logged, with what as the purpose).
UniqueFd HidNewWakeFd(const char* what);
// Makes the wake fd readable; harmless to call again.
void HidSignalWakeFd(int fd);

// How the device's input reports come off the fd.
enum class HidFdFraming {
    reportIdIncluded,  // one datagram per report, report id first (the socket device)
    reportIdOmitted,   // the data bytes only; the report id is implied 0 (hidraw)
};

// An open device of a POSIX backend. The fd must be non-blocking.
struct HidDevice {
    UniqueFd fd;
    UniqueFd wake;  // readable once interrupt() was called
    std::atomic<bool> interrupted{false};
    HidFdFraming framing;
    bool isSocket;  // send with MSG_NOSIGNAL, so a closed peer never raises SIGPIPE
    // Datagrams taken off a socket in one call and handed out one by one (read thread only):
    // during a transfer they queue up, and a call per report would be most of its cost.
    static constexpr int kBatch = 64;
    uint8_t batch[kBatch][kHidReportSize];
    uint32_t batchSizes[kBatch];  // as sent, before any cut
    int batchCount = 0;
    int batchNext = 0;
};

// Wraps an open fd; null (fd closed) when the wake fd cannot be made.
HidDevice* HidFdDeviceOpen(UniqueFd fd, HidFdFraming framing, bool isSocket);
// wait false: drained instead of waiting when no report is queued.
HidReadResult HidFdDeviceRead(HidDevice* device, uint8_t (&report)[kHidReportSize], int& size,
                              bool wait = true);
// Waits ms milliseconds, or until interrupted.
void HidFdDeviceRest(HidDevice* device, uint32_t ms);
void HidFdDeviceInterrupt(HidDevice* device);
HidWriteResult HidFdDeviceWrite(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                                uint32_t timeoutMs, int& errorCode);
void HidFdDeviceClose(HidDevice* device);

// The I/O half that both POSIX backends share: they differ only in how they list, open and
// watch devices.
class HidFdBackend : public HidBackend {
public:
    HidReadResult read(HidDevice* device, OsHandle, uint8_t (&report)[kHidReportSize],
                       int& size) override {
        return HidFdDeviceRead(device, report, size);
    }
    HidReadResult readIfQueued(HidDevice* device, OsHandle, uint8_t (&report)[kHidReportSize],
                               int& size) override {
        return HidFdDeviceRead(device, report, size, false);
    }
    bool canRest() const override { return true; }
    void rest(HidDevice* device, uint32_t ms) override { HidFdDeviceRest(device, ms); }
    void interrupt(HidDevice* device, OsHandle) override { HidFdDeviceInterrupt(device); }
    HidWriteResult write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                         uint32_t timeoutMs, int& errorCode) override {
        return HidFdDeviceWrite(device, report, timeoutMs, errorCode);
    }
    void close(HidDevice* device) override { HidFdDeviceClose(device); }
};
