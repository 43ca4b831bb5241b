#include "tools/reader-sim/reader_sim.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>

#include "platform/debug_log.h"

namespace {

uint64_t NowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

ReaderSimOptions WithScenario(ReaderSimOptions options) {
    if (!options.scenario) {
        options.scenario = MakeDefaultScenario(DefaultScenarioParams());
    }
    return options;
}

}  // namespace

ReaderSim::ReaderSim(ReaderSimOptions options)
    : options_(WithScenario(std::move(options))),
      path_(SocketDevice::PathFor(options_.dir, options_.name)),
      responder_(
          options_.scenario, options_.aapErrorOnce,
          ResponderObserver{// Both run on the sim-link thread while it holds mutex_.
                            [this](const AapMessage& m) { state_.requests.push_back(m); },
                            [this](const std::string& c) { state_.textCommands.push_back(c); },
                            [this](const std::string& line) { log("%s", line.c_str()); }},
          options_.neverAnswer, options_.clockOffsetS) {}

ReaderSim::~ReaderSim() {
    stop();
}

void ReaderSim::log(const char* format, ...) const {
    if (!options_.log) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (options_.logSink) {
        options_.logSink(line);
    } else {
        DebugLog("[%s] %s\n", options_.name.c_str(), line);
    }
}

std::string ReaderSim::socketPath() const {
    return path_;
}

ReaderSimState ReaderSim::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool ReaderSim::waitUntil(const std::function<bool(const ReaderSimState&)>& condition,
                          uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return condition(state_); });
}

bool ReaderSim::start(std::string* error) {
    std::string ignored;
    std::string* message = error ? error : &ignored;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_ || thread_) {
            *message = "already started";
            return false;
        }
    }
    if (!device_.ready()) {
        *message = "cannot create the device's wake-up";
        return false;
    }
    // The thread does not run yet, so plugging here needs no hand-over.
    if (!doPlug(message)) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
    }
    thread_ = OsCreateThread("sim-link", &ReaderSim::ThreadMain, this);
    if (!thread_) {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        doUnplug();
        *message = "cannot start the sim-link thread";
        return false;
    }
    return true;
}

bool ReaderSim::command(Command c, std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!running_) {
        if (error) {
            *error = "the simulator is not running";
        }
        return false;
    }
    commands_.push_back(c);
    const uint64_t ticket = ++commandsIssued_;
    device_.wake();
    changed_.wait(lock, [&] { return commandsDone_ >= ticket || !running_; });
    auto failed = commandErrors_.find(ticket);
    if (failed != commandErrors_.end()) {
        if (error) {
            *error = failed->second;
        }
        commandErrors_.erase(failed);
        return false;
    }
    return commandsDone_ >= ticket;
}

bool ReaderSim::plug(std::string* error) {
    return command(Command::plug, error);
}

void ReaderSim::unplug() {
    command(Command::unplug, nullptr);
}

void ReaderSim::stop() {
    if (!thread_) {
        return;
    }
    command(Command::stop, nullptr);
    OsWait(thread_, kOsWaitForever);
    OsCloseHandle(thread_);
    thread_ = nullptr;
}

// Called with mutex_ held, or before the thread runs.
bool ReaderSim::doPlug(std::string* error) {
    if (device_.plugged()) {
        return true;
    }
    std::string message;
    if (!device_.plug(options_.dir, options_.name, &message)) {
        if (error) {
            *error = message;
        } else {
            log("cannot plug in: %s", message.c_str());
        }
        return false;
    }
    state_.plugged = true;
    state_.silent = false;
    log("plugged in at %s", device_.path().c_str());
    return true;
}

// Called with mutex_ held.
void ReaderSim::doUnplug() {
    if (!device_.plugged()) {
        return;
    }
    device_.unplug();
    link_.reset();
    responder_.reset();
    state_.plugged = false;
    state_.connected = false;
    state_.linkStarted = false;
    state_.identityAcked = false;
    log("unplugged");
}

// Called with mutex_ held.
void ReaderSim::onConnected() {
    LinkOptions o;
    o.window = options_.window;
    o.hostWindow = options_.hostWindow;
    o.identity = options_.scenario->identity;
    o.identityClass = options_.scenario->identityClass;
    o.dropP = options_.dropP;
    o.corruptP = options_.corruptP;
    o.duplicateP = options_.duplicateP;
    o.loseHostPacket = options_.loseHostPacket;
    // Each connection draws its own faults, still fixed by the seed.
    o.faultSeed = SimSeedFor(options_.seed, 0xFA17, state_.connections);
    responder_.reset();
    link_.reset(new SimLink(o, &responder_, &state_.counters));
    ++state_.connections;
    state_.connected = true;
    log("host connected");
}

// Called with mutex_ held.
void ReaderSim::onDisconnected(const char* why) {
    device_.closeConnection();
    link_.reset();
    responder_.reset();
    state_.connected = false;
    state_.linkStarted = false;
    state_.identityAcked = false;
    log("host disconnected (%s)", why);
}

