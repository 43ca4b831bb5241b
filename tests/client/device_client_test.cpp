// The device client and the application's reader callbacks through the real AAP layer, with a
// stand-in transport. The test thread plays the transport's event thread; requests run on threads
// of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QJsonDocument>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/device_client.h"
#include "client/reader_callbacks.h"
#include "protocol/aap_layer.h"
#include "protocol/aap_message.h"
#include "tests/support/null_transport.h"
#include "transport/mal_transport_manager.h"

namespace {

// Month names follow the system locale; the expected texts are the C locale's.
const bool kCLocale = setenv("LC_ALL", "C", 1) == 0;

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kReader = 1;
// Upper bound on any wait, so a fault fails the test instead of hanging it.
constexpr auto kPatience = std::chrono::seconds(20);
constexpr int kNeverRepeatMs = 10 * 60 * 1000;

std::string Encoded(uint16_t type, const Bytes& payload = {}) {
    const AAPMessage message(type, payload.data(), uint32_t(payload.size()));
    return std::string(message.encoded().begin(), message.encoded().end());
}

// Stands in for the transport: records every send and hands the AAP layer what a test delivers.
// Sends come from request threads, reads from the test thread.
class FakeTransport final : public NullTransport {
public:
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

    std::vector<std::string> sends() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }
    bool waitForSends(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return sent_.size() >= count; });
    }
    void deliver(const std::string& bytes, uint32_t event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            incoming_ = bytes;
        }
        AAPOnTransportEvent(kReader, event, uint32_t(bytes.size()), 0);
    }

    // Runs on the sender's thread after each send is recorded, with the send's index.
    std::function<void(size_t)> onSend;

private:
    void record(std::string bytes) {
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = sent_.size();
            sent_.push_back(std::move(bytes));
        }
        changed_.notify_all();
        if (onSend) {
            onSend(index);
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
};

std::string Json(const QJsonArray& array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

// The worked example: a header table (record type 255, 2 words, fields 0 and 8) and the body
// table of record type 5 (text field 90, signed field 100), and one record of it.
const Bytes kHeaderTable = {0, 0, 0, 0,    0xFF, 0, 2, 0, 2, 0, 0, 0,    0,
                            0, 0, 0, 0x10, 0,    8, 0, 1, 0, 0, 0, 0x10, 0};
const Bytes kBodyTable = {0, 0, 0, 0,    5, 0,    0, 0, 2, 0, 0x5A, 0, 0,
                          0, 0, 3, 0x50, 0, 0x64, 0, 5, 0, 4, 2,    4, 0};
const Bytes kRecord = {7, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0};
const char kRecordJson[] = R"({"0":"7","100":"-1","8":"5","90":"ABC\r\n"})";
const Bytes kOtherRecord = {9, 0, 5, 0, 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x30, 0};
const char kOtherRecordJson[] = R"({"0":"9","100":"3","8":"5","90":"X\r\n"})";
const Bytes kConfigTable = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xC8, 0, 0, 0, 0, 0, 0x10, 0};
const Bytes kConfigRecord = {1, 0xE8, 0x03};
const Bytes kClock = {9, 8, 7, 5, 3, 0xE5, 0x07, 0};

Bytes WithTable(uint8_t table, const Bytes& record) {
    Bytes out(record.size() + 1, table);
    std::copy(record.begin(), record.end(), out.begin() + 1);
    return out;
}

class DeviceClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kCLocale);
        AAPResetForTest();
        DeviceClient::resetForTest();
        DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
        AAPSetTransportForTest(&fake);
        AAPInit(onReaderAttached, onReaderRemoved, onReaderTextReply, onReaderMessage,
                onReaderDebugPrint, nullptr);
        client = DeviceClient::instance();
        connections = {
            QObject::connect(client, &DeviceClient::onConnected, [this] { ++connects; }),
            QObject::connect(client, &DeviceClient::onDisconnected, [this] { ++disconnects; })};
    }
    void TearDown() override {
        remove();
        for (const auto& c : connections) {
            QObject::disconnect(c);
        }
        AAPSetTransportForTest(nullptr);
        AAPResetForTest();
    }

    void attach(uint32_t id = kReader) { AAPOnTransportEvent(id, kXportAttach, 0, 0); }
    void remove(uint32_t id = kReader) { AAPOnTransportEvent(id, kXportRemove, 0, 0); }
    void deliver(uint16_t type, const Bytes& payload = {}) {
        fake.deliver(Encoded(type, payload), kXportMsgData);
    }
    void deliverText(const std::string& text) { fake.deliver(text, kXportTextData); }

    template <class F>
    auto start(F request) {
        return std::async(std::launch::async, request);
    }
    template <class T>
    T finish(std::future<T>& result) {
        if (result.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "the request did not return";
            remove();
        }
        return result.get();
    }
    // Runs a request whose first attempt sends sendCount messages, then answers it.
    template <class F>
    auto serve(F request, size_t sendCount, const std::function<void()>& answer) {
        const size_t before = fake.sends().size();
        auto result = start([this, request] {
            auto value = request();
            EXPECT_TRUE(client->lastRequestAnswered());
            return value;
        });
        EXPECT_TRUE(fake.waitForSends(before + sendCount));
        answer();
        return finish(result);
    }
    void serveSchema() {
        serve([this] { return client->requestSchema(); }, 2,
              [this] {
                  deliver(52, kHeaderTable);
                  deliver(52, kBodyTable);
                  deliver(52);
              });
    }
    // The next request's first attempt repeats after ms; its second one waits for good.
    void repeatOnceAfter(int ms, size_t sendsPerAttempt) {
        DeviceClient::setGiveUpPeriodsForTest(1000);
        DeviceClient::setRequestRepeatMsForTest(ms);
        const size_t last = fake.sends().size() + 2 * sendsPerAttempt - 1;
        fake.onSend = [last](size_t index) {
            if (index == last) {
                DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
            }
        };
    }

    FakeTransport fake;
    DeviceClient* client = nullptr;
    std::vector<QMetaObject::Connection> connections;
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};
};

struct RequestCase {
    const char* name;
    std::function<std::string(DeviceClient&)> run;
    std::string command;  // the first send of an attempt
    bool typed;           // followed by type 125
    const char* emptyResult;
};

std::vector<RequestCase> AllRequests() {
    auto text = [](QString (DeviceClient::*request)()) {
        return [request](DeviceClient& c) { return (c.*request)().toStdString(); };
    };
    return {
        {"serial number", text(&DeviceClient::requestSerialNumber), "$sn?\r\n", false, ""},
        {"subject name", text(&DeviceClient::requestSubjectName), "$ptname?\r\n", false, ""},
        {"schema", text(&DeviceClient::requestSchema), Encoded(52), true, ""},
        {"configuration schema", text(&DeviceClient::requestConfigurationSchema), Encoded(84), true,
         ""},
        {"table 6", [](DeviceClient& c) { return Json(c.requestDatabaseRecords(6)); },
         Encoded(49, {6}), true, "[]"},
        {"date-time", text(&DeviceClient::requestDateTime), Encoded(65), true, ""},
        {"calibration 1", [](DeviceClient& c) { return Json(c.requestCalibrationConfig(1)); },
         Encoded(81, {1}), true, "[]"},
    };
}

TEST_F(DeviceClientTest, EveryRequestReturnsEmptyWithoutReaderAndWhenTheReaderIsRemoved) {
    int removals = 0;
    for (const RequestCase& c : AllRequests()) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        const auto runAndTell = [&] {
            const std::string result = c.run(*client);
            return std::make_pair(result, client->lastRequestAnswered());
        };
        EXPECT_EQ(start(runAndTell).get(), std::make_pair(std::string(c.emptyResult), false));
        EXPECT_EQ(fake.sends().size(), before) << "sent with no reader";

        attach();
        auto result = start(runAndTell);
        ASSERT_TRUE(fake.waitForSends(before + (c.typed ? 2 : 1)));
        EXPECT_EQ(fake.sends()[before], c.command);
        if (c.typed) {
            EXPECT_EQ(fake.sends()[before + 1], Encoded(125));
        }
        remove();
        EXPECT_EQ(finish(result), std::make_pair(std::string(c.emptyResult), false));
        EXPECT_EQ(disconnects.load(), ++removals);
    }
}

