// The simulator's records are the end-to-end tests' input and, decoded, their expected output;
// only these byte-level checks tie them to the format.
#include "tools/reader-sim/record_schema.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/reader-sim/scenario.h"

namespace {

std::vector<uint8_t> Hex(const char* text) {
    std::vector<uint8_t> out;
    std::istringstream in(text);
    unsigned byte;
    while (in >> std::hex >> byte) {
        out.push_back(static_cast<uint8_t>(byte));
    }
    return out;
}

TEST(SimRecordSchema, WorkedExampleProducesTheDocumentedBytes) {
    std::string error;
    auto s = LoadScenario("worked-example", DefaultScenarioParams(), &error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->schema.size(), 2u);
    EXPECT_EQ(EncodeSchemaTable(s->schema[0]),
              Hex("00 00 00 00 FF 00 02 00 02 00 00 00 00 00 00 00 10 00 08 00 01 00 00 00 10 00"));
    EXPECT_EQ(EncodeSchemaTable(s->schema[1]),
              Hex("00 00 00 00 05 00 00 00 02 00 5A 00 00 00 00 03 50 00 64 00 05 00 04 02 04 00"));
    ASSERT_EQ(s->tables.at(6).count, 1u);
    EXPECT_EQ(s->tables.at(6).record(0), Hex("07 00 05 00 41 42 43 00 00 00 00 00 00 00 F0 00"));
}

FieldDef Field(uint16_t id, uint16_t word, uint8_t shift, uint8_t type, uint16_t width) {
    FieldDef f;
    f.id = id;
    f.word = word;
    f.shift = shift;
    f.type = type;
    f.width = width;
    return f;
}

TEST(SimRecordSchema, ValuesAtTheEdgesOfTheirFieldsGoWhereTheFormatPutsThem) {
    TableDef header;
    header.recordType = 255;
    header.headerWords = 3;
    header.fields = {Field(8, 0, 0, 0, 16), Field(1, 1, 0, 0, 32)};
    TableDef body;
    body.recordType = 9;
    body.fields = {Field(10, 0, 0, 2, 8),   Field(11, 0, 8, 2, 8),  Field(12, 1, 4, 0, 12),
                   Field(13, 2, 0, 11, 32), Field(14, 4, 0, 2, 32), Field(15, 6, 0, 3, 48),
                   Field(16, 9, 0, 4, 24),  Field(17, 10, 31, 1, 1)};
    TableDef config;
    config.recordType = 3;
    config.fields = {Field(20, 0, 2, 2, 6)};
    const std::vector<TableDef> schema = {header, body, config};

    FieldValues v;
    v[1] = FieldValue::Number(0xFFFFFFFFll);
    v[10] = FieldValue::Number(-128);
    v[11] = FieldValue::Number(127);
    v[12] = FieldValue::Number(0xFFF);
    v[13] = FieldValue::Number(0x80000001ll);
    v[14] = FieldValue::Number(-2147483648ll);
    v[15] = FieldValue::Bytes("hello");
    v[16] = FieldValue::Bytes("\x01\xAB");
    v[17] = FieldValue::Number(1);
    const struct {
        bool configuration;
        uint16_t recordType;
        FieldValues values;
        int64_t forcedLength;
        const char* bytes;
    } cases[] = {
        // Header: type 9, field 1; body from byte 6, up to field 17's word, in whole words.
        {false, 9, v, -1,
         "09 00 FF FF FF FF  80 7F F0 FF 01 00 00 80 00 00 00 80 68 65 6C 6C 6F 00 01 AB 00 00 00 "
         "80"},
        {false, 9, v, 8, "09 00 FF FF FF FF 80 7F"},
        {true, 3, {{20, FieldValue::Number(-32)}}, -1, "03 80 00"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> record;
        std::string error;
        ASSERT_TRUE(EncodeRecord(schema, c.configuration, c.recordType, c.values, c.forcedLength,
                                 &record, &error))
            << error;
        EXPECT_EQ(record, Hex(c.bytes)) << c.bytes;
    }
}

}  // namespace
