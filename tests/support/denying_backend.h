// While deny is set, refuses every open for lack of permission, as a user without access to the
// reader's device node meets; otherwise the process's own backend. See HidSetBackendForTest.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

struct DenyingBackend : HidBackend {
    std::atomic<bool> deny{true};
    bool enumerate(std::vector<std::string>& paths) override {
        return HidActiveBackend().enumerate(paths);
    }
    HidDevice* open(const char* path, bool& denied) override {
        denied = deny;
        return denied ? nullptr : HidActiveBackend().open(path, denied);
    }
    HidReadResult read(HidDevice* device, OsHandle event, uint8_t (&report)[kHidReportSize],
                       int& size) override {
        return HidActiveBackend().read(device, event, report, size);
    }
    HidReadResult readIfQueued(HidDevice* device, OsHandle event, uint8_t (&report)[kHidReportSize],
                               int& size) override {
        return HidActiveBackend().readIfQueued(device, event, report, size);
    }
    void interrupt(HidDevice* device, OsHandle event) override {
        HidActiveBackend().interrupt(device, event);
    }
    HidWriteResult write(HidDevice* device, const uint8_t (&report)[kHidReportSize],
                         uint32_t timeoutMs, int& errorCode) override {
        return HidActiveBackend().write(device, report, timeoutMs, errorCode);
    }
    void close(HidDevice* device) override { HidActiveBackend().close(device); }
    HidWatch* watch(OsHandle) override { return nullptr; }
};
