// The transport and HID layers against lumora-reader-sim running as a separate process, so this
// process's CPU time is the host's alone: CPU per MiB received, link efficiency at one report
// per millisecond, and what one idle attached reader costs.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim_answers.h"
#include "socket_folder.h"
#include "transport/mal_trans_atp.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kLinkCeilingBytesPerS = 56000;  // 56 payload bytes per 1 ms report
constexpr int kPatienceS = 300;

// CPU seconds of this process (RUSAGE_SELF) or of the calling thread (RUSAGE_THREAD).
double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Context switches of this process: on a loaded machine a steadier sign of the wake-ups a
// transfer costs than CPU time.
double ProcessSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_nvcsw + usage.ru_nivcsw);
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What the host has heard; written on the transport's event thread.
struct Host {
    std::mutex mutex;
    std::condition_variable changed;
    MALTransATP* transport = nullptr;
    int attaches = 0;
    Clock::time_point attachedAt;
    uint64_t messageBytes = 0;
    uint64_t wantedBytes = 1;  // a waiter is woken once messageBytes reaches it
};
Host gHost;

int OnTransportEvent(uint32_t deviceId, uint32_t event, uint32_t, uint32_t) {
    uint64_t read = 0;
    if (event == kXportMsgData) {
        // Drained as the AAP layer would, so the copy counts as host cost.
        static uint8_t chunk[64 * 1024];
        for (;;) {
            uint32_t n = sizeof chunk;
            if (gHost.transport->readMsg(deviceId, 0, chunk, &n) != 0 || n == 0) {
                break;
            }
            read += n;
        }
    }
    std::lock_guard<std::mutex> lock(gHost.mutex);
    if (event == kXportAttach) {
        ++gHost.attaches;
        gHost.attachedAt = Clock::now();
    }
    gHost.messageBytes += read;
    // Only the wake-up a waiter needs: one per data event would be the bench's own cost, which
    // the AAP layer does not have.
    if (event != kXportMsgData || gHost.messageBytes >= gHost.wantedBytes) {
        gHost.changed.notify_all();
    }
    return 0;
}

// lumora-reader-sim as a child process, stopped with SIGTERM at the end.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), LUMORA_READER_SIM_PROGRAM);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

private:
    pid_t pid_ = -1;
};

