#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "hid/backend_socket.h"
#include "socket_device_fixture.h"
#include "temp_dir.h"

namespace {

constexpr uint32_t kLongMs = 5000;  // only reached when something is broken

std::unique_ptr<HidBackend> backendFor(const TempDir& dir) {
    return HidNewSocketBackend(dir.path());
}

// A backend device connected to one fixture device.
struct Connected {
    explicit Connected(const std::string& name = "reader") : backend(backendFor(dir)) {
        bool denied = false;
        if (plug.listen(dir.path(), name)) {
            device = backend->open(plug.path().c_str(), denied);
        }
        if (device) {
            accepted = plug.accept();
        }
    }
    ~Connected() {
        if (device) {
            backend->close(device);
        }
    }

    TempDir dir;
    SocketDeviceFixture plug;
    std::unique_ptr<HidBackend> backend;
    HidDevice* device = nullptr;
    bool accepted = false;
};

// Runs one read on its own thread, so the test can act while it is blocked.
struct ReadInThread {
    ReadInThread(HidBackend& backend, HidDevice* device) : backend(backend), device(device) {
        thread = OsCreateThread("test-read", &run, this);
    }
    ~ReadInThread() {
        backend.interrupt(device, nullptr);  // a failed test must not leave it blocked
        OsWait(thread, kOsWaitForever);
        OsCloseHandle(thread);
    }
    bool ended(uint32_t timeoutMs) { return OsWait(thread, timeoutMs) == kWaitSignalled; }

    static void run(void* raw) {
        auto* self = static_cast<ReadInThread*>(raw);
        self->result = self->backend.read(self->device, nullptr, self->report, self->size);
    }

    HidBackend& backend;
    HidDevice* device;
    uint8_t report[kHidReportSize] = {};
    int size = 0;
    HidReadResult result = HidReadResult::failed;
    OsHandle thread;  // "test-read", owned by this object
};

void makeReport(uint8_t (&report)[kHidReportSize], uint8_t seed) {
    report[0] = 0;
    for (int i = 1; i < kHidReportSize; ++i) {
        report[i] = uint8_t(seed + i);
    }
}

TEST(HidSocketBackend, EnumerateListsOnlySocketFiles) {
    TempDir dir;
    SocketDeviceFixture a, b;
    ASSERT_TRUE(a.listen(dir.path(), "vid_1a61&pid_3650-b"));
    ASSERT_TRUE(b.listen(dir.path(), "vid_1a61&pid_3650-a"));
    std::ofstream(dir / "notes.txt") << "not a device";
    ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0700), 0);

    std::vector<std::string> paths;
    ASSERT_TRUE(backendFor(dir)->enumerate(paths));
    EXPECT_EQ(paths,
              (std::vector<std::string>{dir / "vid_1a61&pid_3650-a", dir / "vid_1a61&pid_3650-b"}));

    EXPECT_FALSE(HidNewSocketBackend(dir / "absent")->enumerate(paths));
}

TEST(HidSocketBackend, OpenFailsWhenNothingListens) {
    TempDir dir;
    std::ofstream(dir / "plain") << "x";
    {
        // A socket file whose listener has gone refuses the connection.
        SocketDeviceFixture gone;
        ASSERT_TRUE(gone.listen(dir.path(), "stale"));
        ASSERT_TRUE(std::rename((dir / "stale").c_str(), (dir / "stale2").c_str()) == 0);
    }
    auto backend = backendFor(dir);
    for (const char* name : {"absent", "plain", "stale2"}) {
        SCOPED_TRACE(name);
        bool denied = false;
        EXPECT_EQ(backend->open((dir / name).c_str(), denied), nullptr);
        EXPECT_FALSE(denied);
    }
}

