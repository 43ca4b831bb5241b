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
        if (n != 0) {
            std::memcpy(out, stream.data() + taken, n);
        }
        taken += n;
        return n;
    }

    int starts = 0;
    std::vector<uint8_t> received;
    std::vector<uint8_t> stream;
    size_t taken = 0;
    std::string reply;
};

struct Packet {
    uint8_t bytes[kATPPacketSize];
};

Packet Command(uint8_t code, const std::string& payload = {}) {
    Packet p;
    ATPBuildCommandPacket(p.bytes, code, reinterpret_cast<const uint8_t*>(payload.data()),
                          static_cast<uint32_t>(payload.size()));
    return p;
}

Packet Status(uint8_t ack, uint8_t code) {
    Packet p;
    ATPBuildStatusPacket(p.bytes, kATPStatusOut, ack, 0, code);
    return p;
}

Packet HostData(uint8_t seq, uint8_t ack, const std::vector<uint8_t>& payload) {
    Packet p;
    ATPBuildDataPacket(p.bytes, kATPDataOut, ack, seq, payload.data(),
                       static_cast<uint32_t>(payload.size()));
    return p;
}

std::vector<LinkPacket> Drain(SimLink& link, uint64_t now) {
    std::vector<LinkPacket> out;
    LinkPacket p;
    while (link.nextPacket(now, &p)) {
        out.push_back(p);
    }
    return out;
}

std::vector<LinkPacket> DataPackets(const std::vector<LinkPacket>& packets) {
    std::vector<LinkPacket> data;
    for (const LinkPacket& p : packets) {
        if (p.bytes[0] == kATPDataIn) {
            data.push_back(p);
        }
    }
    return data;
}

std::vector<int> DataSeqs(const std::vector<LinkPacket>& packets) {
    std::vector<int> seqs;
    for (const LinkPacket& p : DataPackets(packets)) {
        seqs.push_back(p.bytes[3]);
    }
    return seqs;
}

class SimLinkTest : public ::testing::Test {
protected:
    void startLink(uint32_t window, size_t streamPackets) {
        options.window = window;
        options.identity = "SIM";
        client.stream.resize(streamPackets * kATPMaxDataPayload);
        for (size_t i = 0; i < client.stream.size(); ++i) {
            client.stream[i] = static_cast<uint8_t>(i / kATPMaxDataPayload);
        }
        link.reset(new SimLink(options, &client, &counters));
        link->receive(Command(kATPStartup2).bytes, 0);
        link->receive(Command(kATPIdentityAck).bytes, 0);
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
    link->receive(Command(kATPPing).bytes, 0);
    EXPECT_TRUE(Drain(*link, 0).empty());

    link->receive(Status(0, kATPStatusReset).bytes, 10);
    link->receive(Command(kATPStartup1).bytes, 10);
    link->receive(Command(kATPStartup2).bytes, 10);
    EXPECT_EQ(client.starts, 1);
    auto sent = Drain(*link, 10);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes, sent[0].bytes + 3),
              (std::vector<uint8_t>{kATPWindowSize, 1, 5}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(sent[1].bytes), 9),
              std::string("\x35\x07READER\x03", 9));

    EXPECT_EQ(link->nextDeadline(), 510u);
    EXPECT_TRUE(Drain(*link, 509).empty());
    sent = Drain(*link, 510);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes[0], kATPIdentity);
    link->receive(Command(kATPIdentityAck).bytes, 600);
    EXPECT_TRUE(Drain(*link, 5000).empty());
    EXPECT_EQ(link->nextDeadline(), SimLink::kNever);
    EXPECT_EQ(counters.identitiesSent, 2u);

    link->receive(Command(kATPPing).bytes, 5000);
    sent = Drain(*link, 5000);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes, sent[0].bytes + 3),
              (std::vector<uint8_t>{kATPCredit, 1, 1}));
}

