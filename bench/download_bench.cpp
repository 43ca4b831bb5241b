// The whole download of a large reader (50,000 readings, 10,000 events, unpaced): wall time and
// peak memory of lumora-download against lumora-reader-sim, both as processes, and how fast a
// signal ends it; building, serialising and encrypting that document alone; and a soak of many
// downloads over a lossy link, each document checked against a clean download's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download_reference.h"
#include "expected_json.h"
#include "export/cipher.h"
#include "export/decrypter.h"
#include "export/download_document.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRecords = 50000;
constexpr uint32_t kEvents = 10000;
constexpr double kMiB = 1024.0 * 1024.0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A temporary world: sockets, settings naming the data folder and a fresh public key.
struct World {
    QTemporaryDir dir;
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

    EvpPkeyPtr key{EVP_RSA_gen(2048)};

    World() {
        mkdir(path("sockets").c_str(), 0700);
        mkdir(path("data").c_str(), 0700);
        mkdir(path("config").c_str(), 0700);
        mkdir(path("config/LumoraConnector").c_str(), 0700);
        BioPtr pem(BIO_new_file(path("public.pem").c_str(), "w"));
        PEM_write_bio_PUBKEY(pem.get(), key.get());
        std::ofstream(path("config/LumoraConnector/Configuration.ini"))
            << "[General]\ndata_dir=" << path("data/") << "\npublic_key_file=" << path("public.pem")
            << "\n";
    }
};

// The environment of this process with the socket, settings and log folders replaced.
std::vector<std::string> childEnvironment(const World& world) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("LUMORA_HID_SOCKET_DIR=", 0) != 0 &&
            entry.rfind("XDG_CONFIG_DIRS=", 0) != 0 && entry.rfind("XDG_STATE_HOME=", 0) != 0) {
            env.push_back(entry);
        }
    }
    env.push_back("LUMORA_HID_SOCKET_DIR=" + world.path("sockets"));
    env.push_back("XDG_CONFIG_DIRS=" + world.path("config"));
    // The programs' logs stay in the run's folder.
    env.push_back("XDG_STATE_HOME=" + world.path("state"));
    return env;
}

