// Report I/O: each adopted device's readThread, and writing output reports.
#include <cstring>

#include "hid/hid.h"
#include "hid/hid_backend.h"
#include "hid/hid_internal.h"
#include "platform/debug_log.h"

namespace {

// Waits until no writer uses the device, then closes it. Writers hold it for one attempt at
// most (a write to a device that is gone fails at once).
void closeWhenUnused(HidDeviceEntry* entry, HidDevice* device) {
    for (;;) {
        OsLock(entry->ioLock);
        const int32_t writers = entry->writers;
        OsUnlock(entry->ioLock);
        if (writers == 0) {
            break;
        }
        OsSleep(1);
    }
    HidBackendInUse().close(device);
}

// Opens the device, trying again for a short while: right after a device appears udev may not
// have applied its permissions yet, or another program may hold it briefly. A later retry of a
// path that stays makes one attempt; discovery paces those.
HidDevice* openWithRetry(HidDeviceEntry* entry, OsHandle readEvent) {
    const HidTimings& timings = HidTimingsForTest();
    const bool firstTry = entry->openFailures == 0;
    const uint32_t limit = firstTry ? timings.openRetryLimitMs : 0;
    uint32_t waited = 0;
    for (;;) {
        bool denied = false;
        HidDevice* device = HidBackendInUse().open(entry->platformPath, denied);
        if (device) {
            HidForgetDenied(entry->platformPath);
            return device;
        }
        if (waited >= limit) {
            if (denied) {
                HidNoteDenied(entry->platformPath);
            } else if (firstTry) {
                DebugLog("Read Thread: cannot open %s, giving up\n", entry->platformPath);
            }
            return nullptr;
        }
        if (OsWait(readEvent, timings.openRetryMs) == kWaitSignalled) {
            return nullptr;  // being stopped
        }
        waited += timings.openRetryMs;
    }
}

}  // namespace

bool HidRestUntil(HidDeviceEntry* entry, int64_t untilMs, HidRestCallback callback, void* context) {
    if (!callback || !HidBackendInUse().canRest()) {
        return false;
    }
    entry->restUntilMs = untilMs;
    entry->restContext = context;
    entry->restCallback = callback;
    return true;
}

void HidReadThread(void* argument) {
    auto* entry = static_cast<HidDeviceEntry*>(argument);
    HidBackend& backend = HidBackendInUse();
    OsHandle readEvent = OsCreateEvent(false, true);
    if (!readEvent) {
        DebugLog("Read Thread: CreateEvent failed, returning...\n");
        OsLock(entry->ioLock);
        entry->ended = true;
        OsUnlock(entry->ioLock);
        return;
    }
    OsLock(entry->ioLock);
    const bool stopped = entry->stopping;
    if (!stopped) {
        entry->readEvent = readEvent;
    }
    OsUnlock(entry->ioLock);
    HidDevice* device = stopped ? nullptr : openWithRetry(entry, readEvent);
    if (device) {
        OsLock(entry->ioLock);
        if (entry->stopping) {
            backend.close(device);
            device = nullptr;
        } else {
            entry->file = device;
            entry->opened = true;
        }
        OsUnlock(entry->ioLock);
    }
    if (device) {
        hidInterface* owner = entry->owner;
        if (owner->hidArriveCallback) {
            owner->hidArriveCallback(entry, entry->context);
        }
        // After a report, only what is already queued is read before the batch end is told.
        // A rest asked for starts after that; once over, only what queued is read.
        bool inBatch = false;
        bool restOver = false;
        entry->restCallback = nullptr;
        for (;;) {
            if (entry->restCallback && !inBatch && !restOver) {
                const int64_t wait = entry->restUntilMs - HidNowMs();
                if (wait > 0) {
                    backend.rest(device, uint32_t(wait));
                }
                restOver = true;
            }
            int size = 0;
            const HidReadResult result =
                inBatch || restOver
                    ? backend.readIfQueued(device, readEvent, entry->inputBuffer, size)
                    : backend.read(device, readEvent, entry->inputBuffer, size);
            if (result != HidReadResult::report) {
                // A batch is also over when the device fails or the thread is stopped.
                if (inBatch && owner->hidBatchEndCallback) {
                    owner->hidBatchEndCallback(entry, entry->context);
                }
                if (result != HidReadResult::drained) {
                    break;
                }
                inBatch = false;
                if (restOver) {
                    restOver = false;
                    const HidRestCallback callback = entry->restCallback;
                    entry->restCallback = nullptr;  // the callback may ask for the next
                    callback(entry, entry->restContext);
                }
                continue;
            }
            if (size != kHidReportSize) {
                DebugLog("Read Thread: report of %d bytes dropped from %s\n", size, entry->path);
                continue;
            }
            inBatch = true;
            entry->hidReportCallback(entry, entry->inputBuffer + 1, kHidDataSize, entry->context);
        }
        OsLock(entry->ioLock);
        entry->file = nullptr;
        OsUnlock(entry->ioLock);
        closeWhenUnused(entry, device);
    }
    OsLock(entry->ioLock);
    entry->readEvent = nullptr;
    entry->ended = true;
    OsUnlock(entry->ioLock);
    OsCloseHandle(readEvent);
}

