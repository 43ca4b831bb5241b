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

// The builders' test below holds the known vectors: "abc" and nothing.
TEST(ATPCrc, MatchesABitwiseReference) {
    std::mt19937 random(20240611);
    std::vector<uint8_t> buffer(4001);
    for (auto& byte : buffer) {
        byte = static_cast<uint8_t>(random());
    }
    // Offset 1 misaligns the words.
    for (uint32_t words : {0u, 1u, 2u, 7u, 14u, 1000u}) {
        EXPECT_EQ(ATPCrc32(&buffer[1], words), ReferenceCrc(&buffer[1], words)) << words;
    }
    // A partial last word is padded with zeros, whatever follows it in memory.
    for (uint32_t n = 1; n <= 8; ++n) {
        uint8_t zeroPadded[8] = {};
        std::memcpy(zeroPadded, buffer.data(), n);
        EXPECT_EQ(ATPPayloadCrc(buffer.data(), n), ReferenceCrc(zeroPadded, (n + 3) / 4)) << n;
    }
}

// Expected bytes straight from the layouts: code, length, then the fields in their places.
TEST(ATPPacket, BuildersLayOutEveryByte) {
    struct Case {
        void (*build)(uint8_t* packet);
        std::vector<uint8_t> head;  // zeros follow
    };
    const uint8_t text[62] = {'t', 'x', 't'};
    const Case cases[] = {
        {[](uint8_t* p) { ATPBuildDataPacket(p, kATPDataOut, 0, 0, kAbc, 3); },
         {0x0A, 0x09, 0x00, 0x00, 0x97, 0x86, 0x20, 0xE1, 0x61, 0x62, 0x63}},
        {[](uint8_t* p) { ATPBuildDataPacket(p, kATPDataIn, 255, 128, nullptr, 0); },
         {0x0B, 0x06, 0xFF, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
        // Status: code, 4, next expected, next to send, 0, status code.
        {[](uint8_t* p) { ATPBuildStatusPacket(p, kATPStatusOut, 7, 9, kATPStatusResent); },
         {0x0D, 0x04, 0x07, 0x09, 0x00, 0x01}},
        {[](uint8_t* p) { ATPBuildStatusPacket(p, kATPStatusIn, 128, 1, kATPStatusReset); },
         {0x0C, 0x04, 0x80, 0x01, 0x00, 0x02}},
        {[](uint8_t* p) { ATPBuildPing(p); }, {0x04}},
        {[](uint8_t* p) { ATPBuildCommandPacket(p, kATPClose, kAbc, 1); }, {0x02, 0x01, 0x61}},
    };
    for (const Case& c : cases) {
        uint8_t packet[kATPPacketSize];
        std::memset(packet, 0xEE, sizeof packet);  // builders must clear what they do not set
        c.build(packet);
        std::vector<uint8_t> expected = c.head;
        expected.resize(kATPPacketSize);
        EXPECT_EQ(std::vector<uint8_t>(packet, packet + kATPPacketSize), expected)
            << testing::PrintToString(c.head);
    }
    uint8_t packet[kATPPacketSize];
    EXPECT_TRUE(ATPBuildCommandPacket(packet, kATPTextOut, text, 62));
    EXPECT_FALSE(ATPBuildCommandPacket(packet, kATPTextOut, text, 63));
    EXPECT_FALSE(ATPBuildDataPacket(packet, kATPDataOut, 0, 0, text, 57));
}

}  // namespace
