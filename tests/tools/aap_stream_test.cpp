#include "tools/reader-sim/aap_stream.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> out(n);
    std::iota(out.begin(), out.end(), first);
    return out;
}

TEST(SimAapStream, EncodesLengthGroupsAndTypes) {
    struct Case {
        uint16_t type;
        size_t length;
        std::vector<uint8_t> head;  // the bytes in front of the payload
    };
    const Case cases[] = {
        {52, 0, {0x34}},
        {126, 0, {0x7E}},
        {49, 1, {0x81, 0x31}},
        {49, 127, {0xFF, 0x31}},
        {49, 128, {0x80, 0x81, 0x31}},
        {49, 200, {0xC8, 0x81, 0x31}},
        {65, 16384, {0x80, 0x80, 0x81, 0x41}},
        {0x7F, 2, {0x82, 0x7F, 0x7F, 0x00}},
        {0x1234, 0, {0x7F, 0x34, 0x12}},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> payload = Bytes(c.length, 7);
        std::vector<uint8_t> expected = c.head;
        expected.insert(expected.end(), payload.begin(), payload.end());
        EXPECT_EQ(AapEncode(c.type, payload), expected) << c.type << "/" << c.length;
    }
}

TEST(SimAapStream, ParserReassemblesMessagesFedByteByByte) {
    const std::vector<AapMessage> messages = {
        {52, {}},           {49, {6}},  {125, {}},          {81, Bytes(127)}, {49, Bytes(128)},
        {0x2345, Bytes(3)}, {0x7F, {}}, {65, Bytes(20000)}, {84, {}},
    };
    std::vector<uint8_t> stream;
    for (const AapMessage& m : messages) {
        const auto encoded = AapEncode(m.type, m.payload);
        stream.insert(stream.end(), encoded.begin(), encoded.end());
    }
    AapParser parser;
    std::vector<AapMessage> parsed;
    for (uint8_t b : stream) {
        const AapParser::Result r = parser.feed(b);
        ASSERT_NE(r, AapParser::Result::malformed);
        if (r == AapParser::Result::complete) {
            parsed.push_back(parser.message());
        }
    }
    ASSERT_EQ(parsed.size(), messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(parsed[i].type, messages[i].type) << i;
        EXPECT_EQ(parsed[i].payload, messages[i].payload) << i;
    }
}

TEST(SimAapStream, ParserAcceptsEmptyLengthGroupsAndRejectsOverlongLengths) {
    struct Case {
        std::vector<uint8_t> bytes;
        AapParser::Result last;
    };
    const Case cases[] = {
        // A zero length written out is still a message without payload.
        {{0x80, 0x31}, AapParser::Result::complete},
        // Exactly the limit is accepted; it waits for its type.
        {{0x80, 0x80, 0x80, 0x81}, AapParser::Result::needMore},
        {{0x81, 0x80, 0x80, 0x81}, AapParser::Result::malformed},
        {{0x80, 0x80, 0x80, 0x80, 0x90}, AapParser::Result::malformed},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x31}, AapParser::Result::complete},
    };
    for (const Case& c : cases) {
        AapParser parser;
        AapParser::Result r = AapParser::Result::needMore;
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            r = parser.feed(c.bytes[i]);
            if (i + 1 < c.bytes.size()) {
                ASSERT_EQ(r, AapParser::Result::needMore) << i;
            }
        }
        EXPECT_EQ(r, c.last) << c.bytes.size();
        if (r == AapParser::Result::malformed) {
            // The next byte starts a message afresh.
            EXPECT_EQ(parser.feed(0x34), AapParser::Result::complete);
            EXPECT_EQ(parser.message().type, 52);
        }
    }
}

TEST(SimAapStream, OutStreamPacksMessagesAndSplitsThemAcrossPayloads) {
    AapOutStream stream;
    std::vector<uint8_t> expected;
    auto add = [&](uint16_t type, const std::vector<uint8_t>& payload) {
        auto encoded = AapEncode(type, payload);
        expected.insert(expected.end(), encoded.begin(), encoded.end());
        stream.push(std::move(encoded));
    };
    add(52, Bytes(10));
    add(52, Bytes(10));
    add(52, {});
    add(49, Bytes(130, 1));
    add(126, {});

    std::vector<uint8_t> drained;
    std::vector<uint32_t> sizes;
    uint8_t payload[56];
    while (uint32_t n = stream.take(payload, sizeof payload)) {
        sizes.push_back(n);
        drained.insert(drained.end(), payload, payload + n);
    }
    EXPECT_EQ(drained, expected);
    // 12 + 12 + 1 + 133 + 1 bytes: full payloads, then the rest; the long answer spans all three.
    EXPECT_EQ(sizes, (std::vector<uint32_t>{56, 56, 47}));
    EXPECT_TRUE(stream.empty());
}

TEST(SimAapStream, ProducersAreAskedOnlyAsTheStreamDrains) {
    AapOutStream stream;
    int calls = 0;
    stream.push([&calls](std::vector<uint8_t>* out) {
        if (calls == 100000) {
            return false;
        }
        ++calls;
        *out = AapEncode(49, Bytes(19));  // 21 bytes
        return true;
    });
    stream.push(AapEncode(52, {}));
    uint8_t payload[56];
    ASSERT_EQ(stream.take(payload, sizeof payload), 56u);
    EXPECT_EQ(calls, 3);
    uint64_t total = 56;
    while (uint32_t n = stream.take(payload, sizeof payload)) {
        total += n;
    }
    EXPECT_EQ(total, 100000u * 21 + 1);
    EXPECT_EQ(payload[(total - 1) % 56], 0x34) << "the message pushed after the producer";
}

}  // namespace