TEST_F(SimLinkTest, HostDataIsCheckedAcknowledgedAndCreditedEvenWhenDropped) {
    startLink(8, 0);
    Drain(*link, 0);
    struct Case {
        uint8_t seq;
        bool corrupt;
        uint8_t payloadByte;
        bool accepted;
        uint8_t ackAfter;
    };
    const Case cases[] = {
        {0, false, 0xA0, true, 1},  {0, false, 0xA1, false, 1},  // repeat
        {2, false, 0xA2, false, 1},                              // gap
        {1, true, 0xA3, false, 1},                               // bad checksum
        {1, false, 0xA4, true, 2},
    };
    std::vector<uint8_t> expected;
    for (const Case& c : cases) {
        Packet p = HostData(c.seq, 0, {c.payloadByte, 0x55});
        if (c.corrupt) {
            p.bytes[kATPDataHeaderSize] ^= 0x10;
        }
        link->receive(p.bytes, 1);
        if (c.accepted) {
            expected.push_back(c.payloadByte);
            expected.push_back(0x55);
        }
        const auto sent = Drain(*link, 1);
        ASSERT_EQ(sent.size(), 2u) << int(c.payloadByte);
        EXPECT_EQ(std::vector<uint8_t>(sent[0].bytes, sent[0].bytes + 6),
                  (std::vector<uint8_t>{kATPStatusIn, 4, c.ackAfter, 0, 0, kATPStatusAck}))
            << int(c.payloadByte);
        EXPECT_EQ(std::vector<uint8_t>(sent[1].bytes, sent[1].bytes + 3),
                  (std::vector<uint8_t>{kATPCredit, 1, 1}));
    }
    EXPECT_EQ(client.received, expected);
    EXPECT_EQ(counters.hostDataAccepted, 2u);
    EXPECT_EQ(counters.hostDataRejected, 3u);

    // Text costs the host a credit too; the reply goes out in packets of at most 62 bytes.
    client.reply = std::string(70, 'x');
    link->receive(Command(kATPTextOut, "$x?\r\n").bytes, 2);
    const auto sent = Drain(*link, 2);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].bytes[0], kATPCredit);
    EXPECT_EQ(sent[1].bytes[0], kATPTextIn);
    EXPECT_EQ(sent[1].bytes[1], 62);
    EXPECT_EQ(sent[2].bytes[1], 8);
}

