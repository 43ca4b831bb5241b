#include "tools/reader-sim/record_schema.h"

#include <gtest/gtest.h>

#include <fstream>
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

struct Decoded {
    uint32_t value = 0;
    std::string bytes;  // text up to its NUL, or the raw bytes of a bytes field
};

// Independent decoder written from the host's decoding rules, used as the oracle.
std::map<uint16_t, Decoded> Decode(const std::vector<TableDef>& schema,
                                   const std::vector<uint8_t>& record, bool configuration) {
    std::map<uint16_t, Decoded> entries;
    auto decodeTable = [&](const TableDef& table, size_t base) {
        for (const FieldDef& f : table.fields) {
            const size_t p = base + 2u * f.word;
            const size_t s = f.width / 8u;
            if (p + s > record.size()) {
                continue;
            }
            Decoded d;
            if (f.type == 3) {
                for (size_t i = p; i < record.size() && record[i] != 0; ++i) {
                    d.bytes.push_back(static_cast<char>(record[i]));
                }
            } else if (f.type == 4) {
                d.bytes.assign(record.begin() + p, record.begin() + p + s);
            } else {
                uint32_t word = 0;
                for (size_t i = 0; i < 4; ++i) {
                    word |= (p + i < record.size() ? uint32_t{record[p + i]} : 0u) << (8 * i);
                }
                uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(word) >> f.shift);
                if (f.width < 32) {
                    v &= (1u << f.width) - 1u;
                    if (f.type == 2 && f.width > 0 && (v >> (f.width - 1)) & 1u) {
                        v |= ~((1u << f.width) - 1u);
                    }
                }
                d.value = v;
            }
            entries[f.id] = d;
        }
    };
    size_t bodyOffset = 1;
    uint32_t recType = record.empty() ? 0 : record[0];
    if (!configuration) {
        const TableDef* header = FindTable(schema, 255);
        bodyOffset = 2u * header->headerWords;
        decodeTable(*header, 0);
        recType = entries[8].value;
    }
    if (const TableDef* body = FindTable(schema, static_cast<uint16_t>(recType))) {
        decodeTable(*body, bodyOffset);
    }
    return entries;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimRecordSchema, WorkedExampleProducesTheDocumentedBytes) {
    const std::string path = std::string(LUMORA_SIM_SCENARIO_DIR) + "/worked-example.json";
    // The compiled-in copy is the shipped file, byte for byte.
    EXPECT_EQ(WorkedExampleScenarioJson(), ReadFile(path));
    std::string error;
    auto s = LoadScenario(path, DefaultScenarioParams(), &error);
    ASSERT_TRUE(s) << error;

    ASSERT_EQ(s->schema.size(), 2u);
    EXPECT_EQ(EncodeSchemaTable(s->schema[0]),
              Hex("00 00 00 00 FF 00 02 00 02 00 00 00 00 00 00 00 10 00 08 00 01 00 00 00 10 00"));
    EXPECT_EQ(EncodeSchemaTable(s->schema[1]),
              Hex("00 00 00 00 05 00 00 00 02 00 5A 00 00 00 00 03 50 00 64 00 05 00 04 02 04 00"));

    const RecordTable& table = s->tables.at(6);
    ASSERT_EQ(table.count, 1u);
    const std::vector<uint8_t> record = table.record(0);
    EXPECT_EQ(record, Hex("07 00 05 00 41 42 43 00 00 00 00 00 00 00 F0 00"));
    auto entries = Decode(s->schema, record, false);
    EXPECT_EQ(entries[0].value, 7u);
    EXPECT_EQ(entries[90].bytes, "ABC");
    EXPECT_EQ(entries[100].value, 0xFFFFFFFFu);
    // The download asks for calibration 1 until it gets it, so the example carries one.
    EXPECT_EQ(s->configRecords.count(1), 1u);
}

