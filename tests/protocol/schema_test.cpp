#include "protocol/schema.h"

#include <gtest/gtest.h>

#include <optional>

#include "protocol_test_support.h"

namespace {

Bytes Table(uint16_t recordType, uint16_t headerWords, const std::vector<FieldDescriptor>& fields) {
    auto le = [](Bytes& out, uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    };
    Bytes out = {0, 0, 0, 0};
    le(out, recordType);
    le(out, headerWords);
    le(out, uint16_t(fields.size()));
    for (const FieldDescriptor& f : fields) {
        le(out, f.id);
        le(out, f.wordOffset);
        out.push_back(f.bitShift);
        out.push_back(f.type);
        le(out, f.width);
    }
    return out;
}

SchemaList Schema(const std::vector<Bytes>& tables) {
    return SchemaList(tables.begin(), tables.end());
}

// Header of three words, so the body starts at byte 6: id 0 at word 0, the record type (id 8) at
// word 1. The worked example, two words, is the device client tests' schema.
const Bytes kHeader = Table(255, 3, {{0, 0, 0, 0, 16}, {8, 1, 0, 0, 16}});

DecodedRecord Decode(const SchemaList& schema, const Bytes& record, bool configuration = false) {
    return DecodedRecord(schema, record.data(), uint32_t(record.size()), configuration);
}

// Decodes one body field of record type 1 over body (after a header naming type 1).
std::optional<RecordEntry> DecodeOne(const FieldDescriptor& field, const Bytes& body) {
    const DecodedRecord record =
        Decode(Schema({kHeader, Table(1, 0, {field})}), Concat({{0, 0, 1, 0, 0, 0}, body}));
    const auto it = record.entries.find(field.id);
    return it == record.entries.end() ? std::nullopt : std::optional<RecordEntry>(it->second);
}

// Numbers are shifted, masked and sign-extended; text runs to its NUL, bytes are written out.
TEST(RecordDecoding, EachFieldTypeDecodesToItsValueOrText) {
    // 130 bytes: lines of 65, 64 and 1.
    std::string lines130;
    Bytes body130;
    for (int i = 0; i < 130; ++i) {
        body130.push_back(i % 2 ? 0xAB : 0x01);
        lines130 += std::string(i % 2 ? " ab" : " 01") + (i == 64 || i == 128 ? "\r\n" : "");
    }
    lines130 += "\r\n";
    struct Case {
        uint16_t word, width;
        uint8_t shift, type;
        Bytes body;
        uint32_t value;
        std::string text;
    };
    const Case cases[] = {
        {0, 4, 4, 0, {0xA5}, 10, ""},
        {0, 4, 4, 2, {0xA5}, 0xFFFFFFFA, ""},
        {1, 16, 0, 1, {0, 0, 0xCD, 0xAB}, 0xABCD, ""},  // the last two bytes; the rest counts as 0
        {0, 32, 0, 2, {0x78, 0x56, 0x34, 0x92}, 0x92345678, ""},
        {0, 32, 0, 10, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, ""},
        {0, 0, 0, 0, {0xFF}, 0, ""},
        {0, 0, 0, 2, {0xFF}, 0, ""},
        {0, 64, 0, 11, {1, 2, 3, 4, 5, 6, 7, 8}, 0x04030201, ""},
        {0, 8, 40, 0, {0, 0, 0, 0x80}, 0xFF, ""},  // arithmetic: only sign bits are left
        {0, 8, 40, 0, {0xFF, 0xFF, 0xFF, 0x7F}, 0, ""},
        {0, 12, 28, 2, {0, 0, 0, 0x80}, 0xFFFFFFF8, ""},
        {0, 16, 0, 7, {0x34, 0x12}, 0x1234, ""},  // unknown types decode as numbers
        {0, 40, 0, 3, {'A', 'B', 'C', 0, 'Z'}, 0, "ABC\r\n"},
        {0, 16, 0, 3, {'A', 'B', 'C', 'D', 'E'}, 0, "ABCDE\r\n"},  // no NUL: past the width
        {0, 0, 0, 3, {}, 0, "\r\n"},
        {0, 16, 0, 4, {0x01, 0xAB, 0xCC}, 0, " 01 ab\r\n"},
        {0, 0, 0, 4, {0x01}, 0, "\r\n"},
        {0, 130 * 8, 0, 4, body130, 0, lines130},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "/" << int(c.shift) << "/" << int(c.type));
        const auto entry = DecodeOne({77, c.word, c.shift, c.type, c.width}, c.body);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->value, c.value);
        EXPECT_EQ(entry->type, c.type);
        EXPECT_EQ(entry->text, c.text);
    }
}

