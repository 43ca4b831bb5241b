// Discovery and report I/O through the socket device, with a scripted device per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid.h"
#include "hid/hid_backend.h"
#include "socket_device_fixture.h"
#include "temp_dir.h"
#include "tests/support/denying_backend.h"
#include "tests/support/eventually.h"
#include "tests/support/log_file.h"

namespace {

// Set up before any test: the backend reads them once per process.
class SocketFolder : public ::testing::Environment {
public:
    static inline TempDir* folder = nullptr;
    void SetUp() override {
        folder = new TempDir;
        TestSetEnv("LUMORA_HID_SOCKET_DIR", folder->path().c_str());
    }
    void TearDown() override { delete folder; }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SocketFolder);

const HidDeviceFilter kFilters[] = {{0x1a61, 0x3650}, {0x1a61, 0x3660}, {0, 0}, {0x1a61, 0x3670}};

// What the callbacks saw, in order.
struct Recorder {
    struct Event {
        char kind;  // 'a' arrive, 'r' remove, 'p' report, 'b' batch end, 't' rest over; 0: none
        HidDeviceEntry* entry;
        std::vector<uint8_t> data;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;
    bool holdReports = false;  // the report callback waits until this is cleared
    // Reports ask for a rest of this length (0: none); each rest's end asks for another until
    // restsLeft is 0.
    std::atomic<uint32_t> restMs{0};
    int restsLeft = 0;