// One open transport with one simulated reader, for the length of a benchmark.
class Session {
public:
    // The reader is plugged in (its socket in place) before the transport opens.
    Session(const std::string& name, const std::vector<std::string>& simOptions)
        : sim_(SimArgs(name, simOptions)) {
        const std::string socket =
            BenchSocketFolder().path() + "/" + name + "-vid_1a61&pid_3650.sock";
        struct stat status {};
        for (int i = 0; i < kPatienceS * 500 && stat(socket.c_str(), &status) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        {
            std::lock_guard<std::mutex> lock(gHost.mutex);
            gHost.transport = &transport_;
            gHost.attaches = 0;
            gHost.messageBytes = 0;
        }
        transport_.setEventCallback(OnTransportEvent);
        openedAt_ = Clock::now();
        transport_.open(kReaderFilters);
    }
    ~Session() {
        transport_.close();
        std::lock_guard<std::mutex> lock(gHost.mutex);
        gHost.transport = nullptr;
    }

    bool waitForAttach() {
        std::unique_lock<std::mutex> lock(gHost.mutex);
        return gHost.changed.wait_for(lock, std::chrono::seconds(kPatienceS),
                                      [] { return gHost.attaches > 0; });
    }
    // Seconds from open to the reader's attach.
    double attachSeconds() {
        std::lock_guard<std::mutex> lock(gHost.mutex);
        return std::chrono::duration<double>(gHost.attachedAt - openedAt_).count();
    }
    Clock::time_point openedAt() const { return openedAt_; }
    MALTransATP& transport() { return transport_; }
    // Requests every reading and waits for bytes of answer; false when they did not come.
    bool download(uint64_t bytes) {
        {
            std::lock_guard<std::mutex> lock(gHost.mutex);
            gHost.messageBytes = 0;
            gHost.wantedBytes = bytes;
        }
        const std::vector<uint8_t> request = ReadingsRequest();
        transport_.writeMsg(0, 0, request.data(), static_cast<uint32_t>(request.size()));
        std::unique_lock<std::mutex> lock(gHost.mutex);
        return gHost.changed.wait_for(lock, std::chrono::seconds(kPatienceS),
                                      [&] { return gHost.messageBytes >= bytes; });
    }

private:
    static std::vector<std::string> SimArgs(const std::string& name,
                                            const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--dir", BenchSocketFolder().path(), "--name", name,
                                         "--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    SimProcess sim_;
    MALTransATP transport_;
    Clock::time_point openedAt_;
};

// Bytes of the readings answer of a reader with enough records for about bytes.
struct Download {
    explicit Download(size_t bytes) : records(ReadingsFor(bytes)) {
        DefaultScenarioParams params;
        params.records = records;
        answerBytes = AnswerTo(MakeDefaultScenario(params), ReadingsRequest()).size();
    }
    uint32_t records;
    size_t answerBytes;
};

// Host CPU per MiB with the reader unpaced and a wide window: the link runs as fast as the 5 ms
// acknowledgements let it, and all that is measured is what the host spends on it.
void BM_TransportHostCpuPerMiB(benchmark::State& state) {
    const Download download(4 * 1024 * 1024);
    Session session("cost", {"--records", std::to_string(download.records), "--window", "64"});
    if (!session.waitForAttach()) {
        state.SkipWithError("no reader attached");
        return;
    }
    double cpu = 0;
    double switches = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuStart = CpuSeconds();
        const double switchesStart = ProcessSwitches();
        const Clock::time_point start = Clock::now();
        if (!session.download(download.answerBytes)) {
            state.SkipWithError("download incomplete");
            return;
        }
        const double seconds = Since(start);
        cpu += CpuSeconds() - cpuStart;
        switches += ProcessSwitches() - switchesStart;
        wall += seconds;
        state.SetIterationTime(seconds);
    }
    const double mib = double(download.answerBytes) * double(state.iterations()) / kMiB;
    state.counters["cpu_s_per_MiB"] = cpu / mib;
    state.counters["switches_per_MiB"] = switches / mib;
    state.counters["MiB_per_s"] = mib / wall;
}
BENCHMARK(BM_TransportHostCpuPerMiB)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// What the link's pattern costs the host before any of our code runs, to read the figure above
// against: a peer process sends a window of 64 reports of 65 bytes for each acknowledgement, as
// an unpaced reader does on the socket device; this thread sleeps to each 5 ms tick, takes what
// came with recvmmsg and sends one acknowledgement. No transport, no copy beyond the kernel's.
void BM_SocketLinkFloorCpuPerMiB(benchmark::State& state) {
    constexpr int kWindow = 64;
    constexpr int kTicks = 1200;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) {
        state.SkipWithError("no socket pair");
        return;
    }
    const pid_t peer = fork();
    if (peer == 0) {
        // Only system calls here: the child of a threaded process.
        close(pair[1]);
        uint8_t report[65] = {};
        for (;;) {
            uint8_t ack[65];
            if (recv(pair[0], ack, sizeof ack, 0) <= 0) {
                _exit(0);
            }
            for (int i = 0; i < kWindow; ++i) {
                send(pair[0], report, sizeof report, MSG_NOSIGNAL);
            }
        }
    }
    close(pair[0]);
    uint8_t reports[kWindow][65];
    iovec parts[kWindow];
    mmsghdr messages[kWindow] = {};
    for (int i = 0; i < kWindow; ++i) {
        parts[i] = {reports[i], sizeof reports[i]};
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    const uint8_t ack[65] = {};
    double cpu = 0;
    double received = 0;
    for (auto _ : state) {
        const double cpuStart = CpuSeconds(RUSAGE_THREAD);
        const Clock::time_point start = Clock::now();
        send(pair[1], ack, sizeof ack, MSG_NOSIGNAL);
        for (int tick = 0; tick < kTicks; ++tick) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(5 * (tick + 1)));
            int n = 0;
            while ((n = recvmmsg(pair[1], messages, kWindow, MSG_DONTWAIT, nullptr)) > 0) {
                received += n;
            }
            send(pair[1], ack, sizeof ack, MSG_NOSIGNAL);
        }
        cpu += CpuSeconds(RUSAGE_THREAD) - cpuStart;
        state.SetIterationTime(Since(start));
    }
    close(pair[1]);
    kill(peer, SIGKILL);
    waitpid(peer, nullptr, 0);
    state.counters["cpu_s_per_MiB"] = cpu / (received * kATPMaxDataPayload / kMiB);
}
BENCHMARK(BM_SocketLinkFloorCpuPerMiB)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// Payload rate at one report per millisecond against the 56,000 bytes/s that allows.
// Argument: the reader's window.
void BM_TransportLinkEfficiency(benchmark::State& state) {
    const Download download(256 * 1024);
    Session session("pace", {"--records", std::to_string(download.records), "--window",
                             std::to_string(state.range(0)), "--pace-ms", "1"});
    if (!session.waitForAttach()) {
        state.SkipWithError("no reader attached");
        return;
    }
    double wall = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (!session.download(download.answerBytes)) {
            state.SkipWithError("download incomplete");
            return;
        }
        const double seconds = Since(start);
        wall += seconds;
        state.SetIterationTime(seconds);
    }
    const double bytesPerS = double(download.answerBytes) * double(state.iterations()) / wall;
    state.counters["bytes_per_s"] = bytesPerS;
    state.counters["efficiency"] = bytesPerS / kLinkCeilingBytesPerS;
}
BENCHMARK(BM_TransportLinkEfficiency)
    ->ArgName("window")
    ->Arg(64)
    ->Arg(8)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// From opening the transport, with the reader already plugged in, to its first request written
