// The reader's side of the link, driven packet by packet. The end-to-end tests trust it to be as
// strict as a reader with the host's packets, to resend only when a reader would, and to really
// spoil what its fault options say; a lenient or miscounting simulator would let them pass.
#include "tools/reader-sim/sim_link.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Stands in for the reader above the link: its outgoing stream is a plain byte buffer.
class FakeClient : public LinkClient {
public:
    void onLinkStart() override { ++starts; }
    void onMessageBytes(const uint8_t* bytes, uint32_t n) override {
        received.insert(received.end(), bytes, bytes + n);
    }
    std::string onTextBytes(const uint8_t*, uint32_t) override { return reply; }
    uint32_t takeStreamBytes(uint8_t* out, uint32_t max) override {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(max, stream.size() - taken));
        std::copy(stream.begin() + long(taken), stream.begin() + long(taken + n), out);
        taken += n;
        return n;
    }

    int starts = 0;
    std::vector<uint8_t> received, stream;
    size_t taken = 0;
    std::string reply;
};

using Bytes = std::vector<uint8_t>;

LinkPacket Command(uint8_t code, const std::string& payload = {}) {
    LinkPacket p;
    ATPBuildCommandPacket(p.bytes, code, reinterpret_cast<const uint8_t*>(payload.data()),
                          static_cast<uint32_t>(payload.size()));
    return p;
}

LinkPacket Status(uint8_t ack, uint8_t code = kATPStatusAck) {
    LinkPacket p;
    ATPBuildStatusPacket(p.bytes, kATPStatusOut, ack, 0, code);
    return p;
}

LinkPacket HostData(uint8_t seq, uint8_t ack, const Bytes& payload) {
    LinkPacket p;
    ATPBuildDataPacket(p.bytes, kATPDataOut, ack, seq, payload.data(),
                       static_cast<uint32_t>(payload.size()));
    return p;
}

Bytes Head(const LinkPacket& p, size_t n) {
    return Bytes(p.bytes, p.bytes + n);
}

class SimLinkTest : public ::testing::Test {
protected:
    // A link the host has started, with streamPackets full data packets waiting to go.
    void startLink(uint32_t window, size_t streamPackets) {
        options.window = window;
        client.stream.resize(streamPackets * kATPMaxDataPayload);
        link.reset(new SimLink(options, &client, &counters));
        link->receive(Command(kATPStartup2).bytes, 0);
        link->receive(Command(kATPIdentityAck).bytes, 0);
    }
    void receive(const LinkPacket& p, uint64_t now) { link->receive(p.bytes, now); }
    std::vector<LinkPacket> drain(uint64_t now) {
        std::vector<LinkPacket> out;
        LinkPacket p;
        while (link->nextPacket(now, &p)) {
            out.push_back(p);
        }
        return out;
    }
    // The sequence numbers of the data packets due at now.
    std::vector<int> dataSeqs(uint64_t now) {
        std::vector<int> seqs;
        for (const LinkPacket& p : drain(now)) {
            if (p.bytes[0] == kATPDataIn) {
                seqs.push_back(p.bytes[3]);
            }
        }
        return seqs;
    }

    LinkOptions options;
    FakeClient client;
    LinkCounters counters;
    std::unique_ptr<SimLink> link;
};

TEST_F(SimLinkTest, LinkStartSendsWindowThenIdentityRepeatedUntilAcknowledged) {
    options.identity = "READER";
    options.identityClass = 3;
    options.hostWindow = 5;
    link.reset(new SimLink(options, &client, &counters));
    // A ping before the link start earns no credit.
    receive(Command(kATPPing), 0);
    EXPECT_TRUE(drain(0).empty());

    receive(Command(kATPStartup1), 10);
    receive(Command(kATPStartup2), 10);
    EXPECT_EQ(client.starts, 1);
    auto sent = drain(10);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(Head(sent[0], 3), (Bytes{kATPWindowSize, 1, 5}));
    EXPECT_EQ(Head(sent[1], 9), (Bytes{kATPIdentity, 7, 'R', 'E', 'A', 'D', 'E', 'R', 3}));

    EXPECT_TRUE(drain(509).empty());
    sent = drain(510);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes[0], kATPIdentity);
    receive(Command(kATPIdentityAck), 600);
    EXPECT_TRUE(drain(5000).empty());
    EXPECT_EQ(link->nextDeadline(), SimLink::kNever);

    receive(Command(kATPPing), 5000);
    sent = drain(5000);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Head(sent[0], 3), (Bytes{kATPCredit, 1, 1}));
}