    void add(Event event) {
        std::unique_lock<std::mutex> lock(mutex);
        const bool report = event.kind == 'p';
        events.push_back(std::move(event));
        changed.notify_all();
        changed.wait(lock, [&] { return !report || !holdReports; });
    }
    void setHold(bool hold) {
        std::lock_guard<std::mutex> lock(mutex);
        holdReports = hold;
        changed.notify_all();
    }
    std::string kinds() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string text;
        for (const Event& event : events) {
            text += event.kind;
        }
        return text;
    }
    // Waits until the n-th event of a kind has come and returns it; the cap is a hang guard.
    Event nth(char kind, int n) {
        std::unique_lock<std::mutex> lock(mutex);
        Event found{0, nullptr, {}};
        changed.wait_for(lock, std::chrono::seconds(30), [&] {
            int seen = 0;
            for (const Event& event : events) {
                if (event.kind == kind && ++seen == n) {
                    found = event;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
};

void onRest(HidDeviceEntry* entry, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    recorder->add({'t', entry, {}});
    if (--recorder->restsLeft > 0) {
        EXPECT_TRUE(HidRestUntil(entry, HidNowMs() + recorder->restMs, onRest, context));
    }
}
void onReport(HidDeviceEntry* entry, const uint8_t* data, int32_t length, void* context) {
    auto* recorder = static_cast<Recorder*>(context);
    if (recorder->restMs != 0) {
        EXPECT_TRUE(HidRestUntil(entry, HidNowMs() + recorder->restMs, onRest, context));
    }
    recorder->add({'p', entry, std::vector<uint8_t>(data, data + length)});
}
template <char kKind>
void onEvent(HidDeviceEntry* entry, void* context) {
    static_cast<Recorder*>(context)->add({kKind, entry, {}});
}

class HidInterfaceTest : public ::testing::Test {
protected:
    void TearDown() override {
        CloseHidInterface(hid);
        HidSetBackendForTest(nullptr);
        HidTimingsForTest() = HidTimings();
    }
    // Scans at open, then every scanIntervalMs (by default never within a test).
    void open(bool hotplugWake, uint32_t scanIntervalMs = 3600 * 1000) {
        HidTimings& timings = HidTimingsForTest();
        timings.writeTimeoutMs = 50;
        timings.writeAttempts = 3;
        timings.hotplugWake = hotplugWake;
        timings.scanIntervalMs = scanIntervalMs;
        hid = OpenHidInterface(kFilters, onReport, onEvent<'a'>, onEvent<'r'>, &recorder,
                               onEvent<'b'>);
        ASSERT_NE(hid, nullptr);
        // Past the scan at open, so that scanNow counts the scan it asks for and not that one.
        ASSERT_TRUE(Eventually([&] { return hid->scans > 0; }));
    }
    // The usual start: one device, there before the interface opens, adopted by the first scan;
    // null when that failed. Its name is in upper case, as Windows paths may be.
    HidDeviceEntry* openWithDevice() {
        device = plug("Reader-VID_1A61&PID_3660.sock");
        open(false);
        return hid && device->accept() ? recorder.nth('a', 1).entry : nullptr;
    }
    // Wakes the idle listen thread and waits until it has finished one more scan.
    void scanNow() {
        const uint32_t before = hid->scans;
        OsSetEvent(hid->listenEvent);
        ASSERT_TRUE(Eventually([&] { return hid->scans > before; })) << "no scan";
    }
    std::unique_ptr<SocketDeviceFixture> plug(const std::string& name) {
        auto plugged = std::make_unique<SocketDeviceFixture>();
        EXPECT_TRUE(plugged->listen(SocketFolder::folder->path(), name));
        return plugged;
    }

    Recorder recorder;
    hidInterface* hid = nullptr;
    std::unique_ptr<SocketDeviceFixture> device;
};

TEST_F(HidInterfaceTest, DeviceFoundAtOpenCarriesWholeReportsBothWaysAndWritesTimeOut) {
    auto unmatched = plug("reader-vid_1a61&pid_3651.sock");  // no filter row for it
    auto pastEnd = plug("reader-vid_1a61&pid_3670.sock");    // behind the table's end row
    HidDeviceEntry* entry = openWithDevice();
    ASSERT_EQ(entry, &hid->DeviceTable[0]);
    scanNow();  // the first scan has finished with the table
    EXPECT_EQ(hid->deviceCount, 1);
    // Matched in lower case, opened by the path as given (Linux paths are case-sensitive).
    std::string lower = device->path();
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    EXPECT_EQ(entry->path, lower);
    EXPECT_STREQ(entry->platformPath, device->path().c_str());

    // Datagrams of another size are no reports: the first report passed on is the whole one.
    for (const size_t size : {10, 80}) {
        ASSERT_TRUE(device->send(std::vector<uint8_t>(size).data(), size));
    }
    uint8_t packet[64];
    std::iota(packet, packet + 64, uint8_t(1));
    ASSERT_TRUE(device->sendReport(packet));
    const Recorder::Event report = recorder.nth('p', 1);
    EXPECT_EQ(report.entry, entry);
    EXPECT_EQ(report.data, std::vector<uint8_t>(packet, packet + 64));

    uint8_t data[65];
    std::iota(data, data + 65, uint8_t(0xA0));
    EXPECT_TRUE(WriteHidReport(entry, data, 64));
    std::vector<uint8_t> written(data, data + 64);
    written.insert(written.begin(), 0);  // report id 0
    EXPECT_EQ(device->receive(), written);
    EXPECT_FALSE(WriteHidReport(entry, data, 65));
    EXPECT_FALSE(WriteHidReportTo(entry, entry->generation + 1, data, 64));  // another adoption's
    EXPECT_TRUE(device->receive(50).empty());

    // The device reads no more: once the socket's buffer is full, each attempt times out.
    const LogSince log;
    for (int written = 0; WriteHidReport(entry, data, 64);) {
        ASSERT_LT(++written, 100000);
    }
    EXPECT_EQ(log.count("WriteHidReport: failed - timeout"), 3);
}

// Reports that queued up while one was being delivered go out as one batch, told once; a rest
// begins after it. When the rest is over, the thread reads what queued meanwhile, tells its batch
// end, then calls back. A stop ends a long rest at once (else the close in TearDown outlasts the
// test's time limit).
TEST_F(HidInterfaceTest, RestEndsWithTheReportsQueuedMeanwhileThenCallsBack) {
#ifdef _WIN32
    GTEST_SKIP() << "the pipe device cannot rest: there the transport ticks on a timer";
#endif
    recorder.restMs = 5;
    recorder.restsLeft = 3;
    ASSERT_NE(openWithDevice(), nullptr);
    uint8_t packet[64] = {};
    recorder.setHold(true);
    ASSERT_TRUE(device->sendReport(packet));  // asks for the first rest
    ASSERT_EQ(recorder.nth('p', 1).kind, 'p');
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(device->sendReport(packet));
    recorder.setHold(false);
    ASSERT_EQ(recorder.nth('t', 3).kind, 't');
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room for a wrong fourth
    recorder.restMs = 3600 * 1000;
    ASSERT_TRUE(device->sendReport(packet));  // read at once, as no rest is asked for
    ASSERT_EQ(recorder.nth('b', 2).kind, 'b');
    EXPECT_EQ(recorder.kinds(), "apppbtttpb");
}

TEST_F(HidInterfaceTest, HotPlugNoticesAddAndRemoveWithoutWaitingForTheScan) {
    open(true);
    device = plug("r-vid_1a61&pid_3650");
    ASSERT_TRUE(device->accept());
    HidDeviceEntry* entry = recorder.nth('a', 1).entry;
    ASSERT_NE(entry, nullptr);
    scanNow();  // the same arrival told again
    EXPECT_EQ(recorder.kinds(), "a");
    device->unplug();
    ASSERT_EQ(recorder.nth('r', 1).entry, entry);
    scanNow();  // the removing scan has finished with the table
    EXPECT_EQ(hid->deviceCount, 0);
    EXPECT_EQ(entry->path[0], '\0');
    const uint8_t data[64] = {};
    EXPECT_FALSE(WriteHidReport(entry, data, 64));  // refused at once: nothing is open
    // Adopted again into the same entry: a record of the first adoption must tell them apart.
    const uint32_t first = entry->generation;
    device = plug("r-vid_1a61&pid_3650");
    ASSERT_TRUE(device->accept());
    ASSERT_EQ(recorder.nth('a', 2).entry, entry);
    EXPECT_GT(entry->generation, first);
}

// A killed device leaves its socket file, and a new one later takes the same path: whether the
// old one had never opened or had opened and died, the path is tried again.
TEST_F(HidInterfaceTest, PathThatStaysIsTriedAgainAfterItsDeviceFailedOrDied) {
    HidTimingsForTest().openRetryLimitMs = 100;
    const std::string name = "r-vid_1a61&pid_3650";
    plug(name)->die();
    open(false, 50);
    ASSERT_TRUE(Eventually([] { return LogSince(0).count("giving up") > 0; }));
    auto live = plug(name);
    ASSERT_TRUE(live->accept());
    ASSERT_EQ(recorder.nth('a', 1).kind, 'a');
    live->die();
    auto again = plug(name);
    ASSERT_TRUE(again->accept());
    ASSERT_EQ(recorder.nth('a', 2).kind, 'a');
    EXPECT_EQ(recorder.kinds(), "ara");
}

// Opens refused for lack of permission, then allowed, as when udev applies its rule late.
TEST_F(HidInterfaceTest, DeniedDeviceIsReportedAndAdoptedOncePermitted) {
    DenyingBackend backend;
    HidSetBackendForTest(&backend);
    HidTimingsForTest().openRetryLimitMs = 100;
    device = plug("r-vid_1a61&pid_3650");
    open(false, 20);
    ASSERT_TRUE(Eventually([] { return !HidDeniedDevicePath().empty(); }));
    EXPECT_EQ(HidDeniedDevicePath(), device->path());
    scanNow();  // a retry or two more, refused again
    scanNow();
    backend.deny = false;
    ASSERT_TRUE(device->accept());
    ASSERT_EQ(recorder.nth('a', 1).kind, 'a');
    EXPECT_EQ(HidDeniedDevicePath(), "");
    EXPECT_EQ(LogSince(0).count("permission denied"), 1);
    CloseHidInterface(hid);  // before the backend goes
    hid = nullptr;
}

// 32 in use; two unplugged and two plugged in before the next scan, so the count stays:
// adoption meets a full table, the two are removed, and the scan after adopts the newcomers, the
// first at the lowest free entry.
TEST_F(HidInterfaceTest, FullTableAdoptsNewcomersOnlyAfterRemovalsThoughTheCountStays) {
    open(false);
    std::vector<std::unique_ptr<SocketDeviceFixture>> devices;
    for (int i = 0; i < kHidMaxDevices; ++i) {
        devices.push_back(plug("d" + std::to_string(i) + "-vid_1a61&pid_3650"));
    }
    scanNow();
    ASSERT_EQ(recorder.nth('a', kHidMaxDevices).kind, 'a');
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices);

    devices[3]->unplug();
    devices[7]->unplug();
    auto newcomer = plug("new1-vid_1a61&pid_3650");
    auto second = plug("new2-vid_1a61&pid_3650");
    const LogSince log;
    scanNow();
    EXPECT_EQ(log.count("hidInterface DeviceTable full"), 2);
    HidDeviceEntry* lowest = std::min(recorder.nth('r', 1).entry, recorder.nth('r', 2).entry);
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices - 2);

    scanNow();
    ASSERT_EQ(recorder.nth('a', kHidMaxDevices + 2).kind, 'a');
    ASSERT_NE(lowest, nullptr);
    EXPECT_STREQ(lowest->platformPath, newcomer->path().c_str());
    const std::string kinds = recorder.kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), 'r'), 2);
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices);
}

TEST_F(HidInterfaceTest, AtMostTenFilterRowsAreMatched) {
    HidDeviceFilter many[12];
    for (int i = 0; i < 12; ++i) {
        many[i] = {0x1a61, uint32_t(0x10 + i)};
    }
    hid = OpenHidInterface(many, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hid, nullptr);
    EXPECT_EQ(hid->matchCount, 10);
    EXPECT_STREQ(hid->matchStrings[9], "vid_1a61&pid_0019");
}

}  // namespace
