// The AAP layer over the real transport and HID layers, against a simulated reader: the request
// cycle that the device client builds on, as the programs start it (AAPInit).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "hid/hid.h"
#include "protocol/aap_layer.h"
#include "sim_answers.h"
#include "sim_folder.h"
#include "tools/reader-sim/aap_stream.h"
#include "transport/mal_trans_atp.h"

namespace {

// A cap on waits, so a broken link fails the test instead of hanging it.
constexpr int kPatienceMs = 30000;

// What the application's callbacks heard; they run on the transport's event thread.
struct Heard {
    std::mutex mutex;
    std::condition_variable changed;
    bool attached = false;
    std::vector<uint8_t> messages;  // every message received, encoded again, in order

    template <class Done>
    bool waitFor(Done done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(kPatienceMs), done);
    }
} heard;

void OnAttach(void*) {
    std::lock_guard<std::mutex> lock(heard.mutex);
    heard.attached = true;
    heard.changed.notify_all();
}

void OnMessage(const AAPMessage* message, void*) {
    const std::vector<uint8_t> encoded =
        AapEncode(message->type(), message->payload().data(), uint32_t(message->payload().size()));
    std::lock_guard<std::mutex> lock(heard.mutex);
    heard.messages.insert(heard.messages.end(), encoded.begin(), encoded.end());
    heard.changed.notify_all();
}

TEST(ProtocolE2e, RequestsGetTheReadersAnswers) {
    HidTimingsForTest().scanIntervalMs = 50;
    ATPTimingsForTest().addDelayMs = 0;
    const std::unique_ptr<ReaderSim> reader = PlugReader("reader");
    ASSERT_NE(reader, nullptr);
    // Text commands and their replies: the transport's end-to-end tests.
    AAPInit(OnAttach, nullptr, nullptr, OnMessage, nullptr, nullptr);
    ASSERT_TRUE(heard.waitFor([] { return heard.attached; }));

    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());
    // A download's requests, one after the other as the device client sends them.
    struct Request {
        uint16_t type;
        std::vector<uint8_t> payload;
    };
    const Request requests[] = {{kAAPDateTime, {}}, {kAAPSchema, {}}, {kAAPRecord, {6}}};
    std::vector<uint8_t> expected;
    for (const Request& request : requests) {
        const std::vector<uint8_t> answer =
            AnswerTo(scenario, AapEncode(request.type, request.payload));
        expected.insert(expected.end(), answer.begin(), answer.end());
        AAPSendMessage(
            AAPMessage(request.type, request.payload.data(), uint32_t(request.payload.size())));
        EXPECT_TRUE(heard.waitFor([&] { return heard.messages.size() >= expected.size(); }));
    }
    EXPECT_EQ(heard.messages, expected);

    theTransport->close();
}

}  // namespace
