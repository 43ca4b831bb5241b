// Discovery: the listen thread, the scan and the reconciliation of the device table.
#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hid/hid.h"
#include "hid/hid_backend.h"
#include "hid/hid_internal.h"
#include "platform/debug_log.h"

HidTimings& HidTimingsForTest() {
    static HidTimings timings;
    return timings;
}

namespace {

std::atomic<HidBackend*> backendForTest{nullptr};

// Writers on other threads may still hold the entry's address: they take ioLock and find no
// file, so clear under it and leave the lock itself alone.
void clearEntry(HidDeviceEntry* entry) {
    OsLock(entry->ioLock);
    std::memset(static_cast<void*>(entry), 0, offsetof(HidDeviceEntry, ioLock));
    entry->stopping = false;
    entry->writers = 0;
    OsUnlock(entry->ioLock);
}

void releaseInterface(hidInterface* hid) {
    delete hid->watch;
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        OsDeleteLock(entry.ioLock);
    }
    OsCloseHandle(hid->listenEvent);
    delete hid;
}

// The entry's readThread has ended, after opening its device or without.
bool readEnded(HidDeviceEntry* entry, bool opened) {
    OsLock(entry->ioLock);
    const bool ended = entry->ended && entry->opened == opened;
    OsUnlock(entry->ioLock);
    return ended;
}

// Ends the entry's readThread, reports the removal and frees the entry.
void removeEntry(hidInterface* hid, HidDeviceEntry* entry) {
    // The read thread ends first, so the remove callback is the last the user hears of the
    // entry and nothing touches it once it is cleared.
    HidStopReadThread(entry);
    if (hid->hidRemoveCallback) {
        hid->hidRemoveCallback(entry, hid->context);
    }
    HidForgetDenied(entry->platformPath);
    clearEntry(entry);
    --hid->deviceCount;
}

// A path that stays but could not be opened is tried again: udev may apply its permissions
// late, another program may let go of the device, a dead socket file may be replaced. Each
// failure doubles the pause, up to eight scan intervals; a hot-plug notice tries at once.
void retryFailedOpens(hidInterface* hid, bool woken) {
    const int64_t now = HidNowMs();
    const int64_t interval = HidTimingsForTest().scanIntervalMs;
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        if (!entry.path[0] || !readEnded(&entry, false)) {
            continue;
        }
        if (entry.retryAtMs == 0) {
            entry.retryAtMs = now + (interval << (entry.openFailures < 3 ? entry.openFailures : 3));
        }
        if (!woken && now < entry.retryAtMs) {
            continue;
        }
        HidStopReadThread(&entry);  // joins the thread that gave up
        OsLock(entry.ioLock);
        entry.stopping = false;
        entry.ended = false;
        OsUnlock(entry.ioLock);
        ++entry.openFailures;
        entry.retryAtMs = 0;
        entry.readThread = OsCreateThread("hid-read", HidReadThread, &entry);
        if (!entry.readThread) {
            DebugLog("UpdateDeviceTable: cannot start the read thread for %s\n", entry.path);
        }
    }
}

void listenThread(void* argument) {
    auto* hid = static_cast<hidInterface*>(argument);
    std::vector<HidFoundDevice> scan(kHidMaxDevices);
    // The first scan comes at once: a reader plugged in before the start is ready without
    // waiting a whole period.
    for (bool first = true; hid->running; first = false) {
        const bool woken = !first && OsWait(hid->listenEvent, HidTimingsForTest().scanIntervalMs) ==
                                         kWaitSignalled;
        if (!hid->running) {
            break;
        }
        const int count = FindHidDevices(hid->matchStrings, hid->matchCount, scan.data());
        // A failed listing says nothing about the devices: keep the table as it is. Otherwise
        // compare every time: a swapped or revived device need not change the count.
        if (count >= 0) {
            UpdateDeviceTable(hid, scan.data(), count);
            retryFailedOpens(hid, woken);
        }
        ++hid->scans;
    }
}

bool isAmong(const char* path, const HidFoundDevice* found, int count) {
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(path, found[i].path) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

hidInterface* OpenHidInterface(const HidDeviceFilter* filters, HidReportCallback reportCallback,
                               HidArriveCallback arriveCallback, HidRemoveCallback removeCallback,
                               void* context, HidReadBatchEndCallback batchEndCallback) {
    auto* hid = new (std::nothrow) hidInterface();
    if (!hid) {
        DebugLog("OpenHidInterface: out of memory\n");
        return nullptr;
    }
    for (int row = 0; filters && row < kHidMaxFilters && filters[row].vendorId != 0; ++row) {
        std::snprintf(hid->matchStrings[row], kHidPathSize, "vid_%04x&pid_%04x",
                      filters[row].vendorId, filters[row].productId);
        ++hid->matchCount;
    }
    hid->hidReportCallback = reportCallback;
    hid->hidArriveCallback = arriveCallback;
    hid->hidRemoveCallback = removeCallback;
    hid->hidBatchEndCallback = batchEndCallback;
    hid->context = context;
    hid->running = true;
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        entry.ioLock = OsCreateLock();
    }
    hid->listenEvent = OsCreateEvent(false, false);
    if (!hid->listenEvent) {
        DebugLog("CreateEvent for Hid Interface listenEvent failed.\n");
        releaseInterface(hid);
        return nullptr;
    }
    if (HidTimingsForTest().hotplugWake) {
        hid->watch = HidBackendInUse().watch(hid->listenEvent);
    }
    hid->listenThread = OsCreateThread("hid-listen", listenThread, hid);
    if (!hid->listenThread) {
        DebugLog("OpenHidInterface: cannot start the listen thread\n");
        releaseInterface(hid);
        return nullptr;
    }
    OsSleep(1);
    return hid;
}

