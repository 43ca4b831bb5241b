// The device client and its reader callbacks through the real AAP layer, with a stand-in
// transport, and its pure parts. Requests run on threads of their own; the reader answers on the
// sending thread right after a given send, so no answer races a repeat.
#include <gtest/gtest.h>
#include <time.h>

#include <QJsonDocument>
#include <atomic>
#include <future>
#include <map>
#include <thread>
#include <utility>

#include "protocol/schema.h"
#include "tests/client/fake_reader.h"
#include "tests/support/test_platform.h"

namespace {

// Month names follow the system locale; the expected texts are the C locale's.
const bool kCLocale = TestSetEnv("LC_ALL", "C");
using Outcome = RequestOutcome;
using Result = std::pair<std::string, Outcome>;
using Request = std::function<Result(DeviceClient&)>;
// What the reader sends right after the request's send number i (from 0).
using Script = std::map<size_t, std::vector<Event>>;

Result Value(const RequestResult<QString>& result) {
    return {result.value.toStdString(), result.outcome};
}
Result Value(const RequestResult<QJsonArray>& result) {
    return {QJsonDocument(result.value).toJson(QJsonDocument::Compact).toStdString(),
            result.outcome};
}
Request TextOf(RequestResult<QString> (DeviceClient::*request)()) {
    return [request](DeviceClient& c) { return Value((c.*request)()); };
}
Request OutcomeOf(RequestOutcome (DeviceClient::*request)()) {
    return [request](DeviceClient& c) { return Result("", (c.*request)()); };
}
Request Records(uint8_t table) {
    return [table](DeviceClient& c) { return Value(c.requestDatabaseRecords(table)); };
}
const Request kSerialNumber = TextOf(&DeviceClient::requestSerialNumber);
const Request kSchema = OutcomeOf(&DeviceClient::requestSchema);
const Request kDateTime = [](DeviceClient& c) {
    const auto clock = c.requestDateTime();
    return Result(clock.value.text.toStdString(), clock.outcome);
};
const Request kCalibration = [](DeviceClient& c) { return Value(c.requestCalibrationConfig(1)); };
const std::string kClockText = "05 Mar 2021 07:08:09";

class DeviceClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kCLocale);
        // Direct: the reader's removal may come from the sending thread.
        QObject::connect(
            client, &DeviceClient::onConnected, &counter, [this] { ++connects; },
            Qt::DirectConnection);
        QObject::connect(
            client, &DeviceClient::onDisconnected, &counter, [this] { ++disconnects; },
            Qt::DirectConnection);
    }

    // Runs request on a thread of its own, the fake's hook as it stands.
    Result call(const Request& request) {
        auto result = std::async(std::launch::async, [this, request] { return request(*client); });
        if (result.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "the request did not return";
            fake.deliver({Removal()});
        }
        return result.get();
    }
    // As call, the reader following script; returns once the reader has done so.
    Result run(const Request& request, const Script& script = {}) {
        const size_t base = fake.sends().size();
        fake.setHook([this, base, script](size_t index, const std::string&) {
            const auto at = script.find(index - base);
            if (at != script.end()) {
                fake.deliver(at->second);
            }
        });
        const Result result = call(request);
        EXPECT_TRUE(fake.settle());
        return result;
    }
    std::string serve(const Request& request, const Script& script) {
        const Result result = run(request, script);
        EXPECT_EQ(result.second, Outcome::answered);
        return result.first;
    }
    // The reader plugged in, its schema served.
    void attachWithSchema() {
        fake.attach();
        serve(kSchema, {{1, {Msg(52, kHeaderTable), Msg(52, kBodyTable), Msg(52)}}});
    }

    FakeReader fake;
    DeviceClient* const client = DeviceClient::instance();
    QObject counter;  // the counting connections end with it, before the fake removes the reader
    std::atomic<int> connects{0};
    std::atomic<int> disconnects{0};
};