TEST_F(SimLinkTest, HostDataIsCheckedAcknowledgedAndCreditedUnlessLostOnTheWire) {
    options.loseHostPacket = 5;
    startLink(8, 0);
    drain(0);
    const struct {
        uint8_t seq;
        bool corrupt;
        uint8_t payloadByte;
        bool accepted;
        uint8_t ackAfter;  // 0: nothing comes back
    } cases[] = {
        {0, false, 0xA0, true, 1},  {0, false, 0xA1, false, 1},  // a repeat
        {2, false, 0xA2, false, 1},                              // a gap
        {1, true, 0xA3, false, 1},                               // a bad checksum
        {1, false, 0xA4, false, 0},                              // the fifth, lost
        {1, false, 0xA5, true, 2},
    };
    Bytes expected;
    for (const auto& c : cases) {
        LinkPacket p = HostData(c.seq, 0, {c.payloadByte, 0x55});
        p.bytes[kATPDataHeaderSize] ^= c.corrupt ? 0x10 : 0;
        receive(p, 1);
        if (c.accepted) {
            expected.insert(expected.end(), {c.payloadByte, 0x55});
        }
        const auto sent = drain(1);
        ASSERT_EQ(sent.size(), c.ackAfter == 0 ? 0u : 2u) << int(c.payloadByte);
        if (c.ackAfter != 0) {
            EXPECT_EQ(Head(sent[0], 6), (Bytes{kATPStatusIn, 4, c.ackAfter, 0, 0, kATPStatusAck}))
                << int(c.payloadByte);
            EXPECT_EQ(Head(sent[1], 3), (Bytes{kATPCredit, 1, 1}));
        }
    }
    EXPECT_EQ(client.received, expected);
    EXPECT_EQ(counters.hostDataLost, 1u);

    // Text costs the host a credit too; the reply goes out in packets of at most 62 bytes.
    client.reply = std::string(70, 'x');
    receive(Command(kATPTextOut, "$x?\r\n"), 2);
    const auto sent = drain(2);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bytes[0], kATPCredit);
    EXPECT_EQ(Head(sent[1], 2), (Bytes{kATPTextIn, 62}));
    EXPECT_EQ(Head(sent[2], 2), (Bytes{kATPTextIn, 8}));
}

TEST_F(SimLinkTest, UnacknowledgedPacketsGoAgainOldestFirstOnTheTimerOrARepeatedAck) {
    startLink(4, 20);
    EXPECT_EQ(dataSeqs(0), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(dataSeqs(5).empty()) << "window full";
    receive(Status(1), 10);
    EXPECT_EQ(dataSeqs(10), (std::vector<int>{4}));
    // The host's data packet carries 2, then its timer acknowledges 2: news, not a loss; nor is
    // a resend status.
    receive(HostData(0, 2, {7}), 20);
    EXPECT_EQ(dataSeqs(20), (std::vector<int>{5}));
    for (const LinkPacket& p : {Status(2), Status(2, kATPStatusResent)}) {
        receive(p, 25);
        EXPECT_TRUE(drain(25).empty());
    }
    EXPECT_EQ(link->inFlight(), 4u);

    // Heard again, 2 is a loss: the window goes again at once, once for a burst of repeats.
    receive(Status(2), 30);
    EXPECT_EQ(dataSeqs(30), (std::vector<int>{2, 3, 4, 5}));
    receive(Status(2), 35);
    EXPECT_TRUE(drain(35).empty());
    EXPECT_EQ(counters.fastResends, 1u);

    // Without progress the timer resends 300 ms on, with the acknowledgement of now.
    EXPECT_EQ(link->nextDeadline(), 330u);
    EXPECT_TRUE(drain(329).empty());
    const auto sent = drain(330);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(Head(sent[0], 4), (Bytes{kATPDataIn, sent[0].bytes[1], 1, 2}));
    EXPECT_EQ(counters.dataResent, 8u);

    // Progress makes room; a stale number behind the window acknowledges nothing; a reset
    // forgets the window and numbering starts again at 0.
    receive(Status(4), 340);
    EXPECT_EQ(dataSeqs(340), (std::vector<int>{6, 7}));
    receive(Status(3), 345);
    EXPECT_EQ(link->inFlight(), 4u);
    receive(Status(0, kATPStatusReset), 350);
    EXPECT_EQ(dataSeqs(350), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(SimLinkTest, FaultsSpoilOnlyTheSentCopy) {
    const struct {
        double drop, corrupt, duplicate;
        size_t sentPerPacket;
        bool checksumOk;
    } cases[] = {
        {1, 0, 0, 0, true},
        {0, 1, 0, 1, false},
        {0, 0, 1, 2, true},
    };
    for (const auto& c : cases) {
        options.dropP = c.drop;
        options.corruptP = c.corrupt;
        options.duplicateP = c.duplicate;
        counters = LinkCounters();
        client = FakeClient();
        startLink(2, 2);
        // First sends, then the resend of both: nothing was acknowledged.
        for (uint64_t now : {0u, 300u}) {
            size_t data = 0;
            for (const LinkPacket& p : drain(now)) {
                ATPDataPacketView view;
                data += p.bytes[0] == kATPDataIn;
                EXPECT_TRUE(p.bytes[0] != kATPDataIn || (ATPParseDataPacket(p.bytes, &view) ==
                                                         ATPParseResult::ok) == c.checksumOk);
            }
            EXPECT_EQ(data, 2 * c.sentPerPacket) << now;
        }
        EXPECT_EQ(counters.dataDropped, c.drop > 0 ? 4u : 0u);
        EXPECT_EQ(counters.dataCorrupted, c.corrupt > 0 ? 4u : 0u);
        EXPECT_EQ(counters.dataDuplicated, c.duplicate > 0 ? 4u : 0u);
    }
}

}  // namespace