TEST(HidSocketBackend, ReportsTravelWholeBothWays) {
    Connected c;
    ASSERT_TRUE(c.accepted);

    uint8_t packet[kHidDataSize];
    for (int i = 0; i < kHidDataSize; ++i) {
        packet[i] = uint8_t(0xA0 ^ i);
    }
    ASSERT_TRUE(c.plug.sendReport(packet));
    uint8_t report[kHidReportSize];
    int size = 0;
    ASSERT_EQ(c.backend->read(c.device, nullptr, report, size), HidReadResult::report);
    EXPECT_EQ(size, kHidReportSize);
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(memcmp(report + 1, packet, sizeof packet), 0);

    uint8_t out[kHidReportSize];
    makeReport(out, 7);
    int error = -1;
    ASSERT_EQ(c.backend->write(c.device, out, kLongMs, error), HidWriteResult::written);
    EXPECT_EQ(error, 0);
    const std::vector<uint8_t> received = c.plug.receive();
    EXPECT_EQ(received, std::vector<uint8_t>(out, out + kHidReportSize));
}

// A datagram of another size comes up with its real size, so the caller can drop it.
TEST(HidSocketBackend, OddSizedDatagramsKeepTheirSize) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    for (size_t sent : {size_t(1), size_t(64), size_t(66), size_t(200)}) {
        SCOPED_TRACE(sent);
        std::vector<uint8_t> datagram(sent, 0x5A);
        ASSERT_TRUE(c.plug.send(datagram.data(), datagram.size()));
        uint8_t report[kHidReportSize];
        int size = 0;
        ASSERT_EQ(c.backend->read(c.device, nullptr, report, size), HidReadResult::report);
        EXPECT_EQ(size, int(sent));
    }
}

TEST(HidSocketBackend, InterruptEndsABlockedReadAndStays) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    {
        ReadInThread reader(*c.backend, c.device);
        ASSERT_NE(reader.thread, nullptr);
        EXPECT_FALSE(reader.ended(50));  // nothing to read: it blocks
        c.backend->interrupt(c.device, nullptr);
        ASSERT_TRUE(reader.ended(kLongMs));
        EXPECT_EQ(reader.result, HidReadResult::interrupted);
    }
    // Even with a report waiting, later reads keep returning interrupted.
    uint8_t packet[kHidDataSize] = {1};
    ASSERT_TRUE(c.plug.sendReport(packet));
    uint8_t report[kHidReportSize];
    int size = 0;
    EXPECT_EQ(c.backend->read(c.device, nullptr, report, size), HidReadResult::interrupted);
}

TEST(HidSocketBackend, UnplugFailsABlockedReadAndRefusesWrites) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    ReadInThread reader(*c.backend, c.device);
    c.plug.unplug();
    ASSERT_TRUE(reader.ended(kLongMs));
    EXPECT_EQ(reader.result, HidReadResult::failed);

    uint8_t out[kHidReportSize];
    makeReport(out, 1);
    int error = 0;
    EXPECT_EQ(c.backend->write(c.device, out, kLongMs, error), HidWriteResult::refused);
}

// readIfQueued takes what is waiting and never waits.
TEST(HidSocketBackend, ReadIfQueuedTakesWhatIsWaitingThenSaysDrained) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    uint8_t report[kHidReportSize];
    int size = -1;
    EXPECT_EQ(c.backend->readIfQueued(c.device, nullptr, report, size), HidReadResult::drained);
    EXPECT_EQ(size, 0);
    for (uint8_t first : {uint8_t(1), uint8_t(2)}) {
        uint8_t packet[kHidDataSize] = {first};
        ASSERT_TRUE(c.plug.sendReport(packet));
    }
    for (uint8_t first : {uint8_t(1), uint8_t(2)}) {
        ASSERT_EQ(c.backend->readIfQueued(c.device, nullptr, report, size), HidReadResult::report);
        EXPECT_EQ(size, kHidReportSize);
        EXPECT_EQ(report[1], first);
    }
    EXPECT_EQ(c.backend->readIfQueued(c.device, nullptr, report, size), HidReadResult::drained);
}

// A device may answer and then go at once: its last report still comes first.
TEST(HidSocketBackend, ReportSentJustBeforeUnplugStillArrives) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    uint8_t packet[kHidDataSize] = {9, 8, 7};
    ASSERT_TRUE(c.plug.sendReport(packet));
    c.plug.unplug();
    uint8_t report[kHidReportSize];
    int size = 0;
    ASSERT_EQ(c.backend->read(c.device, nullptr, report, size), HidReadResult::report);
    EXPECT_EQ(report[1], 9);
    EXPECT_EQ(c.backend->read(c.device, nullptr, report, size), HidReadResult::failed);
}

