#include <cstdlib>
#include <memory>

#include "download_reference.h"
#include "tools/reader-sim/scenario.h"

ScenarioBytes scenarioBytes(const std::string& scenario, uint32_t records, uint32_t events,
                            uint64_t seed) {
    std::string error;
    const std::shared_ptr<const Scenario> s =
        LoadScenario(scenario, DefaultScenarioParams{records, events, seed}, &error);
    if (!s) {
        std::abort();
    }
    ScenarioBytes bytes;
    bytes.readerSerial = s->serial;
    for (const TableDef& table : s->schema) {
        bytes.schema.push_back(EncodeSchemaTable(table));
    }
    for (const TableDef& table : s->configSchema) {
        bytes.configSchema.push_back(EncodeSchemaTable(table));
    }
    auto copyTable = [&s](uint8_t id, std::vector<std::vector<uint8_t>>* out) {
        const auto table = s->tables.find(id);
        for (uint32_t i = 0; table != s->tables.end() && i < table->second.count; ++i) {
            out->push_back(table->second.record(i));
        }
    };
    copyTable(kAAPRecordsTable, &bytes.table6);
    copyTable(kAAPEventsTable, &bytes.table7);
    const auto calibration = s->configRecords.find(kAAPCalibrationConfig);
    if (calibration != s->configRecords.end()) {
        bytes.calibration = calibration->second;
    }
    return bytes;
}
