// A transport whose reports go to a recorder instead of HID, and helpers to play the reader.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/eventually.h"
#include "transport/mal_trans_atp.h"

using Bytes = std::vector<uint8_t>;
using PacketBytes = std::array<uint8_t, kATPPacketSize>;

struct Report {
    HidDeviceEntry* entry;
    PacketBytes bytes;
    uint8_t code() const { return bytes[0]; }
    bool operator==(const Report& o) const { return entry == o.entry && bytes == o.bytes; }
};
using Reports = std::vector<Report>;

// A whole packet as the format lays it out: the given bytes, then zeros.
inline PacketBytes Packet(const Bytes& head) {
    PacketBytes packet{};
    std::copy(head.begin(), head.end(), packet.begin());
    return packet;
}

// deviceId, event (reserved in its second byte), count, as the event callback (which has no
// context) heard them.
using Delivered = std::vector<std::array<uint32_t, 3>>;
inline Delivered& DeliveredEvents() {
    static Delivered events;
    return events;
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ATPTimingsForTest().addDelayMs = 0;
        ATPTimingsForTest().retransmitTickMs = 3600000;  // no resends unless a test wants them
        DeliveredEvents().clear();
        transport_ = std::make_unique<MALTransATP>();
        transport_->setReportWriterForTest(Write, this);
        transport_->setEventCallback(
            [](uint32_t id, uint32_t event, uint32_t count, uint32_t reserved) {
                DeliveredEvents().push_back({id, event | reserved << 8, count});
                return 0;
            });
    }
    void TearDown() override {
        transport_.reset();
        ATPTimingsForTest() = ATPTimings();
    }

    // Records every report in order; the hook runs on the writing thread, outside the lock.
    static bool Write(HidDeviceEntry* entry, uint32_t, const uint8_t* data, int32_t, void* self) {
        auto* test = static_cast<TransportTest*>(self);
        Report report{entry, {}};
        std::memcpy(report.bytes.data(), data, kATPPacketSize);
        std::function<void(const Report&)> hook;
        {
            std::lock_guard<std::mutex> lock(test->mutex_);
            test->reports_.push_back(report);
            hook = test->onWrite_;
        }
        if (hook) {
            hook(report);
        }
        return true;
    }
    Reports reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    void clearReports() {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.clear();
    }
    void setOnWrite(std::function<void(const Report&)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onWrite_ = std::move(hook);
    }
    bool waitForCode(uint8_t code) {
        return Eventually([&] {
            const Reports sent = reports();
            return std::any_of(sent.begin(), sent.end(),
                               [&](const Report& r) { return r.code() == code; });
        });
    }

    HidDeviceEntry* entry(int i) { return &entries_[i]; }
    // Adds a reader and forgets its link-start reports.
    void addReader(int i) {
        transport_->AddSerHidDevice(entry(i));
        clearReports();
    }
    void feed(int32_t id, Bytes bytes) {
        bytes.resize(kATPPacketSize);
        transport_->OnReceiveReport(id, bytes.data(), kATPPacketSize);
    }
    // onReadThread: as the HID layer's read thread of entry(id) delivers it.
    void feedData(int32_t id, uint8_t seq, const std::string& payload, bool onReadThread = false) {
        uint8_t packet[kATPPacketSize];
        ATPBuildDataPacket(packet, kATPDataIn, 0, seq,
                           reinterpret_cast<const uint8_t*>(payload.data()),
                           uint32_t(payload.size()));
        onReadThread ? transport_->receiveOnReadThread(entry(id), packet, kATPPacketSize)
                     : transport_->OnReceiveReport(id, packet, kATPPacketSize);
    }
    void grantWindow(int32_t id, uint8_t size) { feed(id, {kATPWindowSize, 1, size}); }
    const Delivered& dispatch() {
        transport_->dispatchPendingEvents();
        return DeliveredEvents();
    }
    const ATPDevice* device(uint32_t slot) { return transport_->deviceAt(slot); }
    int32_t writeText(uint32_t id, const std::string& text) {
        return transport_->writeText(id, reinterpret_cast<const uint8_t*>(text.data()),
                                     uint32_t(text.size()));
    }
    int32_t writeMsg(uint32_t id, const Bytes& bytes) {
        return transport_->writeMsg(id, 0, bytes.data(), uint32_t(bytes.size()));
    }

    std::unique_ptr<MALTransATP> transport_;

private:
    std::mutex mutex_;
    Reports reports_;
    std::function<void(const Report&)> onWrite_;
    HidDeviceEntry entries_[8] = {};
};
