// A simulated reader on the socket device: the C++ face of the simulator for tests, the demo and
// the lumora-reader-sim program. start() plugs the reader into a directory and starts its
// "sim-link" thread, which accepts the host's connection and plays the reader until stop().
//
// All public functions may be called from any thread; plug, unplug and stop block until the
// sim-link thread has carried them out (a few milliseconds at most).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tools/reader-sim/aap_stream.h"
#include "tools/reader-sim/reader_responder.h"
#include "tools/reader-sim/scenario.h"
#include "tools/reader-sim/sim_link.h"
#include "tools/reader-sim/socket_device.h"

struct ReaderSimOptions {
    std::string dir;                           // the host's LUMORA_HID_SOCKET_DIR
    std::string name = "reader";               // socket file is <dir>/<name>-vid_1a61&pid_3650.sock
    std::shared_ptr<const Scenario> scenario;  // null: the built-in default
    uint32_t window = 8;                       // own data packets in flight, 1..127
    uint8_t hostWindow = 4;                    // credit granted to the host at link start
    uint32_t paceMs = 0;                       // minimum gap between reports sent
    uint64_t seed = 1;                         // for the faults
    double dropP = 0;                          // per outgoing data packet
    double corruptP = 0;
    double duplicateP = 0;
    int aapErrorOnce = -1;            // AAP type answered once with an error
    int neverAnswer = -1;             // AAP type never answered
    uint64_t unplugAfterPackets = 0;  // 0: never; counts first sends of data packets
    int64_t replugAfterMs = -1;       // after that unplug; negative: stay unplugged
    uint64_t silentAfterPackets = 0;  // 0: never; silent until the next plug
    uint64_t loseHostPacket = 0;      // 0: never; the Nth host data packet of a connection
    // The clock answered: this computer's local wall clock now plus this many seconds; unset:
    // the scenario's fixed clock.
    std::optional<int64_t> clockOffsetS;
    bool log = true;  // concise log lines
    // Where log lines go (without line end); null: DebugLog. Called on any of the simulator's
    // threads, never concurrently.
    std::function<void(const char* line)> logSink;
};

// What the reader has seen and done; a copy is handed out under the simulator's lock.
struct ReaderSimState {
    bool plugged = false;
    bool connected = false;
    bool silent = false;
    uint32_t connections = 0;  // host connections accepted so far
    bool linkStarted = false;  // of the current connection
    bool identityAcked = false;
    std::vector<AapMessage> requests;       // AAP requests in arrival order, type 125 left out
    std::vector<std::string> textCommands;  // without their "\r\n"
    LinkCounters counters;                  // summed over all connections
};

class ReaderSim {
public:
    explicit ReaderSim(ReaderSimOptions options);
    ~ReaderSim();
    ReaderSim(const ReaderSim&) = delete;
    ReaderSim& operator=(const ReaderSim&) = delete;

    // Plugs the reader in and starts the sim-link thread. False with a message when the socket
    // cannot be created or the thread not started. Call once.
    bool start(std::string* error);
    // Plugs the reader in again after unplug(); true when it is (or already was) plugged.
    bool plug(std::string* error = nullptr);
    // Closes the host's connection and removes the socket file.
    void unplug();
    // Unplugs and ends the sim-link thread. Idempotent; the destructor calls it.
    void stop();

    std::string socketPath() const;
    ReaderSimState state() const;
    // Blocks until condition(state) holds or timeoutMs passes; returns whether it holds.
    bool waitUntil(const std::function<bool(const ReaderSimState&)>& condition,
                   uint32_t timeoutMs) const;

private:
    enum class Command : uint8_t { plug, unplug, stop };

    static void ThreadMain(void* self);
    void run();
    bool command(Command c, std::string* error);
    bool doPlug(std::string* error);
    void doUnplug();
    void onConnected();
    void onDisconnected(const char* why);
    void afterSend();
    void log(const char* format, ...) const;

    ReaderSimOptions options_;
    std::string path_;

    mutable std::mutex mutex_;  // guards everything below up to the thread-only section
    mutable std::condition_variable changed_;
    ReaderSimState state_;
    std::vector<Command> commands_;
    uint64_t commandsIssued_ = 0;
    uint64_t commandsDone_ = 0;
    std::map<uint64_t, std::string> commandErrors_;  // by ticket, for commands that failed
    bool running_ = false;

    // Owned by the sim-link thread once it runs.
    SocketDevice device_;
    ReaderResponder responder_;
    std::unique_ptr<SimLink> link_;
    bool faultUnplugDone_ = false;
    bool faultSilentDone_ = false;
    uint64_t replugAtMs_ = 0;  // 0: no replug scheduled

    OsHandle thread_ = nullptr;  // the "sim-link" thread; owned by this object, joined in stop()
};