TEST_F(DeviceClientTest, EveryRequestReturnsEmptyWithoutReaderAndWhenTheReaderIsRemoved) {
    const struct {
        const char* name;
        Request request;
        std::vector<std::string> sends;  // one attempt
    } cases[] = {
        {"serial number", kSerialNumber, {"$sn?\r\n"}},
        {"subject name", TextOf(&DeviceClient::requestSubjectName), {"$ptname?\r\n"}},
        {"date-time", kDateTime, {Encoded(65), Encoded(125)}},
    };
    int removals = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        EXPECT_EQ(run(c.request), Result("", Outcome::noReader));
        EXPECT_EQ(fake.sends().size(), before) << "sent with no reader";

        fake.attach();
        EXPECT_EQ(run(c.request, {{c.sends.size() - 1, {Removal()}}}),
                  Result("", Outcome::noReader));
        const std::vector<std::string> sends = fake.sentBytes();
        EXPECT_EQ(std::vector<std::string>(sends.begin() + before, sends.end()), c.sends);
        EXPECT_EQ(connects.load(), ++removals);
        EXPECT_EQ(disconnects.load(), removals);
    }
}

// A reply with a NUL used to pass as the text before it.
TEST_F(DeviceClientTest, AReplyNotReceivedWholeEndsItsRequestAsUnreadable) {
    fake.attach();
    EXPECT_EQ(run(kSerialNumber, {{0, {Text(std::string("S\0N\r\nFW\r\nCMD OK\r\n", 17))}}}),
              Result("", Outcome::unreadableReply));
}

TEST_F(DeviceClientTest, ARequestOnTheEventThreadReturnsAtOnce) {
    fake.attach();                                // this thread now plays the event thread
    DeviceClient::setRequestRepeatMsForTest(50);  // should it wait, it gives up soon
    EXPECT_EQ(kSerialNumber(*client), Result("", Outcome::noReader));
    EXPECT_TRUE(fake.sends().empty());
}

TEST_F(DeviceClientTest, RecordsComeBackInArrivalOrderDecodedAgainstTheSchema) {
    fake.attach();
    // Before any schema, record answers are dropped and the request keeps repeating.
    DeviceClient::setGiveUpPeriodsForTest(1000);
    DeviceClient::setRequestRepeatMsForTest(50);
    EXPECT_EQ(run(Records(6), {{1, RecordsAnswer(6, 1)}, {3, {Removal()}}}),
              Result("[]", Outcome::noReader));
    EXPECT_FALSE(client->hasResults());
    DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);

    EXPECT_FALSE(client->hasSchema());
    attachWithSchema();
    EXPECT_TRUE(client->hasSchema());
    EXPECT_EQ(serve(Records(6), {{1, {Msg(49, Record(6, 9)), Msg(49, Record(6, 7)), Msg(49)}}}),
              "[" + RecordJson(9) + "," + RecordJson(7) + "]");
    EXPECT_TRUE(client->hasResults());

    // The flags outlive the reader.
    fake.deliver({Removal()});
    fake.attach();
    EXPECT_TRUE(client->hasSchema());
    EXPECT_TRUE(client->hasResults());
}

// Each attempt gets one repeat period of silence before the request sends again.
TEST_F(DeviceClientTest, AnAttemptLeftWithoutItsOwnAnswerIsRepeatedUntilAnswered) {
    attachWithSchema();
    serve(OutcomeOf(&DeviceClient::requestConfigurationSchema),
          {{1, {Msg(84, kConfigTable), Msg(84)}}});
    serve(Records(7), {{1, {Msg(49)}}});  // calibration completes only after a records answer
    DeviceClient::setGiveUpPeriodsForTest(1000);
    DeviceClient::setRequestRepeatMsForTest(50);
    const Event record0 = Msg(49, Record(6, 0));
    const std::vector<Event> rest = {Msg(49, Record(6, 1)), Msg(49)};
    const std::string both = "[" + RecordJson(0) + "," + RecordJson(1) + "]";
    const struct {
        const char* name;
        Request request;
        Script script;
        std::string result;  // after two attempts
    } cases[] = {
        {"AAP_Error", kDateTime, {{1, {Msg(126)}}, {3, {Msg(65, kClock)}}}, kClockText},
        {"short date-time answer",
         kDateTime,
         {{1, {Msg(65, Bytes(kClock.begin(), kClock.end() - 1))}}, {3, {Msg(65, kClock)}}},
         kClockText},
        {"empty calibration answer",
         kCalibration,
         {{1, {Msg(81)}}, {3, {Msg(81, kConfigRecord)}}},
         R"([{"200":"1000"}])"},
        // A reader that paused past a repeat: the late answer to the first attempt is the
        // answer, and one that was arriving is kept whole; the repeat's own answer is not mixed in.
        {"late reply", kSerialNumber, {{1, {Text("S1\r\nFW 1\r\nCMD OK\r\n")}}}, "S1"},
        {"answer begun after the repeat",
         Records(6),
         {{3, {record0, rest[0], rest[1], Msg(49, Record(6, 9)), Msg(49)}}},
         both},
        {"answer paused across the repeat", Records(6), {{1, {record0}}, {3, rest}}, both},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.sends().size();
        EXPECT_EQ(serve(c.request, c.script), c.result);
        const std::vector<std::string> sends = fake.sentBytes();
        ASSERT_GT(sends.size(), before + 1);
        const size_t perAttempt = sends[before + 1] == Encoded(125) ? 2 : 1;
        ASSERT_EQ(sends.size(), before + 2 * perAttempt);
        for (size_t i = before + perAttempt; i < sends.size(); ++i) {
            EXPECT_EQ(sends[i], sends[i - perAttempt]) << "a repeat sent something else";
        }
    }
}

