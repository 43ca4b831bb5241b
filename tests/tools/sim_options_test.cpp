#include <gtest/gtest.h>

#include <vector>

#include "tools/reader-sim/sim_options.h"

namespace {

TEST(SimOptions, RefusesWhatWouldBeMisreadOrIgnored) {
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"--seed", " -1"}, "--seed: bad value \" -1\" (see --help)"},
        {{"--records", "\t7"}, "--records: bad value \"\t7\" (see --help)"},
        {{"--replug-after-ms", "10"},
         "--replug-after-ms: needs --unplug-after-packets, the unplug it follows"},
        {{"--seed", "7", "--unplug-after-packets", "3", "--replug-after-ms", "10"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"lumora-reader-sim", "--dir", "/tmp"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SimProgramOptions options;
        std::string message;
        const SimArgsResult result =
            ParseSimArgs(int(argv.size()), argv.data(), &options, &message);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(result, *c.message ? SimArgsResult::error : SimArgsResult::ok) << c.message;
    }
}

}  // namespace
