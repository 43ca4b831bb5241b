#include "protocol/aap_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol_test_support.h"
#include "tests/hid/temp_dir.h"
#include "tests/support/null_transport.h"
#include "transport/mal_trans_atp.h"

namespace {

// Serves queued bytes to the layer's reads and records its writes.
class FakeTransport final : public NullTransport {
public:
    struct Write {
        uint32_t deviceId;
        Bytes bytes;
        bool text;
    };
    std::vector<Write> writes;
    std::vector<uint32_t> readIds;
    Bytes pending;  // served to whichever read comes
    int32_t readMsgResult = 0;

    int32_t writeText(uint32_t id, const uint8_t* text, uint32_t length) override {
        writes.push_back({id, Bytes(text, text + length), true});
        return int32_t(length);
    }
    int32_t writeMsg(uint32_t id, uint32_t, const uint8_t* bytes, uint32_t length) override {
        writes.push_back({id, Bytes(bytes, bytes + length), false});
        return 0;
    }
    int32_t readText(uint32_t id, uint8_t* buffer, uint32_t size) override {
        return int32_t(take(id, buffer, size));
    }
    int32_t readMsg(uint32_t id, uint32_t, uint8_t* buffer, uint32_t* size) override {
        *size = readMsgResult ? 0 : take(id, buffer, *size);
        return readMsgResult;
    }

private:
    uint32_t take(uint32_t id, uint8_t* buffer, uint32_t size) {
        readIds.push_back(id);
        const uint32_t n = std::min<uint32_t>(size, uint32_t(pending.size()));
        std::copy_n(pending.begin(), n, buffer);
        pending.erase(pending.begin(), pending.begin() + n);
        return n;
    }
};

// What the callbacks saw; the context pointer leads back here.
struct Seen {
    int attaches = 0;
    int removes = 0;
    std::vector<std::string> replies;
    std::vector<std::pair<uint16_t, Bytes>> messages;
};
Seen& Of(void* context) {
    return *static_cast<Seen*>(context);
}

class AAPLayer : public ::testing::Test {
protected:
    void SetUp() override {
        AAPResetForTest();
        AAPSetTransportForTest(&transport);
        AAPInit([](void* c) { ++Of(c).attaches; }, [](void* c) { ++Of(c).removes; },
                [](const char* text, void* c) { Of(c).replies.push_back(text); },
                [](const AAPMessage* m, void* c) {
                    Of(c).messages.emplace_back(m->type(), m->payload());
                },
                nullptr, &seen);
    }
    void TearDown() override {
        AAPSetTransportForTest(nullptr);
        AAPResetForTest();
    }
    void deliverMsg(const Bytes& bytes, uint32_t deviceId = 3) {
        transport.pending = bytes;
        AAPOnTransportEvent(deviceId, kXportMsgData, uint32_t(bytes.size()), 0);
    }
    void deliverText(const std::string& text) {
        transport.pending = TextBytes(text);
        AAPOnTransportEvent(3, kXportTextData, uint32_t(text.size()), 0);
    }

    FakeTransport transport;
    Seen seen;
};

TEST_F(AAPLayer, AdoptsTheFirstReaderUntilItIsRemoved) {
    struct Step {
        uint32_t deviceId, event, adopted;
        int attaches, removes;
    };
    const Step steps[] = {
        {3, kXportRemove, kAAPNoDevice, 0, 0},  // nothing adopted yet
        {kAAPNoDevice, kXportAttach, kAAPNoDevice, 0, 0},
        {3, kXportAttach, 3, 1, 0},
        {5, kXportAttach, 3, 1, 0},  // a second reader changes nothing
        {5, kXportRemove, 3, 1, 0},
        {3, 99, 3, 1, 0},
        {3, kXportRemove, kAAPNoDevice, 1, 1},
        {3, kXportRemove, kAAPNoDevice, 1, 1},
        {5, kXportAttach, 5, 2, 1},  // adopted afresh
    };
    for (const Step& s : steps) {
        EXPECT_EQ(AAPOnTransportEvent(s.deviceId, s.event, 0, 0), 0);
        EXPECT_EQ(AAPAdoptedDeviceId(), s.adopted) << s.deviceId << " event " << s.event;
        EXPECT_EQ(seen.attaches, s.attaches);
        EXPECT_EQ(seen.removes, s.removes);
    }
}

TEST_F(AAPLayer, SendsGoOnlyToTheAdoptedReader) {
    const uint8_t table = 6;
    AAPSendMessage(AAPMessage(49, &table, 1));
    AAPSendText("$sn?\r\n");
    EXPECT_TRUE(transport.writes.empty());

    AAPOnTransportEvent(7, kXportAttach, 0, 0);
    AAPSendMessage(AAPMessage(49, &table, 1));
    AAPSendText("$sn?\r\n");
    AAPSendText(nullptr);
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_EQ(transport.writes[0].deviceId, 7u);
    EXPECT_EQ(transport.writes[0].bytes, (Bytes{0x81, 0x31, 0x06}));
    EXPECT_FALSE(transport.writes[0].text);
    EXPECT_EQ(transport.writes[1].bytes, TextBytes("$sn?\r\n"));  // without the NUL
    EXPECT_TRUE(transport.writes[1].text);
}

TEST_F(AAPLayer, MessagesAreReassembledAcrossEvents) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    const Bytes third = {0x83, 0x31, 0x01, 0x02, 0x03};
    // Data events carrying another id are still read from the adopted reader.
    deliverMsg(Concat({{0x34}, {0x81, 0x54, 0x09}, Bytes(third.begin(), third.begin() + 3)}), 8);
    ASSERT_EQ(seen.messages.size(), 2u);
    EXPECT_EQ(seen.messages[0], (std::pair<uint16_t, Bytes>{52, {}}));
    EXPECT_EQ(seen.messages[1], (std::pair<uint16_t, Bytes>{84, {0x09}}));
    EXPECT_EQ(transport.readIds, std::vector<uint32_t>{3});

