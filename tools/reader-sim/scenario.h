// What a simulated reader holds: its texts, clock, schema, records and configuration records.
// Built from a JSON file, or built in: "default" (a plausible reader whose records come from a
// seed) and "worked-example" (the small two-table schema with its one record).
//
// A Scenario is immutable once built and may be shared between threads; the record generators
// of the built-in default are pure functions of their index.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/reader-sim/record_schema.h"

// The records of one database table. Records are made on demand so that a large table costs no
// memory until it is downloaded, and then only one record at a time.
struct RecordTable {
    uint32_t count = 0;
    std::function<std::vector<uint8_t>(uint32_t index)> record;
};

struct Scenario {
    std::string identity;
    uint8_t identityClass = 1;
    std::string serial;
    std::string secondLine;
    std::string subjectName;
    // second, minute, hour, day, month, year low, year high, one further byte.
    std::array<uint8_t, 8> clock{};
    std::vector<TableDef> schema;
    std::vector<TableDef> configSchema;
    std::map<uint8_t, RecordTable> tables;                  // by table id
    std::map<uint8_t, std::vector<uint8_t>> configRecords;  // by configuration id
};

struct DefaultScenarioParams {
    uint32_t records = 96;  // table 6
    uint32_t events = 8;    // table 7
    uint64_t seed = 1;
};

// Longest identity text: the identity packet also carries the class byte.
constexpr size_t kMaxIdentityText = 61;

// Returns the built-in default reader.
std::shared_ptr<const Scenario> MakeDefaultScenario(const DefaultScenarioParams& params);

// Parses a scenario from JSON text. On failure returns null and sets error to a message that
// names sourceName and the offset of the offending value.
std::shared_ptr<const Scenario> ParseScenario(const std::string& json,
                                              const std::string& sourceName, std::string* error);

// Resolves "default", "worked-example" or a path to a JSON file. params apply to the default.
std::shared_ptr<const Scenario> LoadScenario(const std::string& nameOrPath,
                                             const DefaultScenarioParams& params,
                                             std::string* error);

// The JSON text of the built-in worked example (also shipped as scenarios/worked-example.json).
const std::string& WorkedExampleScenarioJson();