TEST_F(DeviceClientTest, ARequestOnTheEventThreadReturnsAtOnce) {
    attach();  // this thread now plays the event thread
    testing::internal::CaptureStdout();
    EXPECT_EQ(client->requestSerialNumber().toStdString(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Request refused: made on the reader's event thread\n");
    EXPECT_TRUE(fake.sends().empty());
}

// The callbacks as AAPInit calls them, seen from the client's signals.
using ReaderCallbacksTest = DeviceClientTest;

TEST_F(ReaderCallbacksTest, OnlyTheAdoptedReaderIsAnnounced) {
    attach(kReader);
    attach(kReader + 1);
    remove(kReader + 1);
    EXPECT_EQ(connects.load(), 1);
    EXPECT_EQ(disconnects.load(), 0);
    remove(kReader);
    EXPECT_EQ(disconnects.load(), 1);
}

TEST_F(DeviceClientTest, RecordsComeBackInArrivalOrderDecodedAgainstTheSchema) {
    attach();
    auto records = [this] { return Json(client->requestDatabaseRecords(6)); };

    // Before any schema, record answers are dropped and the request keeps repeating.
    repeatOnceAfter(1, 2);
    testing::internal::CaptureStdout();
    auto early = start(records);
    ASSERT_TRUE(fake.waitForSends(2));
    deliver(49, WithTable(6, kRecord));
    deliver(49);
    ASSERT_TRUE(fake.waitForSends(4)) << "an answer without schema completed the request";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error No Schema Table\r\nError No Schema Table\r\n");
    remove();
    EXPECT_EQ(finish(early), "[]");
    EXPECT_FALSE(client->hasResults());
    fake.onSend = nullptr;

    attach();
    EXPECT_FALSE(client->hasSchema());
    serveSchema();
    EXPECT_TRUE(client->hasSchema());
    testing::internal::CaptureStdout();
    EXPECT_EQ(serve(records, 2,
                    [this] {
                        deliver(49, WithTable(6, kRecord));
                        deliver(49, WithTable(6, kOtherRecord));
                        deliver(49);
                    }),
              std::string("[") + kRecordJson + "," + kOtherRecordJson + "]");
    EXPECT_TRUE(client->hasResults());
    // The next answer starts from an empty list, and so does the record count.
    EXPECT_EQ(serve(records, 2,
                    [this] {
                        deliver(49, WithTable(6, kOtherRecord));
                        deliver(49);
                    }),
              std::string("[") + kOtherRecordJson + "]");
    EXPECT_EQ(serve(records, 2, [this] { deliver(49); }), "[]");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\rRecords: 1\rRecords: 2\rRecords: 1");

    // The flags outlive the reader.
    remove();
    attach();
    EXPECT_TRUE(client->hasSchema());
    EXPECT_TRUE(client->hasResults());
}

TEST_F(DeviceClientTest, SchemaTheDecoderCannotFullyUseGivesFewerMembers) {
    const Bytes headerWithoutType = {0, 0, 0, 0, 0xFF, 0, 2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x10, 0};
    // Declares three fields and holds two.
    Bytes shortBody = kBodyTable;
    shortBody[8] = 3;
    const std::string all = std::string("[") + kRecordJson + "]";
    const struct {
        const char* name;
        std::vector<Bytes> schema;
        std::string json;
    } cases[] = {
        {"no header table", {kBodyTable}, "[{}]"},
        {"header without field 8", {headerWithoutType, kBodyTable}, "[{}]"},
        {"body table shorter than its count", {kHeaderTable, shortBody}, all},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        attach();
        serve([this] { return client->requestSchema(); }, 2,
              [&] {
                  for (const Bytes& table : c.schema) {
                      deliver(52, table);
                  }
                  deliver(52);
              });
        EXPECT_EQ(serve([this] { return Json(client->requestDatabaseRecords(6)); }, 2,
                        [this] {
                            deliver(49, WithTable(6, kRecord));
                            deliver(49);
                        }),
                  c.json);
        remove();
    }
}

TEST_F(DeviceClientTest, AnAnswerCompletedDuringTheSendIsNotLost) {
    attach();
    // The whole answer arrives while the request still sends, before it waits.
    fake.onSend = [this](size_t index) {
        if (index == 1) {
            deliver(52, kHeaderTable);
            deliver(52);
        }
    };
    auto result = start([this] { return client->requestSchema(); });
    finish(result);
    EXPECT_TRUE(client->hasSchema());
    EXPECT_EQ(fake.sends().size(), 2u);
}

TEST_F(DeviceClientTest, AnswersAndRemovalFlowWhileASendIsBlocked) {
    attach();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    fake.onSend = [released](size_t) { released.wait(); };
    auto request = start([this] { return client->requestSerialNumber(); });
    ASSERT_TRUE(fake.waitForSends(1));

    auto events = std::async(std::launch::async, [this] {
        deliver(52, kHeaderTable);
        deliver(65, kClock);
        remove();
    });
    const bool flowed = events.wait_for(kPatience) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(flowed) << "the event thread waited for the blocked send";
    EXPECT_EQ(finish(request), "");
    EXPECT_EQ(disconnects.load(), 1);
}

TEST_F(DeviceClientTest, ARequestWithoutUsableAnswerSendsAgainAndCompletes) {
    attach();
    serveSchema();
    serve([this] { return client->requestConfigurationSchema(); }, 2,
          [this] {
              deliver(84, kConfigTable);
              deliver(84);
          });
    serve([this] { return client->requestDatabaseRecords(7); }, 2, [this] { deliver(49); });

    const struct {
        const char* name;
        std::function<std::string()> request;
        size_t sendsPerAttempt;
        std::function<void()> nonAnswer;
        std::function<void()> answer;
        std::string result;
        std::string trace;
    } cases[] = {
        {"AAP_Error", [this] { return client->requestDateTime().toStdString(); }, 2,
         [this] { deliver(126); }, [this] { deliver(65, kClock); }, "05 Mar 2021 07:08:09",
         "Received AAP_Error from meter - something went wrong with our request\n"
         "7:8:9 5/3/2021 v:0\r\nCMD OK\r\n"},
        {"short date-time answer", [this] { return client->requestDateTime().toStdString(); }, 2,
         [this] { deliver(65, Bytes(kClock.begin(), kClock.end() - 1)); },
         [this] { deliver(65, kClock); }, "05 Mar 2021 07:08:09",
         "Ignored a date-time answer of 7 bytes\n7:8:9 5/3/2021 v:0\r\nCMD OK\r\n"},
        {"empty calibration answer", [this] { return Json(client->requestCalibrationConfig(1)); },
         2, [this] { deliver(81); }, [this] { deliver(81, kConfigRecord); }, R"([{"200":"1000"}])",
         "\rRecords: 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        repeatOnceAfter(50, c.sendsPerAttempt);
        testing::internal::CaptureStdout();
        auto result = start(c.request);
        ASSERT_TRUE(fake.waitForSends(before + c.sendsPerAttempt));
        c.nonAnswer();
        ASSERT_TRUE(fake.waitForSends(before + 2 * c.sendsPerAttempt));
        c.answer();
        EXPECT_EQ(finish(result), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.trace);
        EXPECT_EQ(fake.sends()[before], fake.sends()[before + c.sendsPerAttempt]);
        fake.onSend = nullptr;
    }
}

// A reader that stayed plugged in but fell silent, or granted no credit, kept every request
// waiting for ever.
TEST_F(DeviceClientTest, ARequestGivesUpAfterThreeSilentRepeatPeriodsEvenWhileItsSendWaits) {
    attach();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const struct {
        const char* name;
        bool sendBlocks;
        size_t sends;  // the first attempt and its two repeats, or the one send that waits
    } cases[] = {{"silent reader", false, 3}, {"no credit", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        fake.onSend = [released, blocks = c.sendBlocks](size_t) {
            if (blocks) {
                released.wait();
            }
        };
        DeviceClient::setRequestRepeatMsForTest(50);
        testing::internal::CaptureStdout();
        auto result = start([this] {
            const QString value = client->requestSerialNumber();
            return std::make_pair(value.toStdString(), client->lastRequestOutcome());
        });
        EXPECT_EQ(finish(result),
                  std::make_pair(std::string(), DeviceClient::Outcome::notAnswering));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "The reader stopped answering\n");
        // Fewer when the machine is slow to send: a send not done by a repeat is not repeated.
        EXPECT_GE(fake.sends().size(), before + 1);
        EXPECT_LE(fake.sends().size(), before + c.sends);
    }
    // Once the waiting send is through, the next request is answered as usual.
    release.set_value();
    DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
    EXPECT_EQ(serve([this] { return client->requestSerialNumber().toStdString(); }, 1,
                    [this] { deliverText("S1\r\nFW\r\nCMD OK\r\n"); }),
              "S1");
    fake.onSend = nullptr;
}

TEST_F(DeviceClientTest, AReplyBelongsToTheOldestCommandStillUnanswered) {
    attach();
    // The reader ignores the first command and answers the second; its reply is taken as the
    // late one to the first, until a silent repeat period shows that no more are owed.
    DeviceClient::setGiveUpPeriodsForTest(1000);
    DeviceClient::setRequestRepeatMsForTest(50);
    fake.onSend = [this](size_t index) {
        if (index == 1) {
            deliverText("OLD\r\nFW 1\r\nCMD OK\r\n");
        } else if (index == 2) {
            DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
        }
    };
    auto result = start([this] { return client->requestSerialNumber(); });
    ASSERT_TRUE(fake.waitForSends(3));
    deliverText("NEW\r\nFW 1\r\nCMD OK\r\n");
    EXPECT_EQ(finish(result), "NEW");
    EXPECT_EQ(fake.sends(), std::vector<std::string>(3, "$sn?\r\n"));
}

TEST_F(DeviceClientTest, AnswersOfAnEarlierAttemptNeverMixIntoTheCurrentOne) {
    attach();
    serveSchema();
    const struct {
        const char* name;
        bool partBeforeRepeat;
    } cases[] = {{"whole earlier answer after the repeat", false},
                 {"earlier answer cut by the repeat", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        repeatOnceAfter(50, 2);
        auto result = start([this] { return Json(client->requestDatabaseRecords(6)); });
        ASSERT_TRUE(fake.waitForSends(before + 2));
        if (c.partBeforeRepeat) {
            deliver(49, WithTable(6, kRecord));
        }
        ASSERT_TRUE(fake.waitForSends(before + 4));
        // The first attempt's answer (or its rest), then the second attempt's.
        deliver(49, WithTable(6, kRecord));
        deliver(49);
        deliver(49, WithTable(6, kOtherRecord));
        deliver(49);
        EXPECT_EQ(finish(result), std::string("[") + kOtherRecordJson + "]");
        fake.onSend = nullptr;
    }
}

TEST_F(DeviceClientTest, AnAnswerStillArrivingIsNotCutShortByTheRepeat) {
    attach();
    serveSchema();
    DeviceClient::setRequestRepeatMsForTest(200);
    auto result = start([this] { return Json(client->requestDatabaseRecords(6)); });
    // Parts come for longer than one repeat period. A stall may still let a repeat through, so
    // every attempt is answered in full; a repeat blind to the progress would let none end.
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (size_t next = fake.sends().size() + 2;
         std::chrono::steady_clock::now() < deadline && fake.waitForSends(next);) {
        next = fake.sends().size() + 2;  // the sends of a repeat, should there be one
        for (int i = 0; i < 15 && fake.sends().size() + 2 == next; ++i) {
            deliver(49, WithTable(6, kRecord));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        deliver(49);
        if (result.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) {
            break;
        }
    }
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(finish(result))).array().size(),
              15);
}

}  // namespace
