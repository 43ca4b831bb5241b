// What a built-in simulator scenario holds, as the bytes the reader sends, for the download
// benchmark. Plain types only, for files that include the host's schema header, whose names
// clash with the simulator's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScenarioBytes {
    std::string readerSerial;  // the "$sn?" reply
    std::vector<std::vector<uint8_t>> schema;
    std::vector<std::vector<uint8_t>> configSchema;
    std::vector<std::vector<uint8_t>> table6;  // records without the answer's leading byte
    std::vector<std::vector<uint8_t>> table7;
    std::vector<uint8_t> calibration;  // configuration record 1; empty when there is none
};

// "default" (with records, events and seed as the simulator's options) or "worked-example".
ScenarioBytes scenarioBytes(const std::string& scenario, uint32_t records = 96, uint32_t events = 8,
                            uint64_t seed = 1);
