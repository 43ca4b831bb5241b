// A transport whose reports go to a recorder instead of HID, and helpers to play the reader.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/mal_trans_atp.h"

using Bytes = std::vector<uint8_t>;

struct Report {
    HidDeviceEntry* entry;
    std::array<uint8_t, kATPPacketSize> bytes;
    uint8_t code() const { return bytes[0]; }
};
using Reports = std::vector<Report>;

inline Reports WithCode(const Reports& reports, uint8_t code) {
    Reports out;
    for (const Report& report : reports) {
        if (report.code() == code) {
            out.push_back(report);
        }
    }
    return out;
}

// A whole packet as the format lays it out: the given bytes, then zeros.
inline std::array<uint8_t, kATPPacketSize> Packet(const Bytes& head) {
    std::array<uint8_t, kATPPacketSize> packet{};
    std::copy(head.begin(), head.end(), packet.begin());
    return packet;
}

// Records every report in order; onWrite runs on the writing thread, outside the lock.
class FakeWriter {
public:
    static bool Write(HidDeviceEntry* entry, uint32_t, const uint8_t* data, int32_t length,
                      void* context) {
        auto* self = static_cast<FakeWriter*>(context);
        Report report{entry, {}};
        std::memcpy(report.bytes.data(), data, static_cast<size_t>(length));
        std::function<void(const Report&)> hook;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->reports_.push_back(report);
            hook = self->onWrite_;
        }
        self->changed_.notify_all();
        if (hook) {
            hook(report);
        }
        return true;
    }

    Reports reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.clear();
    }
    void setOnWrite(std::function<void(const Report&)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onWrite_ = std::move(hook);
    }
    // Waits until done(reports) holds. The cap only turns a hang into a failure.
    bool waitFor(const std::function<bool(const Reports&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return done(reports_); });
    }
    bool waitForCode(uint8_t code) {
        return waitFor([code](const Reports& r) { return !WithCode(r, code).empty(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Reports reports_;
    std::function<void(const Report&)> onWrite_;
};

struct Delivered {
    uint32_t deviceId;
    uint32_t event;
    uint32_t count;
    bool operator==(const Delivered& o) const {
        return deviceId == o.deviceId && event == o.event && count == o.count;
    }
};

// The event callback carries no context; tests deliver on their own thread.
inline std::vector<Delivered>& DeliveredEvents() {
    static std::vector<Delivered> events;
    return events;
}

inline int RecordEvent(uint32_t deviceId, uint32_t event, uint32_t count, uint32_t) {
    DeliveredEvents().push_back({deviceId, event, count});
    return 0;
}

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = ATPTimingsForTest();
        ATPTimingsForTest().addDelayMs = 0;
        ATPTimingsForTest().retransmitTickMs = 3600000;  // no resends unless a test wants them
        DeliveredEvents().clear();
        transport_ = std::make_unique<MALTransATP>();
        transport_->setReportWriterForTest(FakeWriter::Write, &writer_);
        transport_->setEventCallback(RecordEvent);
    }
    void TearDown() override {
        transport_.reset();
        ATPTimingsForTest() = saved_;
    }

    HidDeviceEntry* entry(int i) { return &entries_[i]; }
    // Adds a reader and forgets its link-start reports.
    int32_t addReader(int i) {
        const int32_t id = transport_->AddSerHidDevice(entry(i));
        writer_.clear();
        return id;
    }
    void removeReader(int i) {
        transport_->postEvent(kEvtRemoveDevice, reinterpret_cast<uintptr_t>(entry(i)));
        dispatch();
    }
    void feed(int32_t id, Bytes bytes) {
        bytes.resize(kATPPacketSize);
        transport_->OnReceiveReport(id, bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    void feedData(int32_t id, uint8_t ack, uint8_t seq, const std::string& payload) {
        uint8_t packet[kATPPacketSize];
        ATPBuildDataPacket(packet, kATPDataIn, ack, seq,
                           reinterpret_cast<const uint8_t*>(payload.data()),
                           static_cast<uint32_t>(payload.size()));
        transport_->OnReceiveReport(id, packet, kATPPacketSize);
    }
    void grantWindow(int32_t id, uint8_t size) { feed(id, {kATPWindowSize, 1, size}); }
    std::vector<Delivered> dispatch() {
        transport_->dispatchPendingEvents();
        return DeliveredEvents();
    }
    const ATPDevice* device(uint32_t slot) { return transport_->deviceAt(slot); }
    int32_t writeText(uint32_t id, const std::string& text) {
        return transport_->writeText(id, reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<uint32_t>(text.size()));
    }
    int32_t writeMsg(uint32_t id, const Bytes& bytes) {
        return transport_->writeMsg(id, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    FakeWriter writer_;
    std::unique_ptr<MALTransATP> transport_;

private:
    ATPTimings saved_;
    HidDeviceEntry entries_[8] = {};
};
