// lumora-reader-sim: a simulated reader on the socket device, until it is told to stop.
#include <cstdio>
#include <string>

#include "platform/program_version.h"
#include "platform/stop_signal.h"
#include "tools/reader-sim/reader_sim.h"
#include "tools/reader-sim/sim_options.h"

int main(int argc, char** argv) {
    if (PrintVersionIfAsked(argc, argv, "lumora-reader-sim")) {
        return 0;
    }
    SimProgramOptions options;
    std::string message;
    switch (ParseSimArgs(argc, argv, &options, &message)) {
        case SimArgsResult::help:
            std::fputs(message.c_str(), stdout);
            return 0;
        case SimArgsResult::error:
            std::fprintf(stderr, "lumora-reader-sim: %s (see --help)\n", message.c_str());
            return 2;
        case SimArgsResult::ok:
            break;
    }
    options.sim.scenario = LoadScenario(options.scenario, options.defaults, &message);
    if (!options.sim.scenario) {
        std::fprintf(stderr, "lumora-reader-sim: %s\n", message.c_str());
        return 1;
    }

    PrepareStopSignal();

    // Straight to standard error, whatever the debug log of a host in the same shell is set to.
    const std::string name = options.sim.name;
    options.sim.logSink = [name](const char* line) {
        std::fprintf(stderr, "lumora-reader-sim [%s]: %s\n", name.c_str(), line);
    };
    ReaderSim sim(options.sim);
    if (!sim.start(&message)) {
        std::fprintf(stderr, "lumora-reader-sim: %s\n", message.c_str());
        return 1;
    }
    WaitForStopSignal();
    sim.stop();
    return 0;
}
