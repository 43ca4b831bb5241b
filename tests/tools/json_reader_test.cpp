#include "tools/reader-sim/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SimJson, ParsesValuesEscapesAndOffsets) {
    const std::string text =
        R"({"b": [true, false, null], "a": "x\"\\\/\n\u00e9\ud83d\ude00", "n": [-0, 1.5e3, 9007199254740993, 12345678901234567890]})";
    JsonValue root;
    std::string error;
    ASSERT_TRUE(ParseJson(text, "t.json", &root, &error)) << error;
    ASSERT_EQ(root.kind, JsonValue::Kind::object);
    // Members keep their source order.
    ASSERT_EQ(root.members.size(), 3u);
    EXPECT_EQ(root.members[0].first, "b");
    EXPECT_EQ(root.members[1].first, "a");

    const JsonValue& b = *root.find("b");
    ASSERT_EQ(b.items.size(), 3u);
    EXPECT_TRUE(b.items[0].boolean);
    EXPECT_EQ(b.items[1].kind, JsonValue::Kind::boolean);
    EXPECT_EQ(b.items[2].kind, JsonValue::Kind::null);
    EXPECT_EQ(b.offset, text.find('['));

    EXPECT_EQ(root.find("a")->text, "x\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");

    const JsonValue& n = *root.find("n");
    EXPECT_TRUE(n.items[0].isInteger);
    EXPECT_EQ(n.items[0].integer, 0);
    EXPECT_FALSE(n.items[1].isInteger);
    EXPECT_EQ(n.items[1].number, 1500.0);
    // Integers beyond double precision stay exact; beyond int64 they are not integers.
    EXPECT_EQ(n.items[2].integer, 9007199254740993ll);
    EXPECT_FALSE(n.items[3].isInteger);
    EXPECT_EQ(root.find("missing"), nullptr);
}

TEST(SimJson, RejectsMalformedInputWithItsOffset) {
    struct Case {
        std::string text;
        size_t offset;
        const char* what;
    };
    const Case cases[] = {
        {"", 0, "unexpected end of input"},
        {"  ", 2, "unexpected end of input"},
        {R"({"a":1,})", 7, "expected a member name"},
        {"[1,]", 3, "unexpected character ']'"},
        {R"({"a":1,"a":2})", 7, "duplicate member \"a\""},
        {R"({"a" 1})", 5, "expected ':'"},
        {"[1 2]", 3, "expected ',' or ']'"},
        {"01", 0, "leading zero"},
        {"1.", 2, "digits after the decimal point"},
        {"1e+", 3, "digits in the exponent"},
        {"-", 0, "expected digits"},
        {"\"ab", 0, "unterminated string"},
        {"\"a\\x\"", 2, "unknown escape"},
        {"\"\\u12G4\"", 5, "bad hex digit"},
        {"\"\\ud800x\"", 1, "high surrogate"},
        {"\"\\udc00\"", 1, "unpaired low surrogate"},
        {"\"a\nb\"", 2, "control character"},
        {"tru", 0, "unexpected character 't'"},
        {"{} x", 3, "unexpected text after the value"},
        {std::string(100, '['), 65, "nesting deeper"},
    };
    for (const Case& c : cases) {
        JsonValue value;
        std::string error;
        EXPECT_FALSE(ParseJson(c.text, "s.json", &value, &error)) << c.text;
        const std::string prefix = "s.json: offset " + std::to_string(c.offset) + " ";
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << c.text << " -> " << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << c.text << " -> " << error;
    }
}

TEST(SimJson, ErrorNamesLineAndColumn) {
    JsonValue value;
    std::string error;
    EXPECT_FALSE(ParseJson("{\n  \"a\": tru\n}", "f.json", &value, &error));
    EXPECT_EQ(error.rfind("f.json: offset 9 (line 2, column 8): ", 0), 0u) << error;
}

}  // namespace
