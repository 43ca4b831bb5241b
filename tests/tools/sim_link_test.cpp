// The reader's side of the link, driven packet by packet. The end-to-end tests trust it to be as
// strict as a reader with the host's packets and to resend only when a reader would; a lenient
// simulator would let them pass. That its faults really happen they check themselves.
#include "tools/reader-sim/sim_link.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Stands in for the reader above the link: it keeps what arrives and sends streamLeft bytes.
class FakeClient : public LinkClient {
public:
    void onLinkStart() override {}
    void onMessageBytes(const uint8_t* bytes, uint32_t n) override {
        received.insert(received.end(), bytes, bytes + n);
    }
    std::string onTextBytes(const uint8_t*, uint32_t) override { return {}; }
    uint32_t takeStreamBytes(uint8_t* out, uint32_t max) override {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(max, streamLeft));
        std::fill_n(out, n, 0x5A);
        streamLeft -= n;
        return n;
    }

    std::vector<uint8_t> received;
    size_t streamLeft = 0;
};

using Bytes = std::vector<uint8_t>;

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
    // A link the host has started, with streamPackets full data packets waiting to go. Its
    // first packet grants the host its credit, which the end-to-end tests make scarce.
    void startLink(uint32_t window, size_t streamPackets) {
        options.window = window;
        options.hostWindow = 1;
        client = FakeClient();
        client.streamLeft = streamPackets * kATPMaxDataPayload;
        counters = LinkCounters();
        link.reset(new SimLink(options, &client, &counters));
        LinkPacket p, identity;
        ATPBuildCommandPacket(p.bytes, kATPStartup2, nullptr, 0);
        receive(p, 0);
        ASSERT_TRUE(link->nextPacket(0, &p) && link->nextPacket(0, &identity));
        EXPECT_EQ(Head(p, 3), (Bytes{kATPWindowSize, 1, 1}));
        EXPECT_EQ(identity.bytes[0], kATPIdentity);
        ATPBuildCommandPacket(p.bytes, kATPIdentityAck, nullptr, 0);
        receive(p, 0);
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

TEST_F(SimLinkTest, HostDataIsCheckedAcknowledgedAndCreditedUnlessLost) {
    options.loseHostPacket = 5;
    startLink(8, 0);
    const struct {
        uint8_t seq;
        bool corrupt;
        uint8_t ack;  // the number acknowledged in return; 0: nothing comes back
    } cases[] = {
        {0, false, 1}, {0, false, 1},  // the second a repeat
        {2, false, 1},                 // a gap
        {1, true, 1},                  // a bad checksum
        {1, false, 0},                 // the fifth, lost on the wire
        {1, false, 2},
    };
    uint8_t payload = 0xA0;
    for (const auto& c : cases) {
        LinkPacket p = HostData(c.seq, 0, {payload++, 0x55});
        p.bytes[kATPDataHeaderSize] ^= c.corrupt ? 0x10 : 0;
        receive(p, 1);
        const auto sent = drain(1);
        ASSERT_EQ(sent.size(), c.ack == 0 ? 0u : 2u) << int(p.bytes[kATPDataHeaderSize]);
        if (c.ack != 0) {
            EXPECT_EQ(Head(sent[0], 6), (Bytes{kATPStatusIn, 4, c.ack, 0, 0, kATPStatusAck}));
            EXPECT_EQ(Head(sent[1], 3), (Bytes{kATPCredit, 1, 1}));
        }
    }
    EXPECT_EQ(client.received, (Bytes{0xA0, 0x55, 0xA5, 0x55}));
    EXPECT_EQ(counters.hostDataLost, 1u);
}

TEST_F(SimLinkTest, UnacknowledgedPacketsGoAgainOldestFirstOnTheTimerOrARepeatedAck) {
    startLink(4, 20);
    EXPECT_EQ(dataSeqs(0), (std::vector<int>{0, 1, 2, 3}));
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

    // Heard again, 2 is a loss: the window goes again at once, once for a burst of repeats.
    receive(Status(2), 30);
    EXPECT_EQ(dataSeqs(30), (std::vector<int>{2, 3, 4, 5}));
    receive(Status(2), 35);
    EXPECT_TRUE(drain(35).empty());
    EXPECT_EQ(counters.fastResends, 1u);

    // Without progress the timer resends 300 ms on, with the acknowledgement of now.
    EXPECT_TRUE(drain(329).empty());
    const auto sent = drain(330);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(Head(sent[0], 4), (Bytes{kATPDataIn, sent[0].bytes[1], 1, 2}));
}

}  // namespace