TEST(RecordDecoding, MissingAndDuplicateTables) {
    const Bytes body3 = Table(3, 0, {{8, 0, 0, 0, 8}, {30, 0, 0, 0, 8}});
    const Bytes other3 = Table(3, 0, {{31, 0, 0, 0, 8}});
    const Bytes config1 = Table(1, 0, {{200, 0, 0, 0, 16}});
    const Bytes headerWithout8 = Table(255, 2, {{0, 0, 0, 0, 16}});
    const Bytes type3 = {7, 0, 3, 0, 0, 0, 9};
    const Bytes type4 = {7, 0, 4, 0, 0, 0, 9};
    struct Case {
        std::vector<Bytes> schema;
        Bytes record;
        bool configuration;
        std::vector<int32_t> ids;
        std::string error;  // the line logged, without "parseRecData: error, "
    };
    const Case cases[] = {
        {{kHeader, body3, other3}, type3, false, {0, 8, 30}, ""},  // the first table
        {{kHeader, other3}, type4, false, {0, 8}, "invalid recType :4 or missing schema"},
        {{body3}, type3, false, {}, "no header table in the schema"},
        {{headerWithout8, body3}, type3, false, {}, "record header without field 8"},
        {{config1}, {1, 0xE8, 0x03}, true, {200}, ""},
        {{config1}, {2, 0xE8, 0x03}, true, {}, "invalid recType :2 or missing schema"},
        {{Table(0x80, 0, {})}, {0x80}, true, {}, "invalid recType :ffffff80 or missing schema"},
        {{config1}, {}, true, {}, "empty configuration record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const LogSince log;
        const DecodedRecord record = Decode(Schema(c.schema), c.record, c.configuration);
        std::vector<int32_t> ids;
        for (const auto& entry : record.entries) {
            ids.push_back(entry.first);
        }
        EXPECT_EQ(ids, c.ids);
        if (!c.error.empty()) {
            EXPECT_EQ(log.count("parseRecData: error, " + c.error + "\n"), 1);
        }
    }
}

TEST(RecordDecoding, ShortTablesAndRecordsAreNeverReadPastTheirEnd) {
    // Declares three fields but holds one and a half; the copy is exact, so ASan sees overruns.
    Bytes cut = Table(1, 0, {{200, 0, 0, 0, 16}, {201, 1, 0, 0, 16}, {202, 2, 0, 0, 16}});
    cut.resize(kSchemaTableHeadSize + 12);
    const LogSince log;
    SchemaList schema = Schema({cut, Bytes{0, 0, 0, 0, 1, 0}});
    EXPECT_EQ(log.count("SchemaTable: table 1 declares 3 fields but holds 1\n"), 1);
    EXPECT_EQ(log.count("SchemaTable: a table of 6 bytes has no head\n"), 1);
    EXPECT_EQ(findSchemaTable(schema, schema[1].recordType()), nullptr);
    EXPECT_EQ(Decode(schema, {1, 0x10, 0x00}, true).entries.size(), 1u);
    EXPECT_EQ(log.count("SchemaTable:"), 2);  // decoding logs nothing more about the table

    // Two body fields past the record's end are left out, with one line for the record.
    schema =
        Schema({kHeader, Table(1, 0, {{30, 0, 0, 0, 16}, {31, 1, 0, 3, 8}, {32, 2, 0, 4, 8}})});
    const DecodedRecord record = Decode(schema, {0, 0, 1, 0, 0, 0, 0x22, 0x11});
    EXPECT_EQ(record.entries.size(), 3u);
    EXPECT_EQ(record.entries.at(30).value, 0x1122u);
    EXPECT_EQ(log.count("parseRecData: 2 fields of recType 1 lie beyond the record's 8 bytes\n"),
              1);
}

}  // namespace
