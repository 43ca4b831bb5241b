#include "tools/reader-sim/sim_options.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out) {
    // strtoull skips white space and takes a minus, so " -1" would wrap round to 2^64 - 1.
    if (!text || *text < '0' || *text > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max) {
        return false;
    }
    *out = v;
    return true;
}

bool ParseProbability(const char* text, double* out) {
    if (!text || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || !(v >= 0.0 && v <= 1.0)) {
        return false;
    }
    *out = v;
    return true;
}

}  // namespace

const char* SimUsage() {
    return "usage: lumora-reader-sim --dir DIR [options]\n"
           "Plays a glucose-sensor reader on a socket device in DIR until SIGINT or SIGTERM.\n"
           "\n"
           "  --dir DIR                 directory the host scans (LUMORA_HID_SOCKET_DIR)\n"
           "  --name NAME               socket DIR/NAME-vid_1a61&pid_3650.sock (reader)\n"
           "  --scenario S              default, worked-example or a JSON file (default)\n"
           "  --records N               table 6 records of the default scenario (96)\n"
           "  --events N                table 7 records of the default scenario (8)\n"
           "  --window W                own data packets in flight, 1..127 (8)\n"
           "  --host-window N           credit granted to the host at link start (4)\n"
           "  --pace-ms X               one report per X ms at most, on a fixed schedule (0)\n"
           "  --seed N                  seed of the default scenario and the faults (1)\n"
           "  --fault-seed N            seed of the faults alone, the scenario keeps --seed\n"
           "  --drop P                  drop each outgoing data packet with probability P\n"
           "  --corrupt P               corrupt each outgoing data packet with probability P\n"
           "  --duplicate P             send each outgoing data packet twice with prob. P\n"
           "  --aap-error-once TYPE     answer the first AAP request of TYPE with an error\n"
           "  --never-answer TYPE       leave every AAP request of TYPE unanswered\n"
           "  --unplug-after-packets N  unplug after N data packets were sent\n"
           "  --replug-after-ms T       plug in again T ms after that unplug\n"
           "  --silent-after-packets N  stay plugged but stop answering after N data packets\n"
           "  --lose-host-packet N      lose the Nth host data packet of each connection\n"
           "  --quiet                   no log lines\n"
           "  --help                    this text\n"
           "  --version                 the program's name and version\n";
}

SimArgsResult ParseSimArgs(int argc, const char* const* argv, SimProgramOptions* out,
                           std::string* message) {
    ReaderSimOptions& sim = out->sim;
    bool faultSeedGiven = false;
    uint64_t faultSeed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            out->help = true;
            return SimArgsResult::help;
        }
        if (option == "--quiet") {
            sim.log = false;
            continue;
        }
        // Missing values are reported after the name is known, so that a misspelt last option
        // is called unknown.
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        uint64_t n = 0;
        bool ok = true;
        if (option == "--dir") {
            sim.dir = value;
        } else if (option == "--name") {
            sim.name = value;
            ok = !sim.name.empty() && sim.name.find('/') == std::string::npos;
        } else if (option == "--scenario") {
            out->scenario = value;
        } else if (option == "--records") {
            ok = ParseUnsigned(value, 0xFFFFFFFFu, &n);
            out->defaults.records = static_cast<uint32_t>(n);
        } else if (option == "--events") {
            ok = ParseUnsigned(value, 0xFFFFFFFFu, &n);
            out->defaults.events = static_cast<uint32_t>(n);
        } else if (option == "--window") {
            ok = ParseUnsigned(value, 127, &n) && n >= 1;
            sim.window = static_cast<uint32_t>(n);
        } else if (option == "--host-window") {
            ok = ParseUnsigned(value, 255, &n);
            sim.hostWindow = static_cast<uint8_t>(n);
        } else if (option == "--pace-ms") {
            ok = ParseUnsigned(value, 60000, &n);
            sim.paceMs = static_cast<uint32_t>(n);
        } else if (option == "--seed") {
            ok = ParseUnsigned(value, ~uint64_t{0}, &n);
            sim.seed = n;
            out->defaults.seed = n;
        } else if (option == "--fault-seed") {
            ok = ParseUnsigned(value, ~uint64_t{0}, &faultSeed);
            faultSeedGiven = true;
        } else if (option == "--drop") {
            ok = ParseProbability(value, &sim.dropP);
        } else if (option == "--corrupt") {
            ok = ParseProbability(value, &sim.corruptP);
        } else if (option == "--duplicate") {
            ok = ParseProbability(value, &sim.duplicateP);
        } else if (option == "--aap-error-once") {
            ok = ParseUnsigned(value, 0xFFFF, &n);
            sim.aapErrorOnce = static_cast<int>(n);
        } else if (option == "--never-answer") {
            ok = ParseUnsigned(value, 0xFFFF, &n);
            sim.neverAnswer = static_cast<int>(n);
        } else if (option == "--unplug-after-packets") {
            ok = ParseUnsigned(value, ~uint64_t{0}, &n) && n >= 1;
            sim.unplugAfterPackets = n;
        } else if (option == "--replug-after-ms") {
            ok = ParseUnsigned(value, 24ull * 3600 * 1000, &n);
            sim.replugAfterMs = static_cast<int64_t>(n);
        } else if (option == "--silent-after-packets") {
            ok = ParseUnsigned(value, ~uint64_t{0}, &n) && n >= 1;
            sim.silentAfterPackets = n;
        } else if (option == "--lose-host-packet") {
            ok = ParseUnsigned(value, ~uint64_t{0}, &n) && n >= 1;
            sim.loseHostPacket = n;
        } else {
            *message = option + ": unknown option (see --help)";
            return SimArgsResult::error;
        }
        if (!hasValue) {
            *message = option + ": needs a value (see --help)";
            return SimArgsResult::error;
        }
        ++i;
        if (!ok) {
            *message = option + ": bad value \"" + value + "\" (see --help)";
            return SimArgsResult::error;
        }
    }
    if (sim.replugAfterMs >= 0 && sim.unplugAfterPackets == 0) {
        *message = "--replug-after-ms: needs --unplug-after-packets, the unplug it follows";
        return SimArgsResult::error;
    }
    if (faultSeedGiven) {
        sim.seed = faultSeed;
    }
    if (sim.dir.empty()) {
        *message = "--dir is required (see --help)";
        return SimArgsResult::error;
    }
    return SimArgsResult::ok;
}
