#include "tools/reader-sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>

namespace {

std::string BadValue(const std::string& text) {
    return "bad value \"" + text + "\"";
}

// Plain decimal digits from low to high. CLI11 alone would also take a sign, white space, octal
// and hex, and a minus would wrap round to 2^64 - 1.
CLI::Validator Whole(uint64_t low, uint64_t high) {
    return CLI::Validator(
        [low, high](std::string& text) {
            errno = 0;
            const bool digits = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
            const unsigned long long v = digits ? std::strtoull(text.c_str(), nullptr, 10) : 0;
            if (!digits || errno != 0 || v < low || v > high) {
                return BadValue(text);
            }
            text = std::to_string(v);  // a leading zero would be read as octal
            return std::string();
        },
        "");
}

// As Whole, with an optional minus sign: -limit..limit.
CLI::Validator Signed(uint64_t limit) {
    return CLI::Validator(
        [limit](std::string& text) {
            const bool minus = text.rfind('-', 0) == 0;
            std::string magnitude = text.substr(minus ? 1 : 0);
            if (!Whole(0, limit)(magnitude).empty()) {
                return BadValue(text);
            }
            text = (minus ? "-" : "") + magnitude;
            return std::string();
        },
        "");
}

const CLI::Validator kProbability(
    [](std::string& text) {
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        return text.empty() || *end != '\0' || !(v >= 0.0 && v <= 1.0) ? BadValue(text)
                                                                       : std::string();
    },
    "");

}  // namespace

SimArgsResult ParseSimArgs(int argc, const char* const* argv, SimProgramOptions* out,
                           std::string* message) {
    ReaderSimOptions& sim = out->sim;
    uint64_t seed = sim.seed;
    uint64_t faultSeed = 0;
    uint32_t hostWindow = sim.hostWindow;
    bool quiet = false;
    constexpr uint64_t kAny = ~uint64_t{0};
    constexpr uint64_t kDay = 24ull * 3600 * 1000;
    constexpr uint64_t kClockOffsetLimitS = 100ull * 366 * 24 * 3600;  // the reader's years fit

    CLI::App app("Plays a glucose-sensor reader on a socket device in DIR until SIGINT or SIGTERM.",
                 "lumora-reader-sim");
    app.set_help_flag("-h,--help", "this text");
    app.add_option("--dir", sim.dir, "directory the host scans (LUMORA_HID_SOCKET_DIR)")
        ->required();
    app.add_option("--name", sim.name, "socket DIR/NAME-vid_1a61&pid_3650.sock (reader)")
        ->check(CLI::Validator(
            [](std::string& name) {
                return name.empty() || name.find('/') != name.npos ? BadValue(name) : "";
            },
            ""));
    app.add_option("--scenario", out->scenario, "default, worked-example or a JSON file (default)");
    app.add_option("--records", out->defaults.records,
                   "table 6 records of the default scenario (96)")
        ->transform(Whole(0, 0xFFFFFFFFu));
    app.add_option("--events", out->defaults.events, "table 7 records of the default scenario (8)")
        ->transform(Whole(0, 0xFFFFFFFFu));
    app.add_option("--window", sim.window, "own data packets in flight, 1..127 (8)")
        ->transform(Whole(1, 127));
    app.add_option("--host-window", hostWindow, "credit granted to the host at link start (4)")
        ->transform(Whole(0, 255));
    app.add_option("--pace-ms", sim.paceMs, "one report per X ms at most, on a fixed schedule (0)")
        ->transform(Whole(0, 60000));
    app.add_option("--seed", seed, "seed of the default scenario and the faults (1)")
        ->transform(Whole(0, kAny));
    CLI::Option* faultSeedOption =
        app.add_option("--fault-seed", faultSeed,
                       "seed of the faults alone, the scenario keeps --seed")
            ->transform(Whole(0, kAny));
    app.add_option("--drop", sim.dropP, "drop each outgoing data packet with probability P")
        ->check(kProbability);
    app.add_option("--corrupt", sim.corruptP,
                   "corrupt each outgoing data packet with probability P")
        ->check(kProbability);
    app.add_option("--duplicate", sim.duplicateP,
                   "send each outgoing data packet twice with prob. P")
        ->check(kProbability);
    app.add_option("--aap-error-once", sim.aapErrorOnce,
                   "answer the first AAP request of TYPE with an error")
        ->transform(Whole(0, 0xFFFF));
    app.add_option("--never-answer", sim.neverAnswer, "leave every AAP request of TYPE unanswered")
        ->transform(Whole(0, 0xFFFF));
    CLI::Option* unplug = app.add_option("--unplug-after-packets", sim.unplugAfterPackets,
                                         "unplug after N data packets were sent")
                              ->transform(Whole(1, kAny));
    app.add_option("--replug-after-ms", sim.replugAfterMs, "plug in again T ms after that unplug")
        ->transform(Whole(0, kDay))
        ->needs(unplug);
    app.add_option("--silent-after-packets", sim.silentAfterPackets,
                   "stay plugged but stop answering after N data packets")
        ->transform(Whole(1, kAny));
    app.add_option("--lose-host-packet", sim.loseHostPacket,
                   "lose the Nth host data packet of each connection")
        ->transform(Whole(1, kAny));
    int64_t clockOffsetS = 0;
    CLI::Option* clockOffset =
        app.add_option("--clock-offset", clockOffsetS,
                       "clock: local time now plus N s, may be negative (scenario's)")
            ->transform(Signed(kClockOffsetLimitS));
    app.add_flag("--quiet", quiet, "no log lines");
    app.add_flag("--version", "the program's name and version");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        *message = app.help();
        return SimArgsResult::help;
    } catch (const CLI::ParseError& e) {
        *message = e.what();
        return SimArgsResult::error;
    }
    sim.hostWindow = static_cast<uint8_t>(hostWindow);
    if (*clockOffset) {
        sim.clockOffsetS = clockOffsetS;
    }
    sim.log = !quiet;
    out->defaults.seed = seed;
    sim.seed = *faultSeedOption ? faultSeed : seed;
    return SimArgsResult::ok;
}
