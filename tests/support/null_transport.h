// A transport that does nothing, for tests that stand in for the reader: a fake overrides only
// the operations it cares about.
#pragma once

#include "transport/mal_transport_manager.h"

class NullTransport : public MALTransportManager {
public:
    hidInterface* open(const HidDeviceFilter*) override { return nullptr; }
    void close() override {}
    void setEventCallback(TransportEventCallback) override {}
    int32_t writeText(uint32_t, const uint8_t*, uint32_t length) override {
        return int32_t(length);
    }
    int32_t writeMsg(uint32_t, uint32_t, const uint8_t*, uint32_t) override { return 0; }
    int32_t readText(uint32_t, uint8_t*, uint32_t) override { return 0; }
    int32_t readMsg(uint32_t, uint32_t, uint8_t*, uint32_t* size) override {
        *size = 0;
        return 0;
    }
    int32_t getVersion(char*, uint32_t) override { return 1; }
    void restartLink(uint32_t) override {}
    void OnDeviceAttach(uint32_t) override {}
    void OnDeviceRemove(uint32_t) override {}
    void OnDebugPrint(const char*) override {}
    void OnReceiveReport(int32_t, const uint8_t*, int32_t) override {}
    void OnReceiveATP(uint32_t, const uint8_t*) override {}
};
