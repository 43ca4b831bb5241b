// The simulator's AAP encoding makes the end-to-end tests' expected answers, so it is pinned to
// the format's bytes here; its parser reads its own encoding back.
#include "tools/reader-sim/aap_stream.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

TEST(SimAapStream, EncodesLengthGroupsAndTypesAndParsesThemBack) {
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
    AapParser parser;
    for (const Case& c : cases) {
        std::vector<uint8_t> payload(c.length);
        std::iota(payload.begin(), payload.end(), uint8_t{7});
        std::vector<uint8_t> expected = c.head;
        expected.insert(expected.end(), payload.begin(), payload.end());
        EXPECT_EQ(AapEncode(c.type, payload), expected) << c.type << "/" << c.length;

        AapParser::Result r = AapParser::Result::needMore;
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(r, AapParser::Result::needMore) << c.type << "/" << c.length << " at " << i;
            r = parser.feed(expected[i]);
        }
        ASSERT_EQ(r, AapParser::Result::complete) << c.type << "/" << c.length;
        EXPECT_EQ(parser.message().type, c.type);
        EXPECT_EQ(parser.message().payload, payload);
    }
}

}  // namespace
