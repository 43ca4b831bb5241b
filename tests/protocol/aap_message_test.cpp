#include "protocol/aap_message.h"

#include <gtest/gtest.h>

#include "protocol_test_support.h"

namespace {

Bytes Encode(uint16_t type, const Bytes& payload) {
    return AAPMessage(type, payload.data(), uint32_t(payload.size())).encoded();
}

// Feeds bytes in chunks of at most step; returns the completed messages' types and payloads.
Messages ParseAll(const Bytes& bytes, uint32_t step) {
    Messages out;
    AAPMessage message;
    for (uint32_t at = 0; at < bytes.size();) {
        const uint32_t count = std::min<uint32_t>(step, uint32_t(bytes.size()) - at);
        uint32_t consumed = 0;
        if (message.parse(bytes.data() + at, count, &consumed)) {
            out.emplace_back(message.type(), message.payload());
        }
        EXPECT_GE(consumed, 1u);
        EXPECT_LE(consumed, count);
        at += consumed;
    }
    return out;
}

TEST(AAPMessage, EncodesTheWireExamplesUpToTheLengthLimitAndParsesThemBack) {
    const Bytes payload200(200, 0x5A);
    struct Case {
        uint16_t type;
        Bytes payload;
        Bytes header;  // the encoding without the payload
    };
    const Case cases[] = {
        {52, {}, {0x34}},
        {0, {}, {0x00}},
        {49, {0x06}, {0x81, 0x31}},
        {49, payload200, {0xC8, 0x81, 0x31}},
        {49, Bytes(128, 1), {0x80, 0x81, 0x31}},  // 0x80 needs a second group
        {0x7E, {1, 2}, {0x82, 0x7E}},
        {0x7F, {9}, {0x81, 0x7F, 0x7F, 0x00}},
        {0x1234, {9, 8, 7}, {0x83, 0x7F, 0x34, 0x12}},
        {0x7F, {}, {0x7F, 0x7F, 0x00}},  // the one form that cannot be received as sent
        {49, Bytes(kAAPMaxMsgLength, 0xEE), {0x80, 0x80, 0x80, 0x81, 0x31}},  // the limit, 1 << 21
    };
    for (const Case& c : cases) {
        const Bytes encoded = Encode(c.type, c.payload);
        EXPECT_EQ(encoded, Concat({c.header, c.payload})) << c.type;
        if (c.payload.empty() && c.type >= 0x7F) {
            continue;
        }
        for (uint32_t step : {1u, 2u, 1000u}) {
            const auto parsed = ParseAll(encoded, step);
            ASSERT_EQ(parsed.size(), 1u) << c.type << " step " << step;
            EXPECT_EQ(parsed[0].first, c.type);
            EXPECT_EQ(parsed[0].second, c.payload);
        }
    }
}

TEST(AAPMessage, LengthBeyondTheLimitIsDroppedAndZeroGroupsAddNothing) {
    // In 32 bits 0x10 << 28 and anything shifted by 35 vanish and the length would look small.
    const struct {
        Bytes bytes;
        uint32_t consumed;
    } over[] = {
        {{0x81, 0x80, 0x80, 0x81, 0x31, 0x34}, 4},
        {{0x80, 0x80, 0x80, 0x80, 0x90, 0x31}, 5},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x31}, 7},
    };
    const LogSince log;
    for (const auto& c : over) {
        AAPMessage message;
        uint32_t consumed = 0;
        EXPECT_EQ(message.feed(c.bytes.data(), uint32_t(c.bytes.size()), &consumed),
                  AAPParseResult::malformed);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(message.state(), AAPMessage::kIdle);
    }
    EXPECT_EQ(log.count("kAAPMaxMsgLength exceeded (2097153 2097152)\n"), 1);
    // Zero groups, however many, add nothing, before a short or an extended type.
    const Bytes zeros(12, 0x80);
    EXPECT_EQ(ParseAll(Concat({zeros, {0x31}, zeros, {0x7F, 0xCD, 0xAB}}), 5),
              (Messages{{49, {}}, {0xABCD, {}}}));
}

}  // namespace
