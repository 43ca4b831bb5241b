#include "transport_fixture.h"

namespace {

using ATPReceive = TransportTest;

std::string ReadMsg(MALTransATP& transport, uint32_t id) {
    uint8_t buffer[256];
    uint32_t size = sizeof buffer;
    transport.readMsg(id, 0, buffer, &size);
    return std::string(reinterpret_cast<char*>(buffer), size);
}

TEST_F(ATPReceive, DataPacketsPassSequenceThenChecksumBeforeReachingTheRing) {
    addReader(0);
    feedData(0, 0, 0, "abc");
    EXPECT_EQ(device(0)->rxExpected, 1);
    feedData(0, 0, 3, "ahead");  // out of sequence
    std::vector<uint8_t> corrupt(kATPPacketSize);
    ATPBuildDataPacket(corrupt.data(), kATPDataIn, 0, 1, reinterpret_cast<const uint8_t*>("de"), 2);
    corrupt[8] ^= 1;
    feed(0, corrupt);
    EXPECT_EQ(device(0)->rxExpected, 1);
    feedData(0, 0, 1, "");  // empty: advances, posts, adds nothing
    feedData(0, 0, 2, "de");
    EXPECT_EQ(device(0)->rxExpected, 3);
    EXPECT_EQ(dispatch(), (std::vector<Delivered>{{0, kXportMsgData, 5}}));
    EXPECT_EQ(ReadMsg(*transport_, 0), "abcde");
}

// With the event thread stalled the ring fills up; what does not fit must come again.
TEST_F(ATPReceive, PacketThatDoesNotFitTheRingIsNeitherAcknowledgedNorCounted) {
    addReader(0);
    const std::string payload(kATPMaxDataPayload, 'm');
    const uint32_t fit = kATPMsgRingSize / kATPMaxDataPayload;
    for (uint32_t i = 0; i <= fit; ++i) {
        feedData(0, 0, static_cast<uint8_t>(i), payload);
    }
    const uint8_t next = static_cast<uint8_t>(fit);
    EXPECT_EQ(device(0)->rxExpected, next);
    uint32_t read = 0;
    for (uint32_t n; (n = static_cast<uint32_t>(ReadMsg(*transport_, 0).size())) != 0;) {
        read += n;
    }
    EXPECT_EQ(read, fit * kATPMaxDataPayload);
    feedData(0, 0, next, payload);  // the reader's resend
    EXPECT_EQ(device(0)->rxExpected, static_cast<uint8_t>(next + 1));
}

TEST_F(ATPReceive, ReportsDescribingMoreThanAPacketAreDropped) {
    const std::vector<uint8_t> reports[] = {
        {kATPDataIn, 5, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
        {kATPDataIn, 63, 0, 0},
        {kATPTextIn, 63, 'a'},
        {kATPReaderText, 63, 'a'},
        {kATPIdentity, 63, 'a', 1},
        {kATPDebugText, 63, 'a'},
    };
    addReader(0);
    for (const auto& report : reports) {
        feed(0, report);
    }
    EXPECT_EQ(device(0)->rxExpected, 0);
    EXPECT_STREQ(device(0)->readerText, "12345678");
    EXPECT_FALSE(device(0)->identified);
    EXPECT_TRUE(dispatch().empty());
    EXPECT_TRUE(writer_.reports().empty());
}

TEST_F(ATPReceive, CodeTakesLowSixBitsButDataAndStatusNeedTheWholeByte) {
    addReader(0);
    std::vector<uint8_t> flagged(kATPPacketSize);
    ATPBuildDataPacket(flagged.data(), kATPDataIn, 0, 0, reinterpret_cast<const uint8_t*>("x"), 1);
    flagged[0] |= 0x40;
    feed(0, flagged);
    feed(0, {kATPTextIn | 0x40, 2, 'h', 'i'});
    EXPECT_EQ(device(0)->rxExpected, 0);
    EXPECT_EQ(dispatch(), (std::vector<Delivered>{{0, kXportTextData, 2}}));
}

TEST_F(ATPReceive, FirstIdentityAttachesOnceAndLaterOnesOnlySetTheClass) {
    const struct {
        std::vector<uint8_t> payload;
        uint32_t identityClass;
    } cases[] = {
        {{'R', 'D', 3}, 3}, {{}, 2}, {{'X', 1}, 1}, {{'X', 4}, 4}, {{'X', 5}, 2}, {{'X', 0}, 2},
    };
    addReader(0);
    for (const auto& c : cases) {
        std::vector<uint8_t> report{kATPIdentity, static_cast<uint8_t>(c.payload.size())};
        report.insert(report.end(), c.payload.begin(), c.payload.end());
        feed(0, report);
        EXPECT_EQ(device(0)->identityClass, c.identityClass);
    }
    EXPECT_STREQ(device(0)->identity, "RD\x03");
    EXPECT_EQ(WithCode(writer_.reports(), kATPIdentityAck).size(), 1u);
    EXPECT_EQ(dispatch(), (std::vector<Delivered>{{0, kXportAttach, 0}}));

    addReader(1);  // an empty identity is still answered only once
    feed(1, {kATPIdentity, 0});
    feed(1, {kATPIdentity, 0});
    EXPECT_EQ(WithCode(writer_.reports(), kATPIdentityAck).size(), 1u);
    EXPECT_EQ(dispatch().size(), 2u);
}

TEST_F(ATPReceive, SingleByteCommandsAndReaderTextUpdateTheRecord) {
    addReader(0);
    std::vector<uint8_t> longText{kATPReaderText, 40};
    longText.resize(42, 'r');
    feed(0, longText);
    EXPECT_EQ(std::string(device(0)->readerText), std::string(31, 'r'));
    feed(0, {kATPCloseByte, 1, 7});
    feed(0, {kATPCloseByte, 1, 0});
    EXPECT_EQ(device(0)->closeByte, 7);
    feed(0, {kATPTransportByte, 1, 9});
    EXPECT_EQ(transport_->transportByte(), 9);
    feed(-1, {kATPTransportByte, 1, 1});
    EXPECT_EQ(transport_->transportByte(), 9);
}

}  // namespace
