#include "transport/atp_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// Independent oracle: plain bit-by-bit CRC-32/MPEG-2 fed each word's bytes last to first.
uint32_t ReferenceCrc(const uint8_t* bytes, uint32_t words) {
    uint32_t reg = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < words * 4; ++i) {
        reg ^= static_cast<uint32_t>(bytes[i / 4 * 4 + 3 - i % 4]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ 0x04C11DB7u : reg << 1;
        }
    }
    return reg;
}

const uint8_t kAbc[] = {0x61, 0x62, 0x63};

TEST(ATPCrc, KnownVectors) {
    const uint8_t padded[] = {0x61, 0x62, 0x63, 0x00};
    EXPECT_EQ(ATPCrc32(padded, 1), 0xE1208697u);
    EXPECT_EQ(ATPPayloadCrc(kAbc, 3), 0xE1208697u);
    EXPECT_EQ(ATPCrc32(padded, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ATPPayloadCrc(nullptr, 0), 0xFFFFFFFFu);
}

TEST(ATPCrc, MatchesBitwiseReference) {
    std::mt19937 random(20240611);
    std::vector<uint8_t> buffer(4001);
    for (auto& byte : buffer) {
        byte = static_cast<uint8_t>(random());
    }
    // Offset 1 misaligns the words.
    for (uint32_t words : {1u, 2u, 7u, 14u, 1000u}) {
        EXPECT_EQ(ATPCrc32(&buffer[1], words), ReferenceCrc(&buffer[1], words)) << words;
    }
    // A partial last word is padded with zeros, whatever follows it in memory.
    for (uint32_t n = 1; n <= 8; ++n) {
        uint8_t padded[8] = {};
        std::memcpy(padded, buffer.data(), n);
        EXPECT_EQ(ATPPayloadCrc(buffer.data(), n), ReferenceCrc(padded, (n + 3) / 4)) << n;
    }
}

TEST(ATPPacket, SequenceNumbersWrap) {
    EXPECT_EQ(ATPNextSeq(0), 1);
    EXPECT_EQ(ATPNextSeq(254), 255);
    EXPECT_EQ(ATPNextSeq(255), 0);
}

TEST(ATPPacket, ExactBytesOfFirstDataStatusAndPing) {
    struct Case {
        void (*build)(uint8_t* packet);
        uint8_t expected[kATPPacketSize];
    };
    const Case cases[] = {
        {[](uint8_t* p) { ATPBuildDataPacket(p, kATPDataOut, 0, 0, kAbc, 3); },
         {0x0A, 0x09, 0x00, 0x00, 0x97, 0x86, 0x20, 0xE1, 0x61, 0x62, 0x63}},
        {[](uint8_t* p) { ATPBuildStatusPacket(p, kATPStatusOut, 7, 9, kATPStatusResent); },
         {kATPStatusOut, 4, 7, 9, 0, kATPStatusResent}},
        {[](uint8_t* p) { ATPBuildPing(p); }, {kATPPing}},
    };
    for (const Case& c : cases) {
        uint8_t packet[kATPPacketSize];
        std::memset(packet, 0xEE, sizeof packet);  // builders must clear what they do not set
        c.build(packet);
        EXPECT_EQ(0, std::memcmp(packet, c.expected, kATPPacketSize)) << int(c.expected[0]);
    }
}

TEST(ATPPacket, DataRoundTripsAtSizeBoundaries) {
    uint8_t payload[kATPMaxDataPayload];
    for (uint32_t i = 0; i < kATPMaxDataPayload; ++i) {
        payload[i] = static_cast<uint8_t>(0x80 + i);
    }
    for (uint32_t n : {0u, 1u, 55u, 56u}) {
        uint8_t packet[kATPPacketSize];
        ASSERT_TRUE(ATPBuildDataPacket(packet, kATPDataIn, 200, 255, payload, n));
        EXPECT_EQ(packet[1], n + 6);
        // Padding on the wire carries no meaning, so junk there must not upset the checksum.
        std::memset(packet + kATPDataHeaderSize + n, 0x5A, kATPMaxDataPayload - n);
        ATPDataPacketView view{};
        ASSERT_EQ(ATPParseDataPacket(packet, &view), ATPParseResult::ok) << n;
        EXPECT_EQ(view.code, kATPDataIn);
        EXPECT_EQ(view.ack, 200);
        EXPECT_EQ(view.seq, 255);
        EXPECT_EQ(view.crc, ATPPayloadCrc(payload, n));
        ASSERT_EQ(view.length, n);
        EXPECT_EQ(0, std::memcmp(view.payload, payload, n));
    }
    const uint8_t empty[kATPPacketSize] = {kATPDataIn, 6, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF};
    ATPDataPacketView view{};
    ASSERT_EQ(ATPParseDataPacket(empty, &view), ATPParseResult::ok);
    EXPECT_EQ(view.length, 0u);
}

TEST(ATPPacket, CommandRoundTripsAndOversizedPayloadsAreRefused) {
    uint8_t payload[kATPPacketSize] = {0x61, 0x62, 0x63};
    uint8_t packet[kATPPacketSize];
    ASSERT_TRUE(ATPBuildCommandPacket(packet, kATPWindowSize, payload, 3));
    ATPCommandPacketView view{};
    ASSERT_EQ(ATPParseCommandPacket(packet, &view), ATPParseResult::ok);
    EXPECT_EQ(view.code, kATPWindowSize);
    ASSERT_EQ(view.length, 3u);
    EXPECT_EQ(0, std::memcmp(view.payload, payload, 3));

    EXPECT_TRUE(ATPBuildCommandPacket(packet, kATPTextOut, payload, 62));
    EXPECT_FALSE(ATPBuildCommandPacket(packet, kATPTextOut, payload, 63));
    EXPECT_FALSE(ATPBuildDataPacket(packet, kATPDataOut, 0, 0, payload, 57));
}

TEST(ATPPacket, OutOfRangeLengthBytesAreMalformed) {
    for (uint8_t length : {0, 5, 63, 255}) {
        const uint8_t packet[kATPPacketSize] = {kATPDataIn, length};
        ATPDataPacketView view{};
        EXPECT_EQ(ATPParseDataPacket(packet, &view), ATPParseResult::malformed) << int(length);
    }
    for (uint8_t length : {63, 255}) {
        const uint8_t packet[kATPPacketSize] = {kATPTextIn, length};
        ATPCommandPacketView view{};
        EXPECT_EQ(ATPParseCommandPacket(packet, &view), ATPParseResult::malformed) << int(length);
    }
}

TEST(ATPPacket, EveryFlippedChecksumOrPayloadBitIsCaught) {
    uint8_t payload[kATPMaxDataPayload];
    for (uint32_t i = 0; i < kATPMaxDataPayload; ++i) {
        payload[i] = static_cast<uint8_t>(i * 37);
    }
    uint8_t packet[kATPPacketSize];
    ASSERT_TRUE(ATPBuildDataPacket(packet, kATPDataOut, 0, 0, payload, kATPMaxDataPayload));
    for (uint32_t bit = 4 * 8; bit < kATPPacketSize * 8; ++bit) {
        uint8_t damaged[kATPPacketSize];
        std::memcpy(damaged, packet, kATPPacketSize);
        damaged[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ATPDataPacketView view{};
        EXPECT_EQ(ATPParseDataPacket(damaged, &view), ATPParseResult::badChecksum) << bit;
    }
}

TEST(ATPPacket, StatusParseReadsOnlyAckAndCode) {
    uint8_t packet[kATPPacketSize];
    std::memset(packet, 0xEE, sizeof packet);
    packet[2] = 42;
    packet[5] = kATPStatusReset;
    const ATPStatusPacketView view = ATPParseStatusPacket(packet);
    EXPECT_EQ(view.ack, 42);
    EXPECT_EQ(view.status, kATPStatusReset);
}

}  // namespace
