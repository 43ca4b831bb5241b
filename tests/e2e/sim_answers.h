// What a simulated reader sends back, computed by the simulator's own responder, so tests and
// benchmarks compare against the reader rather than against a second encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/reader-sim/reader_responder.h"
#include "tools/reader-sim/scenario.h"

// The AAP byte stream the reader answers request with.
inline std::vector<uint8_t> AnswerTo(const std::shared_ptr<const Scenario>& scenario,
                                     const std::vector<uint8_t>& request) {
    ReaderResponder responder(scenario, -1, ResponderObserver());
    responder.onMessageBytes(request.data(), static_cast<uint32_t>(request.size()));
    std::vector<uint8_t> stream;
    uint8_t chunk[4096];
    while (const uint32_t n = responder.takeStreamBytes(chunk, sizeof chunk)) {
        stream.insert(stream.end(), chunk, chunk + n);
    }
    return stream;
}

// The text the reader replies to command (which ends in CR LF).
inline std::string ReplyTo(const std::shared_ptr<const Scenario>& scenario,
                           const std::string& command) {
    ReaderResponder responder(scenario, -1, ResponderObserver());
    return responder.onTextBytes(reinterpret_cast<const uint8_t*>(command.data()),
                                 static_cast<uint32_t>(command.size()));
}

// The request for every record of the default reader's readings table.
inline std::vector<uint8_t> ReadingsRequest() {
    return AapEncode(kAAPRecord, std::vector<uint8_t>{6});
}

// Readings records of the default reader whose answer holds at least bytes.
inline uint32_t ReadingsFor(size_t bytes) {
    DefaultScenarioParams params;
    params.records = 1;
    const size_t perRecord = AnswerTo(MakeDefaultScenario(params), ReadingsRequest()).size() -
                             AapEncode(kAAPRecord, nullptr, 0).size();
    return static_cast<uint32_t>(bytes / perRecord + 1);
}