// A silent reader, or one granting no credit, used to keep every request waiting for ever.
TEST_F(DeviceClientTest, ARequestGivesUpAfterThreeSilentRepeatPeriodsEvenWhileItsSendWaits) {
    fake.attach();
    DeviceClient::setRequestRepeatMsForTest(50);
    size_t before = fake.sends().size();
    EXPECT_EQ(run(kSerialNumber), Result("", Outcome::notAnswering));
    // Fewer when the machine is slow to send: a send not done by a repeat is not repeated.
    EXPECT_TRUE(fake.waitForSends(before + 1));
    EXPECT_LE(fake.sends().size(), before + 3);

    // No credit: the send waits. Answers and the removal still flow, and end the request.
    DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    fake.setHook([released](size_t, const std::string&) { released.wait(); });
    before = fake.sends().size();
    auto waiting = std::async(std::launch::async, [this] { return call(kSerialNumber); });
    ASSERT_TRUE(fake.waitForSends(before + 1));
    auto events = std::async(std::launch::async, [this] {
        fake.deliver({Msg(52, kHeaderTable), Msg(65, kClock), Removal()});
    });
    EXPECT_EQ(events.wait_for(kPatience), std::future_status::ready)
        << "the event thread waited for the blocked send";
    EXPECT_EQ(waiting.get(), Result("", Outcome::noReader));
    // A request whose send queues behind the waiting one gives up all the same.
    fake.attach();
    DeviceClient::setRequestRepeatMsForTest(50);
    EXPECT_EQ(call(kSerialNumber), Result("", Outcome::notAnswering));
    EXPECT_EQ(fake.sends().size(), before + 1);
    release.set_value();
    DeviceClient::setRequestRepeatMsForTest(kNeverRepeatMs);
    // Once the waiting send and the one behind it are through, the next request is answered.
    ASSERT_TRUE(fake.waitForSends(before + 2));
    ASSERT_TRUE(fake.settle());
    EXPECT_EQ(serve(kSerialNumber, {{0, {Text("S1\r\nFW\r\nCMD OK\r\n")}}}), "S1");
}

// Answers the reader still owes to an earlier request's repeats come first: not silence.
TEST_F(DeviceClientTest, AnAnswerOwedToAnEarlierRepeatKeepsTheNextRequestFromGivingUp) {
    attachWithSchema();
    DeviceClient::setRequestRepeatMsForTest(300);
    DeviceClient::setGiveUpPeriodsForTest(2);
    EXPECT_EQ(serve(Records(6), {{3, RecordsAnswer(6, 1)}}), "[" + RecordJson(0) + "]");
    const Event owed = Msg(49, Record(6, 0));
    EXPECT_EQ(serve(kDateTime, {{1, {owed}}, {3, {owed}}, {5, {Msg(49), Msg(65, kClock)}}}),
              kClockText);
}

