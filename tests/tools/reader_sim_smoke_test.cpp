#include "tools/reader-sim/reader_sim.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/hid/temp_dir.h"
#include "tools/reader-sim/sim_options.h"

namespace {

// Upper bound on any single wait, so a broken simulator fails the test instead of hanging it.
constexpr int kPatienceMs = 10000;

// A minimal host on the raw socket: whole packets in, whole packets out.
class ScriptedHost {
public:
    ~ScriptedHost() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool connect(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    void send(const uint8_t* packet) {
        uint8_t report[kReportSize] = {0};
        std::memcpy(report + 1, packet, kATPPacketSize);
        ASSERT_EQ(::send(fd_, report, sizeof report, MSG_NOSIGNAL), ssize_t{kReportSize});
    }

    void sendCommand(uint8_t code, const std::string& payload = {}) {
        uint8_t packet[kATPPacketSize];
        ATPBuildCommandPacket(packet, code, reinterpret_cast<const uint8_t*>(payload.data()),
                              static_cast<uint32_t>(payload.size()));
        send(packet);
    }

    // Returns the next packet's 64 bytes, or an empty vector when the reader hung up.
    std::vector<uint8_t> receive() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPatienceMs) != 1) {
            ADD_FAILURE() << "no packet from the reader";
            return {};
        }
        uint8_t report[128];
        const ssize_t n = ::recv(fd_, report, sizeof report, 0);
        if (n <= 0) {
            return {};
        }
        EXPECT_EQ(n, ssize_t{kReportSize});
        EXPECT_EQ(report[0], 0);
        return std::vector<uint8_t>(report + 1, report + kReportSize);
    }

    // Skips acknowledgements and credit until a packet with the code arrives.
    std::vector<uint8_t> receiveCode(uint8_t code) {
        for (;;) {
            std::vector<uint8_t> packet = receive();
            if (packet.empty() || packet[0] == code) {
                return packet;
            }
        }
    }

private:
    int fd_ = -1;
};

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = d ? ::readdir(d) : nullptr) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.push_back(e->d_name);
        }
    }
    if (d) {
        ::closedir(d);
    }
    return names;
}