TEST_F(SimLinkTest, GoBackNResendsEveryUnacknowledgedPacketOldestFirst) {
    startLink(3, 10);
    auto sent = Drain(*link, 0);
    EXPECT_EQ(DataSeqs(sent), (std::vector<int>{0, 1, 2}));
    const LinkPacket first2 = sent.back();
    EXPECT_TRUE(Drain(*link, 50).empty()) << "window full";

    link->receive(Status(1, kATPStatusAck).bytes, 100);
    EXPECT_EQ(DataSeqs(Drain(*link, 100)), (std::vector<int>{3}));
    // A number behind the window is stale and acknowledges nothing.
    link->receive(Status(0, kATPStatusAck).bytes, 150);
    EXPECT_EQ(link->inFlight(), 3u);

    EXPECT_EQ(link->nextDeadline(), 400u) << "300 ms after the last new acknowledgement";
    EXPECT_TRUE(Drain(*link, 399).empty());
    // The host has meanwhile sent one data packet; resends carry its acknowledgement.
    link->receive(HostData(0, 1, {1}).bytes, 399);
    Drain(*link, 399);
    sent = Drain(*link, 400);
    EXPECT_EQ(DataSeqs(sent), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(counters.dataResent, 3u);
    EXPECT_EQ(sent[1].bytes[2], 1) << "refreshed acknowledgement";
    EXPECT_EQ(std::memcmp(sent[1].bytes + 3, first2.bytes + 3, kATPPacketSize - 3), 0);
    EXPECT_EQ(link->nextDeadline(), 700u);

    // An acknowledgement in the middle of a resend skips what it covers.
    LinkPacket one;
    ASSERT_TRUE(link->nextPacket(700, &one));
    EXPECT_EQ(one.bytes[3], 1);
    link->receive(Status(3, kATPStatusAck).bytes, 710);
    EXPECT_EQ(DataSeqs(Drain(*link, 710)), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(counters.dataSent, 6u);
    EXPECT_EQ(counters.dataResent, 5u);

    // A reset from the host forgets the window; numbering starts again at 0.
    link->receive(Status(0, kATPStatusReset).bytes, 800);
    EXPECT_EQ(link->inFlight(), 0u);
    EXPECT_EQ(DataSeqs(Drain(*link, 800)), (std::vector<int>{0, 1, 2}));
}

TEST_F(SimLinkTest, RepeatedAcknowledgementResendsTheWindowOnceUntilProgress) {
    startLink(4, 20);
    EXPECT_EQ(DataSeqs(Drain(*link, 0)), (std::vector<int>{0, 1, 2, 3}));
    link->receive(Status(1, kATPStatusAck).bytes, 10);
    EXPECT_EQ(DataSeqs(Drain(*link, 10)), (std::vector<int>{4}));

    // The host names 1 again: it lost 1 and dropped what followed. One go-back-N at once.
    link->receive(Status(1, kATPStatusAck).bytes, 20);
    EXPECT_EQ(DataSeqs(Drain(*link, 20)), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(counters.fastResends, 1u);
    EXPECT_EQ(counters.dataResent, 4u);
    // Repeats already in flight when the resend left cost nothing more.
    for (uint64_t now : {25u, 30u, 35u}) {
        link->receive(Status(1, kATPStatusAck).bytes, now);
        EXPECT_TRUE(Drain(*link, now).empty()) << now;
    }
    EXPECT_EQ(counters.fastResends, 1u);

    // Progress re-arms it.
    link->receive(Status(2, kATPStatusAck).bytes, 40);
    EXPECT_EQ(DataSeqs(Drain(*link, 40)), (std::vector<int>{5}));
    link->receive(Status(2, kATPStatusAck).bytes, 45);
    EXPECT_EQ(DataSeqs(Drain(*link, 45)), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(counters.fastResends, 2u);

    // So does the timer, which still resends on its own after 300 ms without progress.
    link->receive(Status(2, kATPStatusAck).bytes, 50);
    EXPECT_TRUE(Drain(*link, 50).empty());
    EXPECT_EQ(link->nextDeadline(), 345u);
    EXPECT_EQ(DataSeqs(Drain(*link, 345)), (std::vector<int>{2, 3, 4, 5}));
    link->receive(Status(2, kATPStatusAck).bytes, 350);
    EXPECT_EQ(DataSeqs(Drain(*link, 350)), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(counters.fastResends, 3u);
    EXPECT_EQ(counters.dataResent, 16u);
}

TEST_F(SimLinkTest, StatusAckEchoingAHostDataPacketIsNoRepeat) {
    startLink(4, 20);
    Drain(*link, 0);
    link->receive(Status(1, kATPStatusAck).bytes, 10);
    Drain(*link, 10);
    // The host's timer acknowledges 3 after its data packet has carried it: news, not a loss.
    link->receive(HostData(0, 3, {7}).bytes, 20);
    EXPECT_EQ(DataSeqs(Drain(*link, 20)), (std::vector<int>{5, 6}));
    link->receive(Status(3, kATPStatusAck).bytes, 25);
    EXPECT_TRUE(Drain(*link, 25).empty());
    // Nor does a resend status (code 1) count.
    link->receive(Status(3, kATPStatusResent).bytes, 30);
    EXPECT_TRUE(Drain(*link, 30).empty());
    EXPECT_EQ(counters.fastResends, 0u);
    EXPECT_EQ(counters.dataResent, 0u);
    // The host's second status with 3 is a loss.
    link->receive(Status(3, kATPStatusAck).bytes, 35);
    EXPECT_EQ(DataSeqs(Drain(*link, 35)), (std::vector<int>{3, 4, 5, 6}));
}

TEST_F(SimLinkTest, SequenceNumbersWrapAfter255BothWays) {
    startLink(8, 600);
    std::vector<int> seqs;
    uint64_t now = 0;
    while (seqs.size() < 600) {
        const auto sent = DataSeqs(Drain(*link, now));
        ASSERT_FALSE(sent.empty()) << "stalled after " << seqs.size();
        seqs.insert(seqs.end(), sent.begin(), sent.end());
        link->receive(Status(static_cast<uint8_t>(seqs.back() + 1), kATPStatusAck).bytes, now);
        now += 10;  // never long enough to resend
    }
    for (size_t i = 0; i < seqs.size(); ++i) {
        ASSERT_EQ(seqs[i], static_cast<int>(i % 256)) << i;
    }
    EXPECT_EQ(counters.dataResent, 0u);
    // Bytes arrive intact across the wrap.
    EXPECT_EQ(client.taken, client.stream.size());

    for (int i = 0; i < 300; ++i) {
        link->receive(HostData(static_cast<uint8_t>(i), 0, {static_cast<uint8_t>(i)}).bytes, now);
    }
    EXPECT_EQ(counters.hostDataAccepted, 300u);
    EXPECT_EQ(link->expectedHostSeq(), 300 % 256);
}

TEST_F(SimLinkTest, FaultsSpoilOnlyTheSentCopy) {
    struct Case {
        double drop, corrupt, duplicate;
        size_t sentPerPacket;
        bool checksumOk;
    };
    const Case cases[] = {
        {1, 0, 0, 0, true},
        {0, 1, 0, 1, false},
        {0, 0, 1, 2, true},
    };
    for (const Case& c : cases) {
        options.dropP = c.drop;
        options.corruptP = c.corrupt;
        options.duplicateP = c.duplicate;
        counters = LinkCounters();
        client = FakeClient();
        startLink(2, 2);
        // First sends, then the resend of both: nothing was acknowledged.
        for (uint64_t now : {0u, 300u}) {
            const auto sent = DataPackets(Drain(*link, now));
            ASSERT_EQ(sent.size(), 2 * c.sentPerPacket) << now;
            for (const LinkPacket& p : sent) {
                ATPDataPacketView view;
                EXPECT_EQ(ATPParseDataPacket(p.bytes, &view) == ATPParseResult::ok, c.checksumOk);
            }
        }
        EXPECT_EQ(counters.dataSent, 2u);
        EXPECT_EQ(counters.dataResent, 2u);
        EXPECT_EQ(counters.dataDropped, c.drop > 0 ? 4u : 0u);
        EXPECT_EQ(counters.dataCorrupted, c.corrupt > 0 ? 4u : 0u);
        EXPECT_EQ(counters.dataDuplicated, c.duplicate > 0 ? 4u : 0u);
    }
}

}  // namespace
