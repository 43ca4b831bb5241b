// A stand-in for the transport and the reader behind it, under the real AAP layer and device
// client: it records every send and hands the layer what a test delivers, on the delivering
// thread (which then plays the transport's event thread). Also the schema and records it sends.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "protocol/aap_layer.h"
#include "protocol/aap_message.h"
#include "tests/support/null_transport.h"
#include "transport/mal_transport_manager.h"

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kReader = 1;
// Upper bound on any wait, so a fault fails the test instead of hanging it.
constexpr auto kPatience = std::chrono::seconds(20);
constexpr int kNeverRepeatMs = 10 * 60 * 1000;

inline std::string Encoded(uint16_t type, const Bytes& payload = {}) {
    const AAPMessage message(type, payload.data(), uint32_t(payload.size()));
    return std::string(message.encoded().begin(), message.encoded().end());
}

// A header table (record type 255, 2 words, fields 0 and 8) and the body table of record type 5
// (text field 90, signed field 100); the configuration table of record type 1 (field 200).
const Bytes kHeaderTable = {0, 0, 0, 0,    0xFF, 0, 2, 0, 2, 0, 0, 0,    0,
                            0, 0, 0, 0x10, 0,    8, 0, 1, 0, 0, 0, 0x10, 0};
const Bytes kBodyTable = {0, 0, 0, 0,    5, 0,    0, 0, 2, 0, 0x5A, 0, 0,
                          0, 0, 3, 0x50, 0, 0x64, 0, 5, 0, 4, 2,    4, 0};
const Bytes kConfigTable = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xC8, 0, 0, 0, 0, 0, 0x10, 0};
const Bytes kConfigRecord = {1, 0xE8, 0x03};  // {"200":"1000"}

// Record number n of a table as the reader sends it, and its JSON: sensor "ABC", field 100 -1.
inline Bytes Record(uint8_t table, uint8_t n) {
    return {table, n, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0};
}
inline std::string RecordJson(int n) {
    return R"({"0":")" + std::to_string(n) + R"(","100":"-1","8":"5","90":"ABC\r\n"})";
}

// One transport event: a message, a text reply or the reader's removal.
struct Event {
    uint32_t kind;
    std::string bytes;
};
inline Event Msg(uint16_t type, const Bytes& payload = {}) {
    return {kXportMsgData, Encoded(type, payload)};
}
inline Event Text(std::string text) {
    return {kXportTextData, std::move(text)};
}
inline Event Removal() {
    return {kXportRemove, {}};
}
inline std::vector<Event> RecordsAnswer(uint8_t table, int count) {
    std::vector<Event> events;
    for (int n = 0; n < count; ++n) {
        events.push_back(Msg(49, Record(table, uint8_t(n))));
    }
    events.push_back(Msg(49));
    return events;
}

class FakeReader final : public NullTransport {
public:
    // Runs on the sending thread after each send is recorded, with its index and bytes.
    using Hook = std::function<void(size_t index, const std::string& bytes)>;

    // The transport of a fresh AAP layer and client, which never repeat a request.
    FakeReader() {
        AAPResetForTest();
        DeviceClient::resetForTest();
        DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
        DeviceClient::instance();
        AAPSetTransportForTest(this);
        AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
                onReaderDebugPrint, nullptr);
    }
    // The client's sending thread outlives every test: no hook may run on a fake that is gone.
    ~FakeReader() {
        settle();
        deliver({Removal()});
        AAPSetTransportForTest(nullptr);
        AAPResetForTest();
    }

    int32_t writeText(uint32_t, const uint8_t* text, uint32_t length) override {
        record(std::string(text, text + length));
        return int32_t(length);
    }
    int32_t writeMsg(uint32_t, uint32_t, const uint8_t* bytes, uint32_t length) override {
        record(std::string(bytes, bytes + length));
        return 0;
    }
    int32_t readText(uint32_t, uint8_t* buffer, uint32_t size) override {
        return int32_t(take(buffer, size));
    }
    int32_t readMsg(uint32_t, uint32_t, uint8_t* buffer, uint32_t* size) override {
        *size = take(buffer, *size);
        return 0;
    }

    void attach() { AAPOnTransportEvent(kReader, kXportAttach, 0, 0); }
    void deliver(const std::vector<Event>& events) {
        for (const Event& event : events) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                incoming_ = event.bytes;
            }
            AAPOnTransportEvent(kReader, event.kind, uint32_t(event.bytes.size()), 0);
        }
    }
    void setHook(Hook hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }
    std::vector<std::string> sends() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    bool waitForSends(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return sent_.size() >= count; });
    }
    // Waits until no hook runs, so that the next event comes from one thread at a time.
    bool settle() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return hooksRunning_ == 0; });
    }

private:
    void record(const std::string& bytes) {
        Hook hook;
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = sent_.size();
            sent_.push_back(bytes);
            hook = hook_;
            hooksRunning_ += hook ? 1 : 0;
            changed_.notify_all();
        }
        if (hook) {
            hook(index, bytes);
            std::lock_guard<std::mutex> lock(mutex_);
            --hooksRunning_;
            changed_.notify_all();
        }
    }
    uint32_t take(uint8_t* buffer, uint32_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint32_t n = std::min<uint32_t>(size, uint32_t(incoming_.size()));
        std::copy_n(incoming_.begin(), n, buffer);
        incoming_.erase(0, n);
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> sent_;
    std::string incoming_;
    Hook hook_;
    int hooksRunning_ = 0;
};
