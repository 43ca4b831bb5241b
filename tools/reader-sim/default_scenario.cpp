// The built-in reader: a header table, a reading record in table 6, an event record in table 7
// and one calibration configuration record. Record i of a table is a pure function of the seed
// and i, so a table of any size streams without being held in memory.
#include <string>

#include "platform/debug_log.h"
#include "tools/reader-sim/scenario.h"
#include "tools/reader-sim/sim_random.h"

namespace {

constexpr uint16_t kReadingType = 16;
constexpr uint16_t kEventType = 17;
constexpr uint16_t kCalibrationType = 1;

// Stream labels keep the values of different tables independent of each other.
enum : uint64_t { kStreamTexts = 1, kStreamReadings = 2, kStreamEvents = 3 };

FieldDef Field(uint16_t id, uint16_t word, uint8_t shift, uint8_t type, uint16_t width) {
    FieldDef f;
    f.id = id;
    f.word = word;
    f.shift = shift;
    f.type = type;
    f.width = width;
    return f;
}

std::vector<TableDef> DatabaseSchema() {
    TableDef header;
    header.recordType = kHeaderRecordType;
    header.headerWords = 4;
    header.fields = {Field(0, 0, 0, kFieldUnsigned0, 32),  // record number in its table
                     Field(kRecTypeFieldId, 2, 0, kFieldUnsigned0, 16),  // record type
                     Field(9, 3, 0, kFieldUnsigned0, 16)};               // body length in bytes
    TableDef reading;
    reading.recordType = kReadingType;
    reading.fields = {Field(90, 0, 0, kFieldText, 96),         // sensor serial
                      Field(100, 6, 0, kFieldUnsigned0, 16),   // glucose, mg/dL
                      Field(101, 6, 16, kFieldUnsigned1, 12),  // quality
                      Field(102, 6, 28, kFieldSigned, 4),      // trend
                      Field(103, 8, 0, kFieldUnsigned10, 24),  // minutes since sensor start
                      Field(104, 8, 24, kFieldUnsigned11, 8),  // status flags
                      Field(105, 10, 3, kFieldSigned, 13),     // temperature offset
                      Field(106, 12, 0, kFieldBytes, 64)};     // raw sensor bytes
    TableDef event;
    event.recordType = kEventType;
    event.fields = {Field(110, 0, 0, kFieldUnsigned0, 16),   // event code
                    Field(111, 1, 0, kFieldUnsigned10, 24),  // minutes since sensor start
                    Field(112, 2, 8, kFieldSigned, 16)};     // event parameter
    return {header, reading, event};
}

std::vector<TableDef> ConfigurationSchema() {
    TableDef calibration;
    calibration.recordType = kCalibrationType;
    calibration.fields = {Field(200, 0, 0, kFieldUnsigned0, 16),   // slope x 1000
                          Field(201, 1, 0, kFieldSigned, 16),      // intercept
                          Field(202, 2, 0, kFieldUnsigned10, 24),  // sensor life, minutes
                          Field(203, 4, 0, kFieldText, 80)};       // lot
    return {calibration};
}

std::string Characters(SimRandom& random, const char* alphabet, size_t alphabetSize, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out.push_back(alphabet[random.below(static_cast<uint32_t>(alphabetSize))]);
    }
    return out;
}

std::vector<uint8_t> MustEncode(const std::vector<TableDef>& schema, bool configuration,
                                uint16_t recordType, const FieldValues& values) {
    std::vector<uint8_t> out;
    std::string error;
    // The built-in values are made to fit; the simulator's tests decode them to make sure.
    if (!EncodeRecord(schema, configuration, recordType, values, -1, &out, &error)) {
        DebugLog("ReaderSim: built-in record not encoded: %s\n", error.c_str());
    }
    return out;
}

}  // namespace

std::shared_ptr<const Scenario> MakeDefaultScenario(const DefaultScenarioParams& params) {
    auto s = std::make_shared<Scenario>();
    static const char kDigits[] = "0123456789";
    static const char kSensorAlphabet[] = "0123456789ACDEFGHJKLMNPQRTUVWXYZ";
    SimRandom texts(SimSeedFor(params.seed, kStreamTexts, 0));
    s->identity = "LUMORA-SIM READER";
    s->identityClass = 1;
    s->serial = "RS" + Characters(texts, kDigits, 10, 8);
    s->secondLine = "FW 2.1.7";
    s->subjectName = "Test Subject";
    s->clock = {27, 41, 9, 14, 6, 0xE8, 0x07, 0};  // 2024-06-14 09:41:27
    s->schema = DatabaseSchema();
    s->configSchema = ConfigurationSchema();

    const std::string sensor = "0M" + Characters(texts, kSensorAlphabet, 32, 8);
    const std::string lot = "LOT" + Characters(texts, kDigits, 10, 6);
    auto schema = std::make_shared<const std::vector<TableDef>>(s->schema);
    const uint64_t seed = params.seed;

    RecordTable readings;
    readings.count = params.records;
    readings.record = [schema, seed, sensor](uint32_t i) {
        SimRandom r(SimSeedFor(seed, kStreamReadings, i));
        // A slow triangle wave with noise: plausible curves using integers only.
        const uint32_t phase = static_cast<uint32_t>(seed % 96);
        const uint32_t t = (i + phase) % 96;
        const int64_t rising = t < 48 ? 1 : -1;
        const int64_t level = t < 48 ? t : 96 - t;
        std::string raw;
        for (int b = 0; b < 8; ++b) {
            raw.push_back(static_cast<char>(r.below(256)));
        }
        FieldValues v;
        v[0] = FieldValue::Number(int64_t{i} + 1);
        v[9] = FieldValue::Number(32);
        v[90] = FieldValue::Bytes(sensor);
        v[100] = FieldValue::Number(80 + level * 4 + r.below(15));
        v[101] = FieldValue::Number(r.below(4096));
        v[102] = FieldValue::Number(rising * (1 + r.below(3)));
        v[103] = FieldValue::Number((int64_t{i} * 15) & 0xFFFFFF);
        v[104] = FieldValue::Number(r.below(256));
        v[105] = FieldValue::Number(static_cast<int64_t>(r.below(8192)) - 4096);
        v[106] = FieldValue::Bytes(raw);
        return MustEncode(*schema, false, kReadingType, v);
    };
    s->tables[kAAPRecordsTable] = readings;

    RecordTable events;
    events.count = params.events;
    events.record = [schema, seed](uint32_t i) {
        SimRandom r(SimSeedFor(seed, kStreamEvents, i));
        FieldValues v;
        v[0] = FieldValue::Number(int64_t{i} + 1);
        v[9] = FieldValue::Number(8);
        v[110] = FieldValue::Number(1 + r.below(12));
        v[111] = FieldValue::Number((int64_t{i} * 180 + r.below(180)) & 0xFFFFFF);
        v[112] = FieldValue::Number(static_cast<int64_t>(r.below(65536)) - 32768);
        return MustEncode(*schema, false, kEventType, v);
    };
    s->tables[kAAPEventsTable] = events;

    FieldValues calibration;
    calibration[200] = FieldValue::Number(900 + texts.below(201));
    calibration[201] = FieldValue::Number(static_cast<int64_t>(texts.below(101)) - 50);
    calibration[202] = FieldValue::Number(20160);
    calibration[203] = FieldValue::Bytes(lot);
    s->configRecords[kAAPCalibrationConfig] =
        MustEncode(s->configSchema, true, kCalibrationType, calibration);
    return s;
}