// Starts program with standard output to outFd (or /dev/null) and standard error to /dev/null.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int outFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, outFd);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A reader simulator with records and events, as a process; returns once its socket is in place
// (plugged in), or -1 when it cannot start or ended.
pid_t startPluggedReader(const World& world, const std::vector<std::string>& env, uint32_t records,
                         uint32_t events) {
    const std::string socket = world.path("sockets") + "/reader-vid_1a61&pid_3650.sock";
    const pid_t sim =
        spawn({LUMORA_READER_SIM_PROGRAM, "--dir", world.path("sockets"), "--quiet", "--records",
               std::to_string(records), "--events", std::to_string(events)},
              env);
    while (sim > 0 && waitpid(sim, nullptr, WNOHANG) == 0) {
        struct stat status {};
        if (stat(socket.c_str(), &status) == 0) {
            return sim;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return -1;
}

void stopReader(pid_t sim) {
    if (sim > 0) {
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
    }
}

// Real-time in seconds, and peak resident memory, of lumora-download; the reader is plugged in
// before it starts. Argument: the reader's records. Counters: time until the reader's serial
// number and clock are printed (discovery and link start), and from then until the file is saved.
void BM_DownloadWholeReader(benchmark::State& state) {
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    double connectS = 0;
    double downloadS = 0;
    long peakKiB = 0;
    for (auto _ : state) {
        const pid_t sim = startPluggedReader(world, env, uint32_t(state.range(0)), kEvents);
        const bool plugged = sim > 0;
        int out[2] = {-1, -1};
        const Clock::time_point start = Clock::now();
        const pid_t download =
            plugged && pipe(out) == 0 ? spawn({LUMORA_DOWNLOAD_PROGRAM}, env, out[1]) : -1;
        close(out[1]);
        if (download < 0) {
            close(out[0]);
            stopReader(sim);
            state.SkipWithError("cannot start the reader simulator or lumora-download");
            break;
        }
        FILE* lines = fdopen(out[0], "r");
        char line[4096];
        double firstLineS = 0;
        std::string last;
        while (fgets(line, sizeof line, lines)) {
            if (firstLineS == 0) {
                firstLineS = secondsSince(start);
            }
            last = line;
        }
        fclose(lines);
        int exitStatus = 0;
        struct rusage usage {};
        wait4(download, &exitStatus, 0, &usage);
        const double wallS = secondsSince(start);
        stopReader(sim);
        if (!WIFEXITED(exitStatus) || WEXITSTATUS(exitStatus) != 0) {
            state.SkipWithError("lumora-download failed");
            break;
        }
        std::remove(last.substr(0, last.size() - 1).c_str());
        state.SetIterationTime(wallS);
        connectS += firstLineS;
        downloadS += wallS - firstLineS;
        peakKiB = std::max(peakKiB, usage.ru_maxrss);
    }
    const double n = double(state.iterations());
    state.counters["connect_s"] = connectS / n;
    state.counters["download_save_s"] = downloadS / n;
    state.counters["peak_rss_MiB"] = double(peakKiB) * 1024 / kMiB;
}
BENCHMARK(BM_DownloadWholeReader)
    ->ArgName("records")
    ->Arg(kRecords)
    ->Arg(2 * kRecords)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// A signal to lumora-download in the middle of the large reader's table: the time from the
// signal to the program's end, its exit code (minus the signal's number when the signal killed
// it) and the saved files left behind. Argument: the signal.
void BM_DownloadCancelBySignal(benchmark::State& state) {
    constexpr auto kIntoTheDownload = std::chrono::milliseconds(1500);
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    double exitS = 0;
    int code = 0;
    int files = 0;
    for (auto _ : state) {
        const pid_t sim = startPluggedReader(world, env, kRecords, kEvents);
        int out[2] = {-1, -1};
        const pid_t download =
            sim > 0 && pipe(out) == 0 ? spawn({LUMORA_DOWNLOAD_PROGRAM}, env, out[1]) : -1;
        close(out[1]);
        FILE* lines = out[0] >= 0 ? fdopen(out[0], "r") : nullptr;
        // The clock line comes once the reader has answered: the download starts then.
        char line[4096];
        bool arrived = false;
        while (!arrived && lines && fgets(line, sizeof line, lines)) {
            arrived = std::string(line).rfind("Reader clock:", 0) == 0;
        }
        if (download < 0 || !arrived) {
            if (lines) {
                fclose(lines);
            }
            stopReader(sim);
            state.SkipWithError("no download to cancel");
            break;
        }
        std::this_thread::sleep_for(kIntoTheDownload);
        const Clock::time_point sent = Clock::now();
        kill(download, int(state.range(0)));
        int exitStatus = 0;
        waitpid(download, &exitStatus, 0);
        const double seconds = secondsSince(sent);
        fclose(lines);
        stopReader(sim);
        state.SetIterationTime(seconds);
        exitS += seconds;
        code = WIFEXITED(exitStatus) ? WEXITSTATUS(exitStatus) : -WTERMSIG(exitStatus);
        files = QDir(QString::fromStdString(world.path("data")))
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                    .size();
    }
    state.counters["signal_to_exit_s"] = exitS / double(state.iterations());
    state.counters["exit_code"] = code;
    state.counters["entries_left_in_data"] = files;
}
BENCHMARK(BM_DownloadCancelBySignal)
    ->ArgName("signal")
    ->Arg(SIGINT)
    ->Arg(SIGTERM)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The window (offscreen) with a reader already plugged in: its peak resident memory over a whole
// download of the large reader, saved file included.
void BM_WindowDownloadPeak(benchmark::State& state) {
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    long peakKiB = 0;
    for (auto _ : state) {
        const pid_t sim = startPluggedReader(world, env, kRecords, kEvents);
        const Clock::time_point start = Clock::now();
        const pid_t window = sim > 0 ? spawn({LUMORA_WINDOW_PROGRAM, "download"}, env) : -1;
        int exitStatus = -1;
        struct rusage usage {};
        if (window > 0) {
            wait4(window, &exitStatus, 0, &usage);
        }
        state.SetIterationTime(secondsSince(start));
        stopReader(sim);
        if (window < 0 || !WIFEXITED(exitStatus) || WEXITSTATUS(exitStatus) != 0) {
            state.SkipWithError("the window's download failed");
            break;
        }
        peakKiB = std::max(peakKiB, usage.ru_maxrss);
    }
    state.counters["peak_rss_MiB"] = double(peakKiB) * 1024 / kMiB;
}
BENCHMARK(BM_WindowDownloadPeak)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

// The number on the last line that lumora-window-bench with these arguments prints, against a
// reader of records and events plugged in first; false when it did not end well.
bool windowFigure(const World& world, const std::vector<std::string>& env, uint32_t records,
                  uint32_t events, const std::vector<std::string>& arguments, double* figure) {
    const pid_t sim = startPluggedReader(world, env, records, events);
    std::vector<std::string> argv{LUMORA_WINDOW_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int out[2] = {-1, -1};
    const pid_t window = sim > 0 && pipe(out) == 0 ? spawn(argv, env, out[1]) : -1;
    close(out[1]);
    // The figure is the last line: the device client traces the reader's answers there too.
    char line[256] = {};
    std::string last;
    FILE* lines = out[0] >= 0 ? fdopen(out[0], "r") : nullptr;
    while (lines && fgets(line, sizeof line, lines)) {
        last = line;
    }
    if (lines) {
        fclose(lines);
    }
    int exitStatus = -1;
    if (window > 0) {
        waitpid(window, &exitStatus, 0);
    }
    stopReader(sim);
    *figure = std::atof(last.c_str());
    return !last.empty() && WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0;
}

// The window's Cancel in the middle of the large reader's table: the seconds from the press until
// the window is ready again, the worker done with the reader; each run then downloads the whole
// reader again, which must be saved.
void BM_WindowCancel(benchmark::State& state) {
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    double total = 0;
    for (auto _ : state) {
        double seconds = 0;
        if (!windowFigure(world, env, kRecords, kEvents, {"cancel"}, &seconds)) {
            state.SkipWithError("the window's cancel or the download after it failed");
            break;
        }
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["cancel_to_ready_s"] = total / double(state.iterations());
}
BENCHMARK(BM_WindowCancel)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU of the whole window (offscreen) while one attached reader idles, as a share of one core.
void BM_WindowIdleCpu(benchmark::State& state) {
    constexpr int kIdleSeconds = 10;
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    double percent = 0;
    for (auto _ : state) {
        double figure = 0;
        if (!windowFigure(world, env, 96, 8, {"idle", std::to_string(kIdleSeconds)}, &figure)) {
            state.SkipWithError("the idle window failed");
            break;
        }
        percent += figure;
        state.SetIterationTime(kIdleSeconds);
    }
    state.counters["cpu_percent_of_core"] = percent / double(state.iterations());
}
BENCHMARK(BM_WindowIdleCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// This process's peak resident memory, after resetting it; -1 when the kernel does not allow it.
long residentPeakKiB(bool reset) {
    if (reset) {
        std::ofstream("/proc/self/clear_refs") << "5";
    }
    std::ifstream status("/proc/self/status");
    std::string key;
    long kib = -1;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> kib;
            break;
        }
        status.ignore(1 << 10, '\n');
    }
    return kib;
}

// The document of the same reader from the bytes it sends: decoding the records into JSON
// text as the device client does while they arrive, building the document from those texts,
// and encrypting it as a save does. Counters: the three phases, and the peak resident memory
// above what the process held before.
void BM_DocumentBuildSerialiseEncrypt(benchmark::State& state) {
    const ScenarioBytes bytes = scenarioBytes("default", kRecords, kEvents);
    World world;
    Cipher cipher;
    const EvpPkeyPtr key = cipher.loadPublicKey(QString::fromStdString(world.path("public.pem")));
    double buildS = 0;
    double serialiseS = 0;
    double encryptS = 0;
    double documentMiB = 0;
    long peakAboveKiB = 0;
    for (auto _ : state) {
        const long before = residentPeakKiB(true);
        Clock::time_point start = Clock::now();
        DeviceClient::RecordsJson records = ExpectedRecordsText(bytes.schema, bytes.table6);
        DeviceClient::RecordsJson events = ExpectedRecordsText(bytes.schema, bytes.table7);
        const QJsonArray factory =
            ExpectedRecordsJson(bytes.configSchema, {bytes.calibration}, true);
        buildS += secondsSince(start);
        start = Clock::now();
        const QByteArray document = buildDownloadDocument(
            std::exchange(records.array, {}), QJsonDocument(factory).toJson(QJsonDocument::Compact),
            std::exchange(events.array, {}), currentHostDateTime());
        serialiseS += secondsSince(start);
        start = Clock::now();
        const QByteArray file = cipher.encrypt(key.get(), document);
        encryptS += secondsSince(start);
        benchmark::DoNotOptimize(file.data());
        documentMiB = document.size() / kMiB;
        peakAboveKiB = std::max(peakAboveKiB, residentPeakKiB(false) - before);
    }
    const double n = double(state.iterations());
    state.counters["build_s"] = buildS / n;
    state.counters["serialise_s"] = serialiseS / n;
    state.counters["encrypt_s"] = encryptS / n;
    state.counters["document_MiB"] = documentMiB;
    state.counters["peak_rss_above_MiB"] = double(peakAboveKiB) * 1024 / kMiB;
}
BENCHMARK(BM_DocumentBuildSerialiseEncrypt)->Iterations(3)->Unit(benchmark::kSecond);

// One run of lumora-download against lumora-reader-sim started with simOptions: the reader's
// parts of the decrypted document (empty when anything failed) and the wall time in *wallS.
QJsonObject downloadReaderParts(const World& world, const std::vector<std::string>& env,
                                const std::vector<std::string>& simOptions, double* wallS) {
    const std::string socket = world.path("sockets") + "/reader-vid_1a61&pid_3650.sock";
    std::vector<std::string> simArgs = {LUMORA_READER_SIM_PROGRAM, "--dir", world.path("sockets"),
                                        "--quiet"};
    simArgs.insert(simArgs.end(), simOptions.begin(), simOptions.end());
    const pid_t sim = spawn(simArgs, env);
    bool plugged = false;
    while (sim > 0 && !plugged && waitpid(sim, nullptr, WNOHANG) == 0) {
        struct stat status {};
        plugged = stat(socket.c_str(), &status) == 0;
        if (!plugged) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    int out[2] = {-1, -1};
    const Clock::time_point start = Clock::now();
    const pid_t download =
        plugged && pipe(out) == 0 ? spawn({LUMORA_DOWNLOAD_PROGRAM}, env, out[1]) : -1;
    close(out[1]);
    std::string last;
    if (download >= 0) {
        FILE* lines = fdopen(out[0], "r");
        char line[4096];
        while (fgets(line, sizeof line, lines)) {
            last = line;
        }
        fclose(lines);
    } else {
        close(out[0]);
    }
    int exitStatus = -1;
    if (download >= 0) {
        waitpid(download, &exitStatus, 0);
    }
    *wallS = secondsSince(start);
    if (sim > 0) {
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
    }
    if (download < 0 || !WIFEXITED(exitStatus) || WEXITSTATUS(exitStatus) != 0 || last.empty()) {
        return {};
    }
    const QString saved = QString::fromStdString(last.substr(0, last.size() - 1));
    QFile file(saved);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const DecryptResult result = decryptDownloadFile(world.key.get(), file.readAll());
    file.remove();
    const QJsonObject document = QJsonDocument::fromJson(result.document).object();
    // The host's date, time and zone differ from run to run; the reader's parts must not.
    QJsonObject parts;
    for (const char* member : {"records", "events", "factory_config"}) {
        parts.insert(member, document.value(member));
    }
    return parts;
}

// 100 downloads of 300 readings, each over a link that drops 5 %, corrupts 2 % and duplicates
// 2 % of the reader's data packets, each with faults of its own seed. Counters: a clean
// download's time, the median and worst of the faulty ones, and how many documents differed
// from the clean one (must be 0).
void BM_SoakDownloadsOverLossyLink(benchmark::State& state) {
    constexpr int kDownloads = 100;
    World world;
    const std::vector<std::string> env = childEnvironment(world);
    const std::vector<std::string> reader = {"--records", "300"};
    for (auto _ : state) {
        double cleanS = 0;
        const QJsonObject clean = downloadReaderParts(world, env, reader, &cleanS);
        if (clean.value("records").toArray().size() != 300) {
            state.SkipWithError("the clean download failed");
            break;
        }
        std::vector<double> times;
        int differing = 0;
        for (int i = 1; i <= kDownloads; ++i) {
            std::vector<std::string> lossy = reader;
            lossy.insert(lossy.end(), {"--drop", "0.05", "--corrupt", "0.02", "--duplicate", "0.02",
                                       "--fault-seed", std::to_string(1000 + i)});
            double wallS = 0;
            differing += downloadReaderParts(world, env, lossy, &wallS) != clean;
            times.push_back(wallS);
        }
        std::sort(times.begin(), times.end());
        state.SetIterationTime(cleanS);
        state.counters["clean_s"] = cleanS;
        state.counters["lossy_median_s"] = (times[kDownloads / 2 - 1] + times[kDownloads / 2]) / 2;
        state.counters["lossy_worst_s"] = times.back();
        state.counters["differing_documents"] = differing;
    }
}
BENCHMARK(BM_SoakDownloadsOverLossyLink)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
