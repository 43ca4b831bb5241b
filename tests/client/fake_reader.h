// A stand-in for the transport and the reader behind it, under the real AAP layer and device
// client: it records every send and hands the layer what a test delivers, on the delivering
// thread (which then plays the transport's event thread). Also the schema and records it sends.
#pragma once

#include <string>
#include <vector>

#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "protocol/aap_layer.h"
#include "protocol/aap_message.h"
#include "tests/support/recording_transport.h"
#include "transport/mal_transport_manager.h"

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kReader = 1;
constexpr auto kPatience = RecordingTransport::kPatience;
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
const Bytes kConfigRecord = {1, 0xE8, 0x03};          // {"200":"1000"}
const Bytes kClock = {9, 8, 7, 5, 3, 0xE5, 0x07, 0};  // 05 Mar 2021 07:08:09

// A download's requests, in the order the worker sends them, and the clock request.
const std::string kSchemaRequest = Encoded(52);
const std::string kConfigSchemaRequest = Encoded(84);
const std::string kTable6Request = Encoded(49, {6});
const std::string kCalibrationRequest = Encoded(81, {1});
const std::string kTable7Request = Encoded(49, {7});
const std::string kClockRequest = Encoded(65);

// Record number n of a table as the reader sends it, and its JSON: sensor "ABC", field 100 -1.
inline Bytes Record(uint8_t table, uint8_t n) {
    return {table, n, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0};
}
inline std::string RecordJson(int n) {
    return R"({"0":")" + std::to_string(n) + R"(","100":"-1","8":"5","90":"ABC\r\n"})";
}

// One transport event (a message, a text reply, the removal), or the client's cancelRequests.
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
inline Event Cancel() {
    return {0, {}};
}
inline std::vector<Event> RecordsAnswer(uint8_t table, int count) {
    std::vector<Event> events;
    for (int n = 0; n < count; ++n) {
        events.push_back(Msg(49, Record(table, uint8_t(n))));
    }
    events.push_back(Msg(49));
    return events;
}

class FakeReader final : public RecordingTransport {
public:
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

    void attach() { AAPOnTransportEvent(kReader, kXportAttach, 0, 0); }

    // Answers each request as sent, tables 6 and 7 holding these many records (table6 -1: one
    // with a blank sensor id); silent on silentOn, gone on removedOn.
    void answerDownload(int table6, int table7, const std::string& removedOn = {},
                        const std::string& silentOn = {}) {
        setHook([=](size_t, const std::string& request) {
            if (request == silentOn) {
                return;
            }
            if (request == removedOn) {
                deliver({Removal()});
            } else if (request == "$sn?\r\n") {
                deliver({Text("S1\r\nFW 1\r\nCMD OK\r\n")});
            } else if (request == kClockRequest) {
                deliver({Msg(65, kClock)});
            } else if (request == kSchemaRequest) {
                deliver({Msg(52, kHeaderTable), Msg(52, kBodyTable), Msg(52)});
            } else if (request == kConfigSchemaRequest) {
                deliver({Msg(84, kConfigTable), Msg(84)});
            } else if (request == kTable6Request && table6 < 0) {
                deliver({Msg(49, {6, 0, 0, 5, 0, ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), Msg(49)});
            } else if (request == kTable6Request || request == kTable7Request) {
                const bool six = request == kTable6Request;
                deliver(RecordsAnswer(six ? 6 : 7, six ? table6 : table7));
            } else if (request == kCalibrationRequest) {
                deliver({Msg(81, kConfigRecord)});
            }
        });
    }
    using RecordingTransport::deliver;
    void deliver(const std::vector<Event>& events) {
        for (const Event& event : events) {
            event.kind ? deliver(kReader, event.kind, event.bytes)
                       : DeviceClient::instance()->cancelRequests();
        }
    }
};
