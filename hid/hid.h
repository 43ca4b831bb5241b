// HID device access: finds readers among the present HID devices by vendor and product id,
// keeps a table of them, reads each one's input reports on a thread of its own and writes
// output reports. Plain procedural interface for the transport above.
//
// Threads (all owned by the hidInterface): "hid-listen" runs discovery and the removal
// callback; one "hid-read" per adopted device opens it, calls the arrive callback and then the
// report callback once per input report (and, after a rest asked for with HidRestUntil, its
// callback).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/os.h"

constexpr int kHidMaxDevices = 32;
constexpr int kHidMaxFilters = 10;
constexpr int kHidPathSize = 260;
constexpr int kHidReportSize = 65;  // report id 0, then one 64-byte packet
constexpr int kHidDataSize = 64;

struct HidDeviceFilter {
    uint32_t vendorId;  // 0 ends the table
    uint32_t productId;
};

struct HidDeviceEntry;
struct hidInterface;
struct HidDevice;  // a backend's open device

// Called on the entry's readThread for each input report: data points to the 64 bytes after the
// report id and length is 64. Delays the next read for as long as it runs.
using HidReportCallback = void (*)(HidDeviceEntry* entry, const uint8_t* data, int32_t length,
                                   void* context);
// Called on the entry's readThread after one or more reports when no further one is queued,
// before the thread waits for the next: receivers may gather a run of reports and pass it on
// once. Backends that cannot tell call it after every report.
using HidReadBatchEndCallback = void (*)(HidDeviceEntry* entry, void* context);
// Called on the entry's readThread once a rest asked for with HidRestUntil is over and the
// reports queued by then have been delivered and their batch end told.
using HidRestCallback = void (*)(HidDeviceEntry* entry, void* context);
// Called on the entry's readThread once the device is open, before its first read.
using HidArriveCallback = void (*)(HidDeviceEntry* entry, void* context);
// Called on listenThread when the entry's path is no longer found. The entry is freed after
// its readThread has ended, right after this returns: keep only its address.
using HidRemoveCallback = void (*)(HidDeviceEntry* entry, void* context);

// One slot of the device table; its address is the device's identity for the transport and
// stays valid as long as the hidInterface. Changed by listenThread (adoption, removal) and, for
// file and readEvent, by its own readThread.
struct HidDeviceEntry {
    char path[kHidPathSize];  // lower-cased; empty marks a free entry
    HidDevice* file;
    OsHandle readEvent;  // set by another thread to end the readThread
    uint8_t inputBuffer[kHidReportSize];
    OsHandle readThread;
    HidReportCallback hidReportCallback;
    void* context;
    hidInterface* owner;
    char platformPath[kHidPathSize];  // as the platform gave it: Linux paths are case-sensitive
    // Under ioLock: the readThread opened the device (and announced it), and it has ended.
    bool opened;
    bool ended;
    // listenThread only: opens retried for a path that stays, and when the next may start.
    uint32_t openFailures;
    int64_t retryAtMs;
    // ioLock guards file, readEvent, stopping and writers between the readThread, the thread
    // that stops it and writers on any thread: the device is closed only once no write uses it.
    // Created with the interface; survives the entry being cleared.
    OsLockRef ioLock;
    bool stopping;
    int32_t writers;
    // Counts adoptions into this entry; a user's record of one adoption refuses the next.
    // Written by listenThread before the readThread starts; survives the entry being cleared.
    std::atomic<uint32_t> generation;
    // readThread only: the rest asked for with HidRestUntil, none while restCallback is null.
    HidRestCallback restCallback;
    void* restContext;
    int64_t restUntilMs;
};