TEST(SimReaderSmoke, ScriptedHostStartsTheLinkAndReadsIdentitySerialAndClock) {
    char dirTemplate[] = "/tmp/lumora-sim-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    ReaderSimOptions options;
    options.dir = dir;
    options.log = false;
    ReaderSim sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const auto scenario = MakeDefaultScenario(DefaultScenarioParams());

    // Only the finished socket is visible, under its device name.
    EXPECT_EQ(DirectoryEntries(dir), std::vector<std::string>{"reader-vid_1a61&pid_3650.sock"});
    struct stat info;
    ASSERT_EQ(::stat(sim.socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));

    ScriptedHost host;
    ASSERT_TRUE(host.connect(sim.socketPath()));
    uint8_t packet[kATPPacketSize];
    ATPBuildPing(packet);
    host.send(packet);
    ATPBuildStatusPacket(packet, kATPStatusOut, 0, 0, kATPStatusReset);
    host.send(packet);
    host.sendCommand(kATPStartup1);
    host.sendCommand(kATPStartup2);

    std::vector<uint8_t> window = host.receive();
    ASSERT_EQ(window.size(), kATPPacketSize);
    EXPECT_EQ(std::vector<uint8_t>(window.begin(), window.begin() + 3),
              (std::vector<uint8_t>{kATPWindowSize, 1, 4}));
    std::vector<uint8_t> identity = host.receive();
    ASSERT_EQ(identity.size(), kATPPacketSize);
    ASSERT_EQ(identity[0], kATPIdentity);
    EXPECT_EQ(std::string(identity.begin() + 2, identity.begin() + 1 + identity[1]),
              scenario->identity);
    EXPECT_EQ(identity[1 + identity[1]], 1) << "class byte";
    host.sendCommand(kATPIdentityAck);

    host.sendCommand(kATPTextOut, "$sn?\r\n");
    std::string text;
    while (text.find("CMD OK\r\n") == std::string::npos) {
        const std::vector<uint8_t> reply = host.receiveCode(kATPTextIn);
        ASSERT_FALSE(reply.empty());
        text.append(reply.begin() + 2, reply.begin() + 2 + reply[1]);
    }
    EXPECT_EQ(text, scenario->serial + "\r\n" + scenario->secondLine + "\r\nCMD OK\r\n");

    // The clock request goes through the numbered message stream.
    const uint8_t request[] = {0x41, 0x7D};
    ATPBuildDataPacket(packet, kATPDataOut, 0, 0, request, sizeof request);
    host.send(packet);
    const std::vector<uint8_t> data = host.receiveCode(kATPDataIn);
    ASSERT_EQ(data.size(), kATPPacketSize);
    ATPDataPacketView view;
    ASSERT_EQ(ATPParseDataPacket(data.data(), &view), ATPParseResult::ok);
    EXPECT_EQ(view.seq, 0);
    EXPECT_EQ(view.ack, 1);
    ASSERT_EQ(view.length, 10u);
    EXPECT_EQ(view.payload[0], 0x88);
    EXPECT_EQ(view.payload[1], 0x41);
    EXPECT_EQ(std::memcmp(view.payload + 2, scenario->clock.data(), 8), 0);

    ASSERT_TRUE(sim.waitUntil(
        [](const ReaderSimState& s) { return s.identityAcked && s.requests.size() == 1; },
        kPatienceMs));
    const ReaderSimState state = sim.state();
    EXPECT_EQ(state.textCommands, std::vector<std::string>{"$sn?"});
    EXPECT_EQ(state.requests[0].type, 65);

    // Unplugging hangs up on the host and removes the socket; plugging brings it back.
    sim.unplug();
    EXPECT_TRUE(host.receiveCode(0xFF).empty());
    EXPECT_TRUE(DirectoryEntries(dir).empty());
    ASSERT_TRUE(sim.plug(&error)) << error;
    EXPECT_EQ(DirectoryEntries(dir).size(), 1u);
    sim.stop();
    EXPECT_TRUE(DirectoryEntries(dir).empty());
    ::rmdir(dir.c_str());
}

TEST(SimReaderSmoke, RefusesANameHeldByALiveSimulatorAndTakesOverAStaleOne) {
    TempDir dir;
    ReaderSimOptions options;
    options.dir = dir.path();
    options.log = false;
    ReaderSim first(options);
    std::string error;
    ASSERT_TRUE(first.start(&error)) << error;
    {
        ReaderSim second(options);
        EXPECT_FALSE(second.start(&error));
        EXPECT_NE(error.find("held by a live simulator"), std::string::npos) << error;
    }
    // The first one's socket is still there and still answers.
    ScriptedHost host;
    EXPECT_TRUE(host.connect(first.socketPath()));
    first.stop();

    // A socket file left behind by a killed simulator accepts no connection and is replaced.
    const int stale = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", first.socketPath().c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    ReaderSim third(options);
    EXPECT_TRUE(third.start(&error)) << error;
}

TEST(SimOptions, NamesWhatIsWrongWithTheCommandLine) {
    const struct {
        std::vector<const char*> arguments;
        const char* message;
    } cases[] = {
        {{"--dir", "d", "--bogus"}, "--bogus: unknown option"},
        {{"--dir", "d", "--bogus", "1"}, "--bogus: unknown option"},
        {{"--dir", "d", "--window"}, "--window: needs a value"},
        {{"--dir", "d", "--window", "0"}, "--window: bad value \"0\""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"lumora-reader-sim"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SimProgramOptions options;
        std::string message;
        EXPECT_EQ(ParseSimArgs(int(argv.size()), argv.data(), &options, &message),
                  SimArgsResult::error);
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
    }
}

}  // namespace
