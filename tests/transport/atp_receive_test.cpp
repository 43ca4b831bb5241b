#include "transport_fixture.h"

namespace {

using ATPReceive = TransportTest;

// With the event thread stalled the ring fills up; what does not fit must come again.
TEST_F(ATPReceive, PacketThatDoesNotFitTheRingIsNeitherAcknowledgedNorCounted) {
    addReader(0);
    const std::string payload(kATPMaxDataPayload, 'm');
    const uint32_t fit = kATPMsgRingSize / kATPMaxDataPayload;
    for (uint32_t i = 0; i <= fit; ++i) {
        feedData(0, uint8_t(i), payload);
    }
    EXPECT_EQ(device(0)->rxExpected, uint8_t(fit));
    Bytes ring(kATPMsgRingSize);
    uint32_t size = kATPMsgRingSize;
    transport_->readMsg(0, 0, ring.data(), &size);
    EXPECT_EQ(size, fit * kATPMaxDataPayload);
    feedData(0, uint8_t(fit), payload);  // the reader's resend
    EXPECT_EQ(device(0)->rxExpected, uint8_t(fit + 1));
}

// Text is never resent: what overflows the ring was lost without a word. It is said with the
// event, and nothing more is taken until the text before the loss is handed on.
TEST_F(ATPReceive, TextThatDoesNotFitTheRingIsLostAndSaid) {
    addReader(0);
    Bytes text{kATPTextIn, 62};
    text.resize(64, 't');
    for (uint32_t sent = 0; sent <= kATPTextRingSize; sent += 62) {
        feed(0, text);
    }
    feed(0, {kATPTextIn, 2, 'o', 'k'});
    EXPECT_EQ(dispatch(), (Delivered{{0, kXportTextData | kXportTextLost << 8, kATPTextRingSize}}));
    Bytes ring(kATPTextRingSize);
    EXPECT_EQ(transport_->readText(0, ring.data(), kATPTextRingSize), int32_t(kATPTextRingSize));
    feed(0, {kATPTextIn, 2, 'o', 'k'});
    EXPECT_EQ(dispatch().back(), (std::array<uint32_t, 3>{0, kXportTextData, 2}));
}

// Out of sequence, damaged, too long for a packet, or a code whose top bits are set (data and
// status need the whole byte, commands take its low six bits): after one good data packet.
TEST_F(ATPReceive, BadReportsAreDroppedAndFlaggedCodesReadAsCommands) {
    const Bytes reports[] = {
        {kATPDataIn, 6, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF},
        {kATPDataIn, 8, 0, 1, 0x97, 0x86, 0x20, 0xE1, 'd', 'e'},  // the checksum of "abc"
        {kATPDataIn, 5, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF},
        {kATPDataIn, 63, 0, 1},
        {kATPDataIn | 0x40, 6, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF},
        {kATPStatusIn | 0x80, 4, 0, 0, 0, kATPStatusReset},
        {kATPTextIn, 63, 'a'},
        {kATPReaderText, 63, 'a'},
        {kATPIdentity, 63, 'a', 1},
        {kATPDebugText, 63, 'a'},
        {kATPTextIn | 0x40, 2, 'h', 'i'},
    };
    addReader(0);
    // Taken: bytes past the payload carry no meaning, whatever they hold.
    feed(0, {kATPDataIn, 9, 0, 0, 0x97, 0x86, 0x20, 0xE1, 'a', 'b', 'c', 0x5A, 0x5A, 0x5A, 0x5A});
    for (const auto& report : reports) {
        feed(0, report);
    }
    EXPECT_EQ(device(0)->rxExpected, 1);
    EXPECT_STREQ(device(0)->readerText, "12345678");
    EXPECT_FALSE(device(0)->identified);
    EXPECT_EQ(dispatch(), (Delivered{{0, kXportMsgData, 3}, {0, kXportTextData, 2}}));
    // A good reader text is cut to its field; an unknown reader changes nothing.
    Bytes longText{kATPReaderText, 40};
    longText.resize(42, 'r');
    feed(0, longText);
    EXPECT_EQ(std::string(device(0)->readerText), std::string(31, 'r'));
    feed(0, {kATPTransportByte, 1, 9});
    feed(-1, {kATPTransportByte, 1, 1});
    EXPECT_EQ(transport_->transportByte(), 9);
}

TEST_F(ATPReceive, FirstIdentityAttachesOnceAndLaterOnesOnlySetTheClass) {
    const struct {
        Bytes report;
        uint32_t identityClass;  // the last byte when 1 to 4, else 2
    } cases[] = {
        {{kATPIdentity, 3, 'R', 'D', 3}, 3}, {{kATPIdentity, 0}, 2},
        {{kATPIdentity, 2, 'X', 1}, 1},      {{kATPIdentity, 2, 'X', 4}, 4},
        {{kATPIdentity, 2, 'X', 5}, 2},      {{kATPIdentity, 2, 'X', 0}, 2},
    };
    addReader(0);
    addReader(1);
    for (const auto& c : cases) {
        feed(0, c.report);
        EXPECT_EQ(device(0)->identityClass, c.identityClass);
    }
    EXPECT_STREQ(device(0)->identity, "RD\x03");
    feed(1, {kATPIdentity, 0});  // an empty identity is still answered only once
    feed(1, {kATPIdentity, 0});
    EXPECT_EQ(reports(), (Reports{{entry(0), Packet({kATPIdentityAck})},
                                  {entry(1), Packet({kATPIdentityAck})}}));
    EXPECT_EQ(dispatch(), (Delivered{{0, kXportAttach, 0}, {1, kXportAttach, 0}}));
}

}  // namespace