// Called with mutex_ held, after each report that went out.
void ReaderSim::afterSend() {
    const uint64_t sent = state_.counters.dataSent;
    if (options_.unplugAfterPackets != 0 && !faultUnplugDone_ &&
        sent >= options_.unplugAfterPackets) {
        faultUnplugDone_ = true;
        log("unplugging after %llu data packets, as asked", static_cast<unsigned long long>(sent));
        doUnplug();
        if (options_.replugAfterMs >= 0) {
            replugAtMs_ = NowMicros() / 1000 + static_cast<uint64_t>(options_.replugAfterMs);
        }
        return;
    }
    if (options_.silentAfterPackets != 0 && !faultSilentDone_ &&
        sent >= options_.silentAfterPackets) {
        faultSilentDone_ = true;
        state_.silent = true;
        log("falling silent after %llu data packets, as asked",
            static_cast<unsigned long long>(sent));
    }
}

void ReaderSim::ThreadMain(void* self) {
    auto* sim = static_cast<ReaderSim*>(self);
    // Nothing may escape into the platform's C-style thread entry.
    try {
        sim->run();
        return;
    } catch (const std::exception& e) {
        DebugLog("ReaderSim: sim-link thread ended by %s\n", e.what());
    } catch (...) {
        DebugLog("ReaderSim: sim-link thread ended by an unknown exception\n");
    }
    // Release callers waiting for a command that will never be carried out.
    std::lock_guard<std::mutex> lock(sim->mutex_);
    sim->doUnplug();
    sim->running_ = false;
    sim->changed_.notify_all();
}

void ReaderSim::run() {
    const uint64_t paceUs = uint64_t{options_.paceMs} * 1000;
    uint64_t lastSendUs = 0;
    bool haveLastSend = false;
    LinkPacket pending{};
    bool hasPending = false;
    bool stopping = false;

    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping) {
        // Commands from the API.
        for (Command c : commands_) {
            // Whoever asks decides now; a pending automatic replug is void either way.
            replugAtMs_ = 0;
            const uint64_t ticket = ++commandsDone_;
            if (c == Command::plug) {
                std::string error;
                if (!doPlug(&error)) {
                    commandErrors_[ticket] = error;
                }
            } else {
                doUnplug();
                stopping = stopping || c == Command::stop;
            }
        }
        commands_.clear();
        if (stopping) {
            break;
        }
        const uint64_t nowUs = NowMicros();
        const uint64_t nowMs = nowUs / 1000;
        if (replugAtMs_ != 0 && nowMs >= replugAtMs_) {
            replugAtMs_ = 0;
            doPlug(nullptr);
        }
        if (!device_.connected() && device_.accept()) {
            onConnected();
            hasPending = false;
        }

        // Everything the host has sent.
        while (device_.connected()) {
            uint8_t report[kReportSize];
            uint32_t size = 0;
            const SocketDevice::Io io = device_.receive(report, kReportSize, &size);
            if (io == SocketDevice::Io::again) {
                break;
            }
            if (io == SocketDevice::Io::closed) {
                onDisconnected("closed by the host");
                hasPending = false;
                break;
            }
            if (size != kReportSize || report[0] != 0) {
                log("ignored a datagram of %u bytes, report id %u", size, report[0]);
                continue;
            }
            if (!state_.silent) {
                const bool wasStarted = link_->started();
                link_->receive(report + 1, nowMs);
                if (!wasStarted && link_->started()) {
                    log("link started");
                }
                const bool acked = link_->identityAcked();
                if (acked && !state_.identityAcked) {
                    log("identity acknowledged");
                }
                state_.linkStarted = link_->started();
                state_.identityAcked = acked;
            }
        }

        // As much as pacing and the socket allow.
        bool wantWrite = false;
        while (device_.connected() && !state_.silent) {
            if (!hasPending) {
                hasPending = link_->nextPacket(nowMs, &pending);
            }
            if (!hasPending || (haveLastSend && paceUs != 0 && nowUs < lastSendUs + paceUs)) {
                break;
            }
            uint8_t report[kReportSize];
            report[0] = 0;
            std::memcpy(report + 1, pending.bytes, kATPPacketSize);
            const SocketDevice::Io io = device_.send(report);
            if (io == SocketDevice::Io::again) {
                wantWrite = true;
                break;
            }
            if (io == SocketDevice::Io::closed) {
                onDisconnected("send failed");
                hasPending = false;
                break;
            }
            hasPending = false;
            // Keep to a fixed schedule while sending back to back, like an interrupt endpoint
            // polled every interval; after a pause the schedule starts again from now.
            const bool onSchedule = haveLastSend && paceUs != 0 && nowUs < lastSendUs + 2 * paceUs;
            lastSendUs = onSchedule ? lastSendUs + paceUs : nowUs;
            haveLastSend = true;
            afterSend();
        }
        changed_.notify_all();

        // Sleep until the host, the API, a timer or the pace wakes us.
        uint64_t dueUs = ~uint64_t{0};
        if (link_ && device_.connected() && !state_.silent) {
            // A packet held back goes first; the link's timers only matter once it is out (a
            // full socket would otherwise have us spin on a timer already due).
            if (hasPending) {
                dueUs = wantWrite ? dueUs : lastSendUs + paceUs;
            } else if (link_->nextDeadline() != SimLink::kNever) {
                dueUs = link_->nextDeadline() * 1000;
            }
        }
        if (replugAtMs_ != 0) {
            dueUs = std::min(dueUs, replugAtMs_ * 1000);
        }
        lock.unlock();
        uint64_t waitUs = SocketDevice::kForever;
        if (dueUs != ~uint64_t{0}) {
            const uint64_t now = NowMicros();
            waitUs = dueUs > now ? dueUs - now : 0;
        }
        device_.wait(waitUs, wantWrite);
        lock.lock();
    }
    running_ = false;
    changed_.notify_all();
}