void HidStopReadThread(HidDeviceEntry* entry) {
    OsLock(entry->ioLock);
    entry->stopping = true;
    if (entry->file) {
        HidBackendInUse().interrupt(entry->file, entry->readEvent);
    } else {
        OsSetEvent(entry->readEvent);  // ends an open retry
    }
    OsUnlock(entry->ioLock);
    if (!entry->readThread) {
        return;
    }
    while (OsWait(entry->readThread, 5000) != kWaitSignalled) {
        DebugLog("HID: still waiting for the read thread of %s\n", entry->path);
    }
    OsCloseHandle(entry->readThread);
    entry->readThread = nullptr;
}

// WriteHidReport, and with generation not null WriteHidReportTo.
static bool writeHidReport(HidDeviceEntry* entry, const uint32_t* generation, const uint8_t* data,
                           int32_t length) {
    if (length > kHidDataSize) {
        DebugLog("\n\tWriteHidReport failed - len is greater than max report size\n");
        return false;
    }
    if (!entry || length < 0) {
        return false;
    }
    uint8_t report[kHidReportSize] = {};
    if (length > 0) {
        std::memcpy(report + 1, data, size_t(length));
    }
    const HidTimings& timings = HidTimingsForTest();
    HidBackend& backend = HidBackendInUse();
    for (int attempt = 0; attempt < timings.writeAttempts; ++attempt) {
        OsLock(entry->ioLock);
        // A device being closed takes no more attempts: its readThread may be the writer.
        if (entry->stopping) {
            OsUnlock(entry->ioLock);
            return false;
        }
        // Checked under the lock: a new adoption's file is set only after its generation.
        const bool other = generation && entry->generation != *generation;
        HidDevice* device = other ? nullptr : entry->file;
        if (device) {
            ++entry->writers;
        }
        OsUnlock(entry->ioLock);
        if (other) {
            return false;
        }
        if (!device) {
            continue;  // not open (or no longer): refused at once, like a closed file
        }
        int errorCode = 0;
        const HidWriteResult result =
            backend.write(device, report, timings.writeTimeoutMs, errorCode);
        OsLock(entry->ioLock);
        --entry->writers;
        OsUnlock(entry->ioLock);
        switch (result) {
            case HidWriteResult::written:
                return true;
            case HidWriteResult::refused:
                break;
            case HidWriteResult::timedOut:
                DebugLog("\n\tWriteHidReport: failed - timeout\n");
                break;
            case HidWriteResult::failed:
                DebugLog("\n\tWriteHidReport: failed - %d\n", errorCode);
                break;
        }
    }
    return false;
}

bool WriteHidReport(HidDeviceEntry* entry, const uint8_t* data, int32_t length) {
    return writeHidReport(entry, nullptr, data, length);
}

bool WriteHidReportTo(HidDeviceEntry* entry, uint32_t generation, const uint8_t* data,
                      int32_t length) {
    return writeHidReport(entry, &generation, data, length);
}
