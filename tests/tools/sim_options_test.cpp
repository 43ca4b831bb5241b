#include <gtest/gtest.h>

#include <vector>

#include "tools/reader-sim/sim_options.h"

namespace {

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
