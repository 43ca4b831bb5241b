// Command-line options of lumora-reader-sim, turned into ReaderSimOptions and the scenario to
// load. Plain functions; no shared state.
#pragma once

#include <string>

#include "tools/reader-sim/reader_sim.h"
#include "tools/reader-sim/scenario.h"

struct SimProgramOptions {
    ReaderSimOptions sim;
    std::string scenario = "default";  // "default", "worked-example" or a JSON file
    DefaultScenarioParams defaults;
};

enum class SimArgsResult : uint8_t { ok, help, error };

// Parses argv (argv[0] skipped). help: *message is the --help text; error: *message says what
// is wrong.
SimArgsResult ParseSimArgs(int argc, const char* const* argv, SimProgramOptions* out,
                           std::string* message);