void CloseHidInterface(hidInterface* hid) {
    if (!hid) {
        return;
    }
    hid->running = false;
    OsSetEvent(hid->listenEvent);
    // The table may be touched only by listenThread while it runs, so wait for it however long
    // a callback of ours keeps it.
    while (OsWait(hid->listenThread, 5000) != kWaitSignalled) {
        DebugLog("CloseHidInterface: still waiting for the listen thread\n");
    }
    OsCloseHandle(hid->listenThread);
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        if (entry.path[0]) {
            HidStopReadThread(&entry);
        }
    }
    releaseInterface(hid);
}

int FindHidDevices(const char (*matchStrings)[kHidPathSize], int matchCount,
                   HidFoundDevice* found) {
    std::vector<std::string> paths;
    if (!HidBackendInUse().enumerate(paths)) {
        return -1;
    }
    int count = 0;
    for (const std::string& path : paths) {
        if (path.size() >= size_t(kHidPathSize)) {
            DebugLog("FindHidDevices: path of %zu characters skipped: %.64s...\n", path.size(),
                     path.c_str());
            continue;
        }
        char lower[kHidPathSize];
        for (size_t i = 0; i <= path.size(); ++i) {
            lower[i] = char(std::tolower(static_cast<unsigned char>(path[i])));
        }
        for (int m = 0; m < matchCount; ++m) {
            if (!std::strstr(lower, matchStrings[m])) {
                continue;
            }
            if (count == kHidMaxDevices) {
                DebugLog("FindHidDevices: more than %d devices; %s ignored\n", kHidMaxDevices,
                         lower);
                break;
            }
            std::memcpy(found[count].path, lower, path.size() + 1);
            std::memcpy(found[count].platformPath, path.c_str(), path.size() + 1);
            ++count;
            break;  // one slot per device, however many filter rows it matches
        }
    }
    return count;
}

void HidSetBackendForTest(HidBackend* backend) {
    backendForTest = backend;
}

HidBackend& HidActiveBackend() {
    // Never destroyed: readThreads and watches may still use it while the process exits.
    static HidBackend* const backend = [] {
        const char* dir = std::getenv("LUMORA_HID_SOCKET_DIR");
        if (dir && *dir) {
            DebugLog("HID: using the socket device in %s\n", dir);
            return HidNewSocketDeviceBackend(dir).release();
        }
        return HidNewSystemBackend().release();
    }();
    return *backend;
}

HidBackend& HidBackendInUse() {
    HidBackend* backend = backendForTest;
    return backend ? *backend : HidActiveBackend();
}

void UpdateDeviceTable(hidInterface* hid, const HidFoundDevice* found, int count) {
    // A device that died while its path stays (a killed device's socket file, a node whose read
    // failed) is dropped here and adopted afresh below.
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        if (entry.path[0] && isAmong(entry.path, found, count) && readEnded(&entry, true)) {
            removeEntry(hid, &entry);
        }
    }
    for (int i = 0; i < count; ++i) {
        bool known = false;
        for (const HidDeviceEntry& entry : hid->DeviceTable) {
            known = known || (entry.path[0] && std::strcmp(entry.path, found[i].path) == 0);
        }
        if (known) {
            continue;
        }
        if (hid->deviceCount >= kHidMaxDevices) {
            DebugLog("hidInterface DeviceTable full\n");
            continue;
        }
        HidDeviceEntry* entry = nullptr;
        for (HidDeviceEntry& candidate : hid->DeviceTable) {
            if (!candidate.path[0]) {
                entry = &candidate;
                break;
            }
        }
        clearEntry(entry);
        std::memcpy(entry->path, found[i].path, sizeof entry->path);
        std::memcpy(entry->platformPath, found[i].platformPath, sizeof entry->platformPath);
        ++hid->deviceCount;
        entry->generation.fetch_add(1);
        entry->owner = hid;
        entry->context = hid->context;
        entry->hidReportCallback = hid->hidReportCallback;
        entry->readThread = OsCreateThread("hid-read", HidReadThread, entry);
        if (!entry->readThread) {
            // Stays adopted without a reader, like a device that cannot be opened.
            DebugLog("UpdateDeviceTable: cannot start the read thread for %s\n", entry->path);
        }
        OsSleep(1);
    }
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        if (entry.path[0] && !isAmong(entry.path, found, count)) {
            removeEntry(hid, &entry);
        }
    }
}