struct hidInterface {
    int32_t deviceCount;
    HidDeviceEntry DeviceTable[kHidMaxDevices];
    char matchStrings[kHidMaxFilters][kHidPathSize];
    int32_t matchCount;
    OsHandle listenThread;
    std::atomic<bool> running;
    HidReportCallback hidReportCallback;
    HidArriveCallback hidArriveCallback;
    HidRemoveCallback hidRemoveCallback;
    HidReadBatchEndCallback hidBatchEndCallback;  // may be null
    void* context;
    OsHandle listenEvent;  // auto-reset; wakes listenThread (hot-plug, close)
    struct HidWatch* watch;
    std::atomic<uint32_t> scans;  // scans finished, for tests and diagnostics
};

// One device found by a scan.
struct HidFoundDevice {
    char path[kHidPathSize];  // lower-cased
    char platformPath[kHidPathSize];
};

// Binds the platform HID library once (run-time binding on Windows; nothing to bind elsewhere).
// True when it is, or already was, bound. Called from one thread only, as is UnloadHidLibrary.
bool LoadHidLibrary();
void UnloadHidLibrary();

// Builds the match strings from filters (up to the first vendor id 0, at most 10 rows), starts
// listenThread and returns the interface, or null (logged). listenThread scans at once, then
// every 2000 ms, and sooner when the platform reports a device arriving or leaving.
hidInterface* OpenHidInterface(const HidDeviceFilter* filters, HidReportCallback reportCallback,
                               HidArriveCallback arriveCallback, HidRemoveCallback removeCallback,
                               void* context, HidReadBatchEndCallback batchEndCallback = nullptr);

// Milliseconds of the steady clock: the clock of HidRestUntil. Any thread.
inline int64_t HidNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Called on the entry's readThread (from one of its callbacks): once its current run of reports
// is delivered, the thread reads nothing until untilMs (HidNowMs), then delivers what queued
// meanwhile, tells its batch end and calls callback(entry, context) once; reports then cost one
// wake per rest rather than one each. Replaces a rest asked for before that has not begun. A
// stop ends the rest at once, without the callback. False, nothing asked, where the backend
// cannot rest (Windows): there reports are read as they come.
bool HidRestUntil(HidDeviceEntry* entry, int64_t untilMs, HidRestCallback callback, void* context);

// Stops listenThread and every readThread, waits until they have ended and frees the interface.
// Calls no remove callback. Null does nothing. Must not be called from a callback.
void CloseHidInterface(hidInterface* hid);

// One scan: stores up to kHidMaxDevices present devices whose lower-cased path contains one of
// the match strings; returns how many. An interface whose details cannot be read, or whose
// path does not fit, is skipped (and logged), not the whole scan.
int FindHidDevices(const char (*matchStrings)[kHidPathSize], int matchCount, HidFoundDevice* found);

// Reconciles the table with one scan: drops entries whose device died while the path stays,
// adopts new paths into the lowest free entries (starting their readThreads), then removes
// entries whose path is gone. Runs on listenThread after every scan that listed.
void UpdateDeviceTable(hidInterface* hid, const HidFoundDevice* found, int count);

// Writes one report: report id 0, then length (at most 64) data bytes. Up to 10 attempts of
// 5000 ms each; true when written. Any thread; blocks until written or failed.
bool WriteHidReport(HidDeviceEntry* entry, const uint8_t* data, int32_t length);
// As WriteHidReport, but only to the device of the entry's adoption numbered generation: false,
// nothing written, once the entry holds another. Any thread.
bool WriteHidReportTo(HidDeviceEntry* entry, uint32_t generation, const uint8_t* data,
                      int32_t length);

// The platform path of a matching device that is present but that this user may not open
// (permission denied); empty when there is none. Any thread.
std::string HidDeniedDevicePath();

// Waits and retries that tests may shorten. Never changed by the programs.
struct HidTimings {
    uint32_t scanIntervalMs = 2000;
    uint32_t writeTimeoutMs = 5000;
    int writeAttempts = 10;
    uint32_t openRetryMs = 50;         // a device busy or without permission yet is retried...
    uint32_t openRetryLimitMs = 3000;  // ...for this long before its readThread gives up;
                                       // later scans try again, each time after a longer pause
    bool hotplugWake = true;
};
HidTimings& HidTimingsForTest();