TEST(SimRecordSchema, DefaultRecordsDecodeToPlausibleSeededValues) {
    DefaultScenarioParams params;
    params.records = 200;
    params.events = 5;
    params.seed = 42;
    auto s = MakeDefaultScenario(params);
    ASSERT_EQ(s->tables.at(6).count, 200u);
    std::string sensor;
    for (uint32_t i : {0u, 1u, 95u, 199u}) {
        const auto record = s->tables.at(6).record(i);
        ASSERT_EQ(record.size(), 40u) << i;
        auto e = Decode(s->schema, record, false);
        EXPECT_EQ(e[0].value, i + 1);
        EXPECT_EQ(e[8].value, 16u);
        EXPECT_EQ(e[90].bytes.size(), 10u);
        if (sensor.empty()) {
            sensor = e[90].bytes;
        }
        EXPECT_EQ(e[90].bytes, sensor) << "one sensor for every reading";
        EXPECT_GE(e[100].value, 80u);
        EXPECT_LE(e[100].value, 300u);
        const int32_t trend = static_cast<int32_t>(e[102].value);
        EXPECT_TRUE(trend != 0 && trend >= -3 && trend <= 3) << trend;
        EXPECT_EQ(e[103].value, i * 15);
        const int32_t temperature = static_cast<int32_t>(e[105].value);
        EXPECT_TRUE(temperature >= -4096 && temperature < 4096) << temperature;
        EXPECT_EQ(e[106].bytes.size(), 8u);
    }
    auto event = Decode(s->schema, s->tables.at(7).record(4), false);
    EXPECT_EQ(event[8].value, 17u);
    EXPECT_EQ(event[0].value, 5u);
    auto calibration = Decode(s->configSchema, s->configRecords.at(1), true);
    EXPECT_EQ(calibration[202].value, 20160u);
    EXPECT_EQ(calibration[203].bytes.substr(0, 3), "LOT");

    // The seed alone fixes every byte; another seed gives other values.
    auto again = MakeDefaultScenario(params);
    params.seed = 43;
    auto other = MakeDefaultScenario(params);
    EXPECT_EQ(s->tables.at(6).record(150), again->tables.at(6).record(150));
    EXPECT_EQ(s->serial, again->serial);
    EXPECT_NE(s->tables.at(6).record(150), other->tables.at(6).record(150));
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

std::vector<TableDef> EdgeSchema() {
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
    return {header, body, config};
}

TEST(SimRecordSchema, ValuesAtTheEdgesOfTheirFieldsRoundTrip) {
    const auto schema = EdgeSchema();
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
    std::vector<uint8_t> record;
    std::string error;
    ASSERT_TRUE(EncodeRecord(schema, false, 9, v, -1, &record, &error)) << error;
    // Header of 6 bytes, body up to the bit field in word 10, rounded to whole words.
    EXPECT_EQ(record.size(), 6u + 24u);
    auto e = Decode(schema, record, false);
    EXPECT_EQ(e[8].value, 9u);
    EXPECT_EQ(e[1].value, 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<int32_t>(e[10].value), -128);
    EXPECT_EQ(static_cast<int32_t>(e[11].value), 127);
    EXPECT_EQ(e[12].value, 0xFFFu);
    EXPECT_EQ(e[13].value, 0x80000001u);
    EXPECT_EQ(static_cast<int32_t>(e[14].value), INT32_MIN);
    EXPECT_EQ(e[15].bytes, "hello");
    EXPECT_EQ(e[16].bytes, std::string("\x01\xAB\x00", 3));
    EXPECT_EQ(e[17].value, 1u);

    FieldValues c;
    c[20] = FieldValue::Number(-32);
    ASSERT_TRUE(EncodeRecord(schema, true, 3, c, -1, &record, &error)) << error;
    EXPECT_EQ(record, Hex("03 80 00"));
    EXPECT_EQ(static_cast<int32_t>(Decode(schema, record, true)[20].value), -32);

    // A forced length cuts the record; the host then skips the fields that no longer fit.
    ASSERT_TRUE(EncodeRecord(schema, false, 9, v, 8, &record, &error)) << error;
    EXPECT_EQ(record.size(), 8u);
    e = Decode(schema, record, false);
    EXPECT_EQ(e.count(14), 0u);
    EXPECT_EQ(static_cast<int32_t>(e[10].value), -128);
}

TEST(SimRecordSchema, RejectsValuesThatDoNotFit) {
    struct Case {
        bool configuration;
        uint16_t recordType;
        uint16_t id;
        FieldValue value;
        const char* what;
    };
    const Case cases[] = {
        {false, 9, 10, FieldValue::Number(-129), "value -129 outside -128..127"},
        {false, 9, 11, FieldValue::Number(128), "outside -128..127"},
        {false, 9, 12, FieldValue::Number(4096), "outside 0..4095"},
        {false, 9, 12, FieldValue::Number(-1), "outside 0..4095"},
        {false, 9, 17, FieldValue::Number(2), "outside 0..1"},
        {false, 9, 15, FieldValue::Bytes("hello!"), "6 bytes do not fit in 5"},
        {false, 9, 15, FieldValue::Number(1), "expects a text"},
        {false, 9, 16, FieldValue::Number(1), "expects hex bytes"},
        {false, 9, 10, FieldValue::Bytes("x"), "expects a number"},
        {false, 9, 99, FieldValue::Number(0), "has no field 99"},
        {false, 9, 8, FieldValue::Number(5), "header field 8 contradicts"},
        {false, 4, 10, FieldValue::Number(0), "no table for record type 4"},
        {true, 9, 1, FieldValue::Number(0), "has no field 1"},
        {true, 300, 20, FieldValue::Number(0), "does not fit its one byte"},
    };
    for (const Case& c : cases) {
        FieldValues values;
        values[c.id] = c.value;
        std::vector<uint8_t> record;
        std::string error;
        EXPECT_FALSE(
            EncodeRecord(EdgeSchema(), c.configuration, c.recordType, values, -1, &record, &error))
            << c.what;
        EXPECT_NE(error.find(c.what), std::string::npos) << c.what << " -> " << error;
    }
    // A bit field reaching past its 32-bit word cannot be written so that it reads back.
    TableDef header;
    header.recordType = 255;
    header.fields = {Field(8, 1, 0, 0, 16), Field(5, 0, 20, 0, 16)};
    FieldValues values;
    values[5] = FieldValue::Number(1);
    std::vector<uint8_t> record;
    std::string error;
    EXPECT_FALSE(EncodeRecord({header}, false, 255, values, -1, &record, &error));
    EXPECT_NE(error.find("shift + width exceed 32"), std::string::npos) << error;
}

TEST(SimScenario, JsonMistakesNameTheirOffset) {
    struct Case {
        std::string json;
        std::string at;  // the text the error must point to
        const char* what;
    };
    const std::string schema =
        R"("schema": [{"recordType": 255, "headerWords": 1, "fields": [{"id": 8, "word": 0, "type": 0, "width": 16}]},
                      {"recordType": 2, "fields": [{"id": 3, "word": 0, "type": 0, "width": 8}]}])";
    const Case cases[] = {
        {R"({"serail": "x"})", R"("x")", "unknown member \"serail\""},
        {R"({"identity": 5})", "5", "\"identity\" must be a string"},
        {R"({"clock": {"month": 13}})", "13", "clock month must be 1..12"},
        {R"({"schema": [{"fields": []}]})", R"({"fields")", "needs \"recordType\""},
        {R"({"schema": [{"recordType": 1, "fields": [{"id": 1, "word": 0, "type": 0}]}]})",
         R"({"id")", "needs \"width\""},
        {"{" + schema + R"(, "tables": {"256": []}})", "[]}", "table id \"256\""},
        {"{" + schema + R"(, "tables": {"6": [{"hex": "0 1"}]}})", R"("0 1")", "pairs of hex"},
        {"{" + schema + R"(, "tables": {"6": [{"hex": "012"}]}})", R"("012")", "half a byte"},
        {"{" + schema + R"(, "tables": {"6": [{"recordType": 2, "fields": {"3": 256}}]}})",
         R"({"recordType": 2, "fields": {"3")", "value 256 outside 0..255"},
        {"{" + schema + R"(, "tables": {"6": [{"recordType": 2, "fields": {"3": 1.5}}]}})", "1.5",
         "must be an integer"},
        {"{" + schema + R"(, "config": {"1": {"recordType": 2}}})", R"({"recordType": 2})",
         "no table for record type 2"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseScenario(c.json, "s.json", &error)) << c.json;
        const size_t offset = c.json.find(c.at);
        ASSERT_NE(offset, std::string::npos) << c.at;
        EXPECT_EQ(error.rfind("s.json: offset " + std::to_string(offset) + " ", 0), 0u)
            << c.json << " -> " << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << c.json << " -> " << error;
    }
}

}  // namespace
