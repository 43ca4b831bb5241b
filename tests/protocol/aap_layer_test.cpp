#include "protocol/aap_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol_test_support.h"
#include "tests/support/recording_transport.h"

namespace {

// A reply that could not be received whole, as the callbacks saw it.
const char kLost[] = "(lost)";

// What the callbacks saw; the context pointer leads back here.
struct Seen {
    int attaches = 0;
    int removes = 0;
    std::vector<std::string> replies;
    Messages messages;
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
                [](const char* text, void* c) { Of(c).replies.push_back(text ? text : kLost); },
                [](const AAPMessage* m, void* c) {
                    Of(c).messages.emplace_back(m->type(), m->payload());
                },
                nullptr, &seen);
    }
    void TearDown() override {
        AAPSetTransportForTest(nullptr);
        AAPResetForTest();
    }
    void deliverMsg(const std::string& bytes, uint32_t deviceId = 3) {
        transport.deliver(deviceId, kXportMsgData, bytes);
    }
    void deliverText(const std::string& text) { transport.deliver(3, kXportTextData, text); }

    RecordingTransport transport;
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
    EXPECT_TRUE(transport.sends().empty());

    AAPOnTransportEvent(7, kXportAttach, 0, 0);
    AAPSendMessage(AAPMessage(49, &table, 1));
    AAPSendText("$sn?\r\n");
    AAPSendText(nullptr);
    const std::vector<RecordingTransport::Send> sends = transport.sends();
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].deviceId, 7u);
    EXPECT_EQ(sends[0].bytes, "\x81\x31\x06");
    EXPECT_FALSE(sends[0].text);
    EXPECT_EQ(sends[1].bytes, "$sn?\r\n");  // without the NUL
    EXPECT_TRUE(sends[1].text);
}

// Data events carrying another id are still read from the adopted reader. A length one over the
// limit is skipped, the byte after it starting afresh; so is an event that cannot be read.
TEST_F(AAPLayer, MessagesAreReassembledAcrossEventsAndBadOnesSkipped) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    deliverMsg("\x34\x81\x54\x09\x81\x80\x80\x81\x41\x83\x31\x01", 8);
    deliverMsg("\x02\x03");
    const Messages expected = {{52, {}}, {84, {0x09}}, {0x41, {}}, {49, {1, 2, 3}}};
    EXPECT_EQ(seen.messages, expected);
    EXPECT_EQ(transport.readIds, (std::vector<uint32_t>{3, 3}));

    transport.readMsgResult = kXportNoReader;
    deliverMsg("\x34");
    EXPECT_EQ(seen.messages, expected);
}

// A reader unplugged in the middle of an answer must not garble the next reader's first one.
TEST_F(AAPLayer, NewReaderStartsWithoutTheCutOffMessageOrReply) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    deliverMsg("\x83\x31\x01");
    deliverText("SN1\r\nfirm");
    AAPOnTransportEvent(3, kXportRemove, 0, 0);
    AAPOnTransportEvent(4, kXportAttach, 0, 0);
    deliverMsg("\x81\x31\x07");
    deliverText("SN2\r\nfirm\r\nCMD OK\r\n");
    EXPECT_EQ(seen.messages, (Messages{{49, {7}}}));
    EXPECT_EQ(seen.replies, std::vector<std::string>{"SN2\r\nfirm\r\nCMD OK\r\n"});
}

// A reply ends at its status line, which may be split across events at any byte: also while a
// reply over the size limit is being dropped, when only a short tail of it is kept.
TEST_F(AAPLayer, StatusLineSplitAtAnyByteEndsTheReply) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    const std::string next = "SN2\r\nCMD OK\r\n";
    for (const std::string status : {"CMD OK\r\n", "CMD Fail!\r\n"}) {
        for (size_t split = 1; split < status.size(); ++split) {
            for (const bool overLimit : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << "split after " << split << " of " << status.size()
                             << (overLimit ? ", over the limit" : ""));
                seen.replies.clear();
                const std::string head = overLimit ? std::string(kAAPTextReplyLimit + 1, 'a') : "";
                for (size_t at = 0; at < head.size(); at += 4096) {
                    deliverText(head.substr(at, 4096));
                }
                deliverText("X\r\n" + status.substr(0, split));
                EXPECT_TRUE(seen.replies.empty());
                // The rest of the event goes with the reply, then is gone.
                deliverText(status.substr(split) + "rest");
                deliverText(next);
                EXPECT_EQ(seen.replies, (std::vector<std::string>{
                                            overLimit ? kLost : "X\r\n" + status + "rest", next}));
            }
        }
    }
}

// A reply with a NUL reached the client cut at it, and one whose text the transport lost went on
// with a hole in it.
TEST_F(AAPLayer, AReplyNotReceivedWholeIsHandedOnAsLost) {
    AAPOnTransportEvent(3, kXportAttach, 0, 0);
    deliverText(std::string("S\0N\r\nCMD OK\r\n", 13));
    transport.deliver(3, kXportTextData, "SN-", kXportTextLost);
    EXPECT_EQ(seen.replies.size(), 2u) << "said at the loss: the reply's end may be lost too";
    deliverText("tail\r\nCMD OK\r\n");
    deliverText("SN2\r\nCMD OK\r\n");
    EXPECT_EQ(seen.replies, (std::vector<std::string>{kLost, kLost, "SN2\r\nCMD OK\r\n"}));
}

}  // namespace
