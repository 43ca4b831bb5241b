// The worked example's bytes, which the end-to-end tests expect to decode to the documented
// record: this tells a fault of the simulator's encoding from one of the host's decoding. And
// what the simulator says of a scenario file or options it cannot use.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/reader-sim/scenario.h"
#include "tools/reader-sim/sim_options.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimRecordSchema, WorkedExampleProducesTheDocumentedBytes) {
    std::string error;
    auto s = LoadScenario("worked-example", DefaultScenarioParams(), &error);
    ASSERT_TRUE(s && s->schema.size() == 2 && s->tables.at(6).count == 1) << error;
    EXPECT_EQ(EncodeSchemaTable(s->schema[0]), (Bytes{0, 0, 0, 0,  0xFF, 0, 2, 0, 2, 0, 0, 0,  0,
                                                      0, 0, 0, 16, 0,    8, 0, 1, 0, 0, 0, 16, 0}));
    EXPECT_EQ(EncodeSchemaTable(s->schema[1]), (Bytes{0, 0, 0, 0,  5, 0,   0, 0, 2, 0, 90, 0, 0,
                                                      0, 0, 3, 80, 0, 100, 0, 5, 0, 4, 2,  4, 0}));
    EXPECT_EQ(s->tables.at(6).record(0),
              (Bytes{7, 0, 5, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 0xF0, 0}));
}

// The syntax error's own words are the library's: only the place is ours to check.
TEST(SimScenario, ErrorsNameTheFileAndWhereTheFaultIs) {
    const struct {
        const char* json;
        const char* error;  // the message starts so
    } cases[] = {
        {"{\"serial\": \"x\",\n \"clock\": {}}}", "s.json: parse error at line 2, column 14: "},
        {R"({"clock": {"month": 1, "month": 2}})", "s.json: duplicate member \"month\""},
        {R"({"clock": {"month": 13}})", "s.json: /clock/month: clock month must be 1..12, not 13"},
        {R"({"config": []})", "s.json: /config: \"config\" must be an object, not array"},
        {R"({"tables": {"6": [{"recordType": 5, "fields": {"0": 1.5}}]}})",
         "s.json: /tables/6/0/fields/0: field 0 must be an integer"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseScenario(c.json, "s.json", &error)) << c.json;
        EXPECT_EQ(error.substr(0, std::strlen(c.error)), c.error);
    }
}

SimArgsResult Parse(std::vector<const char*> args, SimProgramOptions* options,
                    std::string* message) {
    args.insert(args.begin(), {"lumora-reader-sim", "--dir", "/tmp"});
    return ParseSimArgs(int(args.size()), args.data(), options, message);
}

TEST(SimOptions, RefusesWhatWouldBeMisreadOrIgnored) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--seed", " -1"}, "--seed: bad value \" -1\""},
        {{"--records", "\t7"}, "--records: bad value \"\t7\""},
        {{"--records", "0x10"}, "--records: bad value \"0x10\""},
        {{"--drop", "nan"}, "--drop: bad value \"nan\""},
        {{"--replug-after-ms", "10"}, "--replug-after-ms requires --unplug-after-packets"},
        {{"--seed", "7", "--unplug-after-packets", "3", "--replug-after-ms", "10"}, ""},
    };
    for (const auto& c : cases) {
        SimProgramOptions options;
        std::string message;
        const SimArgsResult result = Parse(c.args, &options, &message);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(result, *c.message ? SimArgsResult::error : SimArgsResult::ok) << c.message;
    }
}

}  // namespace