    deliverMsg(Bytes(third.begin() + 3, third.end()));
    ASSERT_EQ(seen.messages.size(), 3u);
    EXPECT_EQ(seen.messages[2], (std::pair<uint16_t, Bytes>{49, {1, 2, 3}}));
}

// A reader unplugged in the middle of an answer must not garble the next reader's first one.
TEST_F(AAPLayer, NewReaderStartsWithoutTheCutOffMessageOrReply) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    deliverMsg({0x83, 0x31, 0x01});
    deliverText("SN1\r\nfirm");
    AAPOnTransportEvent(3, kXportRemove, 0, 0);
    AAPOnTransportEvent(4, kXportAttach, 0, 0);
    deliverMsg({0x81, 0x31, 0x07});
    deliverText("SN2\r\nfirm\r\nCMD OK\r\n");
    ASSERT_EQ(seen.messages.size(), 1u);
    EXPECT_EQ(seen.messages[0], (std::pair<uint16_t, Bytes>{49, {7}}));
    ASSERT_EQ(seen.replies.size(), 1u);
    EXPECT_EQ(seen.replies[0], "SN2\r\nfirm\r\nCMD OK\r\n");
}

TEST_F(AAPLayer, BadLengthsAndReadErrorsAreLoggedAndSkipped) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    const LogSince log;
    deliverMsg({0x81, 0x80, 0x80, 0x81, 0x41});
    EXPECT_EQ(log.count("kAAPMaxMsgLength exceeded (2097153 2097152)\n"), 1);
    ASSERT_EQ(seen.messages.size(), 1u);  // the byte after the bad length starts afresh
    EXPECT_EQ(seen.messages[0].first, 65);

    transport.readMsgResult = -3;
    deliverMsg({0x34});
    EXPECT_EQ(log.count("xport readMsg error -3\n"), 1);
    EXPECT_EQ(seen.messages.size(), 1u);
}

TEST_F(AAPLayer, TextRepliesSplitOverEventsAreReportedOnceWhole) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    const std::vector<std::vector<std::string>> replies = {
        {"X\r\nY\r\nCMD OK\r\n"},
        {"X\r\nY\r", "\nCM", "D O", "K\r", "\n"},
        {"X\r\nCMD Fail!", "\r\n"},
        {"X\r\nY\r\nCMD OK\r\nafter"},  // the rest of the event goes with it, then is gone
    };
    for (const auto& parts : replies) {
        seen.replies.clear();
        std::string whole;
        for (const std::string& part : parts) {
            EXPECT_TRUE(seen.replies.empty()) << whole;
            deliverText(part);
            whole += part;
        }
        EXPECT_EQ(seen.replies, std::vector<std::string>{whole});
    }
}

TEST_F(AAPLayer, TextBeyondTheLimitIsDroppedNotGathered) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    const LogSince log;
    const std::string chunk(4096, 'a');
    for (uint32_t sent = 0; sent <= kAAPTextReplyLimit; sent += uint32_t(chunk.size())) {
        deliverText(chunk);
    }
    EXPECT_EQ(log.count("AAPOnTransportEvent: text reply beyond 65536 bytes, dropping it\n"), 1);
    for (int i = 0; i < 64; ++i) {
        deliverText(chunk);
    }
    deliverText("tail\r\nCMD O");
    deliverText("K\r\n");
    EXPECT_TRUE(seen.replies.empty());
    EXPECT_EQ(log.count("AAPOnTransportEvent: dropped a text reply of"), 1);

    deliverText("SN1\r\nY\r\nCMD OK\r\n");
    EXPECT_EQ(seen.replies, std::vector<std::string>{"SN1\r\nY\r\nCMD OK\r\n"});
}

TEST(AAPInit, CreatesAndOpensTheTransportOnce) {
    // An empty socket folder stands in for the machine's HID devices.
    const TempDir folder;
    ASSERT_FALSE(folder.path().empty());
    TestSetEnv("LUMORA_HID_SOCKET_DIR", folder.path().c_str());
    AAPResetForTest();
    Seen seen;
    AAPInit([](void* c) { ++Of(c).attaches; }, nullptr, nullptr, nullptr, nullptr, &seen);
    MALTransATP* const first = theTransport;
    ASSERT_NE(first, nullptr);
    AAPInit([](void* c) { Of(c).attaches += 100; }, nullptr, nullptr, nullptr, nullptr, &seen);
    EXPECT_EQ(theTransport, first);
    // The transport reports through the layer's handler, now to the second callbacks only.
    first->OnDeviceAttach(1);
    EXPECT_EQ(seen.attaches, 100);
    EXPECT_EQ(AAPAdoptedDeviceId(), 1u);
    theTransport = nullptr;
    delete first;
    AAPResetForTest();
}

}  // namespace