// (sent as soon as the reader attaches) and to the first byte of its answer. Medians.
void BM_TransportStartToFirstRequest(benchmark::State& state) {
    std::vector<double> attach;
    std::vector<double> request;
    std::vector<double> answer;
    int round = 0;
    for (auto _ : state) {
        Session session("start" + std::to_string(round++), {"--records", "1"});
        if (!session.waitForAttach()) {
            state.SkipWithError("no reader attached");
            return;
        }
        const std::vector<uint8_t> readings = ReadingsRequest();
        {
            std::lock_guard<std::mutex> lock(gHost.mutex);
            gHost.messageBytes = 0;
            gHost.wantedBytes = 1;
        }
        // Written from here rather than from the callback: a write may wait for credit, which
        // the event thread must not.
        session.transport().writeMsg(0, 0, readings.data(), uint32_t(readings.size()));
        const double requestS = Since(session.openedAt());
        std::unique_lock<std::mutex> lock(gHost.mutex);
        if (!gHost.changed.wait_for(lock, std::chrono::seconds(kPatienceS),
                                    [] { return gHost.messageBytes > 0; })) {
            state.SkipWithError("no answer");
            return;
        }
        const double answerS = Since(session.openedAt());
        lock.unlock();
        attach.push_back(session.attachSeconds());
        request.push_back(requestS);
        answer.push_back(answerS);
        state.SetIterationTime(answerS);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    state.counters["attach_s"] = median(attach);
    state.counters["first_request_s"] = median(request);
    state.counters["first_answer_s"] = median(answer);
    state.counters["first_request_max_s"] = *std::max_element(request.begin(), request.end());
}
BENCHMARK(BM_TransportStartToFirstRequest)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// CPU of this process while one reader sits attached and idle: with nothing to acknowledge or
// resend, no timer runs.
void BM_TransportIdleReaderCpu(benchmark::State& state) {
    constexpr double kIdleSeconds = 10;
    Session session("idle", {});
    if (!session.waitForAttach()) {
        state.SkipWithError("no reader attached");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        const double cpuStart = CpuSeconds();
        // Idling is what is measured.
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        cpu += CpuSeconds() - cpuStart;
        state.SetIterationTime(kIdleSeconds);
    }
    state.counters["cpu_percent_of_core"] = 100 * cpu / (kIdleSeconds * double(state.iterations()));
}
BENCHMARK(BM_TransportIdleReaderCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