TEST(HidSocketBackend, WriteTimesOutWhenTheDeviceNeverReads) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    uint8_t out[kHidReportSize];
    makeReport(out, 3);
    HidWriteResult result = HidWriteResult::written;
    int written = 0;
    int error = 0;
    while (written < 100000 &&
           (result = c.backend->write(c.device, out, 50, error)) == HidWriteResult::written) {
        ++written;
    }
    EXPECT_EQ(result, HidWriteResult::timedOut);
    EXPECT_GT(written, 0);
    // What was written is still there, datagram by datagram.
    EXPECT_EQ(c.plug.receive().size(), size_t(kHidReportSize));
}

struct Writer {
    HidBackend* backend;
    HidDevice* device;
    uint8_t id;
    std::atomic<int>* failures;
};

constexpr int kWritesPerThread = 100;

void writeMany(void* raw) {
    auto* writer = static_cast<Writer*>(raw);
    uint8_t out[kHidReportSize];
    memset(out, writer->id, sizeof out);
    out[0] = 0;
    for (int i = 0; i < kWritesPerThread; ++i) {
        int error = 0;
        if (writer->backend->write(writer->device, out, kLongMs, error) !=
            HidWriteResult::written) {
            ++*writer->failures;
        }
    }
}

// Writers on several threads, with a read blocked meanwhile, never mix their datagrams.
TEST(HidSocketBackend, ConcurrentWritesArriveWholeDuringABlockedRead) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    ReadInThread reader(*c.backend, c.device);
    std::atomic<int> failures{0};
    Writer writers[4];
    OsHandle threads[4];  // "test-write", owned by this test
    for (int i = 0; i < 4; ++i) {
        writers[i] = {c.backend.get(), c.device, uint8_t(i + 1), &failures};
        threads[i] = OsCreateThread("test-write", &writeMany, &writers[i]);
        EXPECT_NE(threads[i], nullptr);
    }
    int counts[5] = {};
    for (int n = 0; n < 4 * kWritesPerThread; ++n) {
        std::vector<uint8_t> datagram = c.plug.receive();
        const uint8_t id = datagram.size() == size_t(kHidReportSize) ? datagram[1] : 0;
        std::vector<uint8_t> whole(kHidReportSize, id);
        whole[0] = 0;
        if (id < 1 || id > 4 || datagram != whole) {
            ADD_FAILURE() << "datagram " << n << " is not one writer's whole report";
            c.plug.unplug();  // lets the writers fail fast
            break;
        }
        ++counts[id];
    }
    for (OsHandle thread : threads) {
        OsWait(thread, kOsWaitForever);
        OsCloseHandle(thread);
    }
    EXPECT_EQ(failures.load(), 0);
    for (int id = 1; id <= 4; ++id) {
        EXPECT_EQ(counts[id], kWritesPerThread);
    }
    EXPECT_FALSE(reader.ended(0));
}

TEST(HidSocketBackend, WatchWakesOnArrivalByRenameAndOnRemoval) {
    TempDir dir;
    TempDir staging;
    SocketDeviceFixture plug;
    ASSERT_TRUE(plug.listen(staging.path(), "reader"));

    OsHandle wake = OsCreateEvent(false, false);
    auto backend = backendFor(dir);
    std::unique_ptr<HidWatch> watch(backend->watch(wake));
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(OsWait(wake, 0), kWaitTimeout);

    ASSERT_EQ(std::rename(plug.path().c_str(), (dir / "reader").c_str()), 0);
    EXPECT_EQ(OsWait(wake, kLongMs), kWaitSignalled);
    ASSERT_EQ(unlink((dir / "reader").c_str()), 0);
    EXPECT_EQ(OsWait(wake, kLongMs), kWaitSignalled);

    watch.reset();  // joins its thread
    EXPECT_EQ(HidNewSocketBackend(dir / "absent")->watch(wake), nullptr);
    OsCloseHandle(wake);
}

}  // namespace