TEST_F(DeviceClientTest, AnAnswerStillArrivingIsNotCutShortByTheRepeat) {
    attachWithSchema();
    fake.setHook(nullptr);
    DeviceClient::setRequestRepeatMsForTest(200);
    size_t next = fake.sends().size() + 2;
    auto result = std::async(std::launch::async, [this] { return call(Records(6)); });
    // Parts come for longer than one repeat period. A stall may still let a repeat through, so
    // every attempt is answered in full; a repeat blind to the progress would let none end.
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline && fake.waitForSends(next)) {
        next = fake.sends().size() + 2;  // the sends of a repeat, should there be one
        for (int i = 0; i < 15 && fake.sends().size() + 2 == next; ++i) {
            fake.deliver({Msg(49, Record(6, 0))});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        fake.deliver({Msg(49)});
        if (result.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) {
            break;
        }
    }
    const Result records = result.get();
    EXPECT_EQ(records.second, Outcome::answered);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(records.first)).array().size(), 15);
}

// A request could not be stopped; the rest of its answer would then have become the next one's.
TEST_F(DeviceClientTest, ACancelEndsTheRequestAtOnceAndDropsTheRestOfItsAnswer) {
    attachWithSchema();
    EXPECT_EQ(run(Records(6), {{1, {Msg(49, Record(6, 5)), Cancel()}}}),
              Result("[]", Outcome::cancelled));
    const size_t sent = fake.sends().size();
    EXPECT_EQ(call(Records(6)), Result("[]", Outcome::cancelled));  // and the next, unsent
    EXPECT_EQ(fake.sends().size(), sent);
    client->resumeRequests();
    EXPECT_EQ(
        serve(Records(6), {{1, {Msg(49, Record(6, 6)), Msg(49), Msg(49, Record(6, 0)), Msg(49)}}}),
        "[" + RecordJson(0) + "]");
}

// The download's end-to-end test covers types 0 to 4, 10 and 11 with ASCII text.
TEST(DeviceClientJson, UnknownTypesAreLeftOutTextIsUtf8AndType11Unsigned) {
    DecodedRecord record;
    record.entries = {{11, {11, 11, 0x80000000, ""}},
                      {92, {92, 3, 0, "\xc3\xa9t\xc3\xa9"}},
                      {107, {107, 7, 3, ""}},
                      {108, {108, 255, 3, ""}}};
    // A record without members stays.
    const QJsonArray array = DeviceClient::buildJsonArray({record, DecodedRecord()});
    EXPECT_EQ(QJsonDocument(array).toJson(QJsonDocument::Compact),
              "[{\"11\":\"2147483648\",\"92\":\"\xc3\xa9t\xc3\xa9\"},{}]");
}

TEST(DeviceClientTextReply, ValueIsTheFirstOfExactlyFourPartsWithOkInTheThird) {
    const struct {
        const char* reply;
        const char* value;
    } cases[] = {
        {"X\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\nCMD Fail!\r\n", ""},
        {"\r\nY\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\nZ\r\nCMD OK\r\n", ""},
        {"X\r\nY\r\ncmd ok\r\n", ""},  // case-sensitive
        {"X\r\nY\r\nCMD OK", ""},      // three parts
        {"A B\r\n\r\nOK\r\n", "A B"},  // an empty second line is still a part
        {"\xe9t\xe9\r\nY\r\nCMD OK\r\n", "\xc3\xa9t\xc3\xa9"},  // Latin-1 in, text out
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceClient::textReplyValue(c.reply).toStdString(), c.value) << c.reply;
    }
}

// A clock in the workstation's daylight-saving gap, or no date at all, used to show as nothing.
TEST(DeviceClientClock, ShowsTheReadersWallClockFieldsWhateverTheLocalZone) {
    TestSetEnv("TZ", "Europe/Berlin");
    tzset();
    const struct {
        uint8_t fields[7];  // second, minute, hour, day, month, year low, year high
        const char* text;
    } cases[] = {
        {{0, 30, 2, 28, 3, 0xE5, 0x07}, "28 Mar 2021 02:30:00"},  // gap in Berlin
        {{0, 0, 0, 31, 2, 0xE5, 0x07}, "2021-02-31 00:00:00"},
        {{61, 0, 25, 0, 13, 0, 0}, "0000-13-00 25:00:61"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceClient::readerClockText(c.fields).toStdString(), c.text);
    }
    TestUnsetEnv("TZ");
    tzset();
}

}  // namespace
