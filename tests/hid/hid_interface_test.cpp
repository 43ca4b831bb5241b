// Discovery and report I/O through the socket device, with a scripted device per test.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "hid/hid.h"
#include "hid/hid_backend.h"
#include "socket_device_fixture.h"
#include "temp_dir.h"
#include "tests/support/denying_backend.h"

namespace {

// The backend is chosen once per process, so the socket folder and the log file are set up
// before any test runs.
class SocketFolder : public ::testing::Environment {
public:
    static TempDir* folder;
    static std::string logPath;
    void SetUp() override {
        folder = new TempDir;
        logPath = folder->path() + ".log";
        TestSetEnv("LUMORA_HID_SOCKET_DIR", folder->path().c_str());
        TestSetEnv("LUMORA_DEBUG_LOG", logPath.c_str());
    }
    void TearDown() override {
        delete folder;
        std::remove(logPath.c_str());
    }
};
TempDir* SocketFolder::folder = nullptr;
std::string SocketFolder::logPath;
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SocketFolder);

std::string logText() {
    std::ifstream file(SocketFolder::logPath);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        c = char(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int occurrences(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

const HidDeviceFilter kFilters[] = {{0x1a61, 0x3650}, {0x1a61, 0x3660}, {0, 0}, {0x1a61, 0x3670}};

// What the callbacks saw, in order.
struct Recorder {
    struct Event {
        char kind;  // 'a' arrive, 'r' remove, 'p' report, 'b' batch end
        HidDeviceEntry* entry;
        std::vector<uint8_t> data;
        uint32_t scans = 0;  // scans finished when it was called
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Event> events;
    bool holdReports = false;  // the report callback waits until this is cleared

    void add(Event event) {
        std::unique_lock<std::mutex> lock(mutex);
        const bool report = event.kind == 'p';
        events.push_back(std::move(event));
        changed.notify_all();
        if (report) {
            changed.wait(lock, [&] { return !holdReports; });
        }
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
    int count(char kind) {
        int n = 0;
        for (const Event& event : events) {
            n += event.kind == kind;
        }
        return n;
    }
    // Waits until n events of a kind have been seen.
    bool waitFor(char kind, int n, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return count(kind) >= n; });
    }
    Event last(char kind) {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->kind == kind) {
                return *it;
            }
        }
        return {};
    }
};

void onReport(HidDeviceEntry* entry, const uint8_t* data, int32_t length, void* context) {
    static_cast<Recorder*>(context)->add({'p', entry, std::vector<uint8_t>(data, data + length)});
}
void onArrive(HidDeviceEntry* entry, void* context) {
    static_cast<Recorder*>(context)->add({'a', entry, {}});
}
void onRemove(HidDeviceEntry* entry, void* context) {
    static_cast<Recorder*>(context)->add({'r', entry, {}, entry->owner->scans});
}
void onBatchEnd(HidDeviceEntry* entry, void* context) {
    static_cast<Recorder*>(context)->add({'b', entry, {}});
}

class HidInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        timings = HidTimings();
        timings.writeTimeoutMs = 50;
        timings.writeAttempts = 3;
    }
    void TearDown() override {
        CloseHidInterface(hid);
        HidTimingsForTest() = HidTimings();
    }
    void open(bool hotplugWake, uint32_t scanIntervalMs = 100) {
        timings.hotplugWake = hotplugWake;
        timings.scanIntervalMs = scanIntervalMs;
        HidTimingsForTest() = timings;
        hid = OpenHidInterface(kFilters, onReport, onArrive, onRemove, &recorder, onBatchEnd);
        ASSERT_NE(hid, nullptr);
    }
    // Waits until the scan that removed a device has finished with the table.
    void waitForScanAfter(const Recorder::Event& event) {
        for (int i = 0; i < 10000 && hid->scans == event.scans; ++i) {
            OsSleep(1);
        }
    }
    // Wakes the idle listen thread and waits until it has finished one more scan.
    void scanNow() {
        const uint32_t before = hid->scans;
        OsSetEvent(hid->listenEvent);
        for (int i = 0; i < 10000 && hid->scans == before; ++i) {
            OsSleep(1);
        }
        ASSERT_GT(hid->scans, before) << "no scan";
    }
    std::unique_ptr<SocketDeviceFixture> plug(const std::string& name) {
        auto device = std::make_unique<SocketDeviceFixture>();
        EXPECT_TRUE(device->listen(SocketFolder::folder->path(), name));
        return device;
    }
    int indexOf(HidDeviceEntry* entry) { return int(entry - hid->DeviceTable); }

    HidTimings timings;
    Recorder recorder;
    hidInterface* hid = nullptr;
};

TEST_F(HidInterfaceTest, DevicePresentBeforeOpenIsAdoptedAtOnceAndDeliversReports) {
    auto device = plug("reader-vid_1a61&pid_3650.sock");
    // No wake and no periodic scan within the wait below: only the scan at open can find it.
    open(false, 3600 * 1000);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    EXPECT_EQ(hid->deviceCount, 1);
    EXPECT_EQ(hid->DeviceTable[0].path, lowerCase(device->path()));

    uint8_t packet[64];
    for (int i = 0; i < 64; ++i) {
        packet[i] = uint8_t(i + 1);
    }
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(recorder.waitFor('p', 1));
    const Recorder::Event report = recorder.last('p');
    EXPECT_EQ(report.entry, &hid->DeviceTable[0]);
    EXPECT_EQ(report.data, std::vector<uint8_t>(packet, packet + 64));
    EXPECT_EQ(recorder.events.front().kind, 'a');  // announced before its first report
}

// Reports that queued up while one was being delivered go out as one batch, told once.
TEST_F(HidInterfaceTest, BatchEndFollowsTheReportsThatWereQueuedTogether) {
#ifdef _WIN32
    GTEST_SKIP() << "a pipe cannot tell whether a report is queued: a batch ends after each one";
#endif
    auto device = plug("reader-vid_1a61&pid_3650.sock");
    open(false, 3600 * 1000);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    uint8_t packet[64] = {};
    recorder.setHold(true);
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(recorder.waitFor('p', 1));
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(device->sendReport(packet));
    recorder.setHold(false);
    ASSERT_TRUE(recorder.waitFor('b', 1));
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(recorder.waitFor('b', 2));
    EXPECT_EQ(recorder.kinds(), "apppbpb");
}

TEST_F(HidInterfaceTest, ShortAndLongDatagramsAreNotPassedOnAsReports) {
    auto device = plug("r-vid_1a61&pid_3650");
    open(true);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    const uint8_t shortReport[10] = {0, 11};
    const uint8_t longReport[80] = {0, 22};
    uint8_t packet[64] = {33};
    ASSERT_TRUE(device->send(shortReport, sizeof shortReport));
    ASSERT_TRUE(device->send(longReport, sizeof longReport));
    ASSERT_TRUE(device->sendReport(packet));
    ASSERT_TRUE(recorder.waitFor('p', 1));
    EXPECT_EQ(recorder.count('p'), 1);
    EXPECT_EQ(recorder.last('p').data[0], 33);
}

TEST_F(HidInterfaceTest, WritesAreWholeReportsAndOverlongOnesAreRefused) {
    auto device = plug("r-vid_1a61&pid_3650");
    open(true);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    HidDeviceEntry* entry = recorder.last('a').entry;

    uint8_t data[65];
    for (int i = 0; i < 65; ++i) {
        data[i] = uint8_t(0xA0 + i);
    }
    EXPECT_TRUE(WriteHidReport(entry, data, 64));
    const std::vector<uint8_t> received = device->receive();
    ASSERT_EQ(received.size(), 65u);
    EXPECT_EQ(received[0], 0);
    EXPECT_EQ(std::vector<uint8_t>(received.begin() + 1, received.end()),
              std::vector<uint8_t>(data, data + 64));

    EXPECT_FALSE(WriteHidReport(entry, data, 65));
    EXPECT_EQ(occurrences(logText(), "WriteHidReport failed - len is greater than max report size"),
              1);
    EXPECT_FALSE(WriteHidReportTo(entry, entry->generation + 1, data, 64));  // another adoption's
    EXPECT_TRUE(device->receive(50).empty());
}

TEST_F(HidInterfaceTest, DeviceThatNeverReadsTimesOutEachAttempt) {
    auto device = plug("r-vid_1a61&pid_3650");
    open(true);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    HidDeviceEntry* entry = recorder.last('a').entry;
    const uint8_t data[64] = {};
    int written = 0;
    while (WriteHidReport(entry, data, 64)) {  // until the socket's buffer is full
        ASSERT_LT(++written, 100000);
    }
    const std::string log = logText();
    EXPECT_EQ(occurrences(log, "WriteHidReport: failed - timeout"), timings.writeAttempts);
}

TEST_F(HidInterfaceTest, UnplugEndsTheReadThreadAndTheNextScanRemovesTheEntry) {
    auto device = plug("r-vid_1a61&pid_3650");
    open(false);
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    HidDeviceEntry* entry = recorder.last('a').entry;
    device->unplug();
    ASSERT_TRUE(recorder.waitFor('r', 1));
    EXPECT_EQ(recorder.last('r').entry, entry);
    waitForScanAfter(recorder.last('r'));
    EXPECT_EQ(hid->deviceCount, 0);
    EXPECT_EQ(entry->path[0], '\0');
    const uint8_t data[64] = {};
    EXPECT_FALSE(WriteHidReport(entry, data, 64));  // refused at once: nothing is open
}

TEST_F(HidInterfaceTest, HotPlugWakeFindsDevicesWithoutWaitingForTheScan) {
    open(true, 3600 * 1000);  // the periodic scan would never come
    auto device = plug("r-vid_1a61&pid_3650");
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    device->unplug();
    ASSERT_TRUE(recorder.waitFor('r', 1));
}

TEST_F(HidInterfaceTest, LowestFreeIndexIsReusedAndRemovalComesBeforeTheNextArrival) {
    open(false, 3600 * 1000);
    auto first = plug("a-vid_1a61&pid_3650");
    auto second = plug("b-vid_1a61&pid_3660");
    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', 2));
    HidDeviceEntry* atZero = &hid->DeviceTable[0];
    const bool firstAtZero = atZero->path == lowerCase(first->path());
    (firstAtZero ? first : second)->unplug();
    scanNow();
    ASSERT_TRUE(recorder.waitFor('r', 1));
    EXPECT_EQ(recorder.last('r').entry, atZero);

    auto third = plug("c-vid_1a61&pid_3660");
    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', 3));
    EXPECT_EQ(recorder.last('a').entry, atZero);
    EXPECT_EQ(atZero->path, lowerCase(third->path()));
}

TEST_F(HidInterfaceTest, SwapWithEqualCountIsNoticedAtTheNextScan) {
    open(false, 3600 * 1000);
    auto first = plug("a-vid_1a61&pid_3650");
    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', 1));
    first->unplug();
    auto second = plug("b-vid_1a61&pid_3650");
    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', 2));
    EXPECT_EQ(recorder.count('r'), 1);
    EXPECT_EQ(hid->deviceCount, 1);
    EXPECT_EQ(recorder.last('a').entry->path, lowerCase(second->path()));
}

// A killed device leaves its socket file, and a new one later takes the same path: whether the
// old one had never opened or had opened and died, the path is tried again.
TEST_F(HidInterfaceTest, PathThatStaysIsTriedAgainAfterItsDeviceFailedOrDied) {
    timings.openRetryLimitMs = 100;
    const std::string name = "r-vid_1a61&pid_3650";
    auto dead = plug(name);
    dead->die();
    open(false, 50);
    for (int i = 0; i < 10000 && logText().find("giving up") == std::string::npos; ++i) {
        OsSleep(1);
    }
    auto live = plug(name);
    ASSERT_TRUE(live->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    live->die();
    auto again = plug(name);
    ASSERT_TRUE(again->accept());
    ASSERT_TRUE(recorder.waitFor('a', 2));
    EXPECT_EQ(recorder.count('r'), 1);
}

// Opens refused for lack of permission, then allowed, as when udev applies its rule late.
TEST_F(HidInterfaceTest, DeniedDeviceIsReportedAndAdoptedOncePermitted) {
    DenyingBackend backend;
    HidSetBackendForTest(&backend);
    timings.openRetryLimitMs = 100;
    auto device = plug("r-vid_1a61&pid_3650");
    open(false, 20);
    for (int i = 0; i < 10000 && HidDeniedDevicePath().empty(); ++i) {
        OsSleep(1);
    }
    EXPECT_EQ(HidDeniedDevicePath(), device->path());
    scanNow();  // a retry or two more, refused again
    scanNow();
    backend.deny = false;
    ASSERT_TRUE(device->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    EXPECT_EQ(HidDeniedDevicePath(), "");
    EXPECT_EQ(occurrences(logText(), "permission denied"), 1);
    CloseHidInterface(hid);
    hid = nullptr;
    HidSetBackendForTest(nullptr);
}

TEST_F(HidInterfaceTest, MatchingIsCaseInsensitiveAndOpensThePathAsGiven) {
    open(false, 3600 * 1000);
    auto upper = plug("Reader-VID_1A61&PID_3660.sock");
    auto unmatched = plug("reader-vid_1a61&pid_3651.sock");  // no filter row for it
    auto pastEnd = plug("reader-vid_1a61&pid_3670.sock");    // behind the table's end row
    scanNow();
    ASSERT_TRUE(upper->accept());
    ASSERT_TRUE(recorder.waitFor('a', 1));
    EXPECT_EQ(hid->deviceCount, 1);
    EXPECT_EQ(hid->DeviceTable[0].path, lowerCase(upper->path()));
    EXPECT_STREQ(hid->DeviceTable[0].platformPath, upper->path().c_str());
}

// 32 in use; two unplugged and one plugged in before the next scan: adoption meets a full
// table, the two are removed, and the scan after adopts the newcomer.
TEST_F(HidInterfaceTest, FullTableAdoptsTheNewcomerOnlyAfterRemovals) {
    open(false, 3600 * 1000);
    std::vector<std::unique_ptr<SocketDeviceFixture>> devices;
    for (int i = 0; i < kHidMaxDevices; ++i) {
        devices.push_back(plug("d" + std::to_string(i) + "-vid_1a61&pid_3650"));
    }
    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', kHidMaxDevices));
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices);

    HidDeviceEntry* removed[2];
    for (HidDeviceEntry& entry : hid->DeviceTable) {
        if (entry.path == lowerCase(devices[3]->path())) {
            removed[0] = &entry;
        }
        if (entry.path == lowerCase(devices[7]->path())) {
            removed[1] = &entry;
        }
    }
    devices[3]->unplug();
    devices[7]->unplug();
    auto newcomer = plug("new-vid_1a61&pid_3650");
    scanNow();
    EXPECT_EQ(occurrences(logText(), "hidInterface DeviceTable full"), 1);
    EXPECT_EQ(recorder.count('r'), 2);
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices - 2);

    scanNow();
    ASSERT_TRUE(recorder.waitFor('a', kHidMaxDevices + 1));
    EXPECT_EQ(recorder.last('a').entry, std::min(removed[0], removed[1]));
    EXPECT_EQ(hid->deviceCount, kHidMaxDevices - 1);
}

TEST(HidInterface, CloseOfNullInterfaceDoesNothing) {
    CloseHidInterface(nullptr);
}

TEST(HidInterface, MatchStringsStopAtTheEndRowAndAtTen) {
    HidDeviceFilter many[12];
    for (int i = 0; i < 12; ++i) {
        many[i] = {0x1a61, uint32_t(0x10 + i)};
    }
    HidTimingsForTest().hotplugWake = false;
    hidInterface* hid = OpenHidInterface(many, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hid, nullptr);
    EXPECT_EQ(hid->matchCount, 10);
    EXPECT_STREQ(hid->matchStrings[0], "vid_1a61&pid_0010");
    CloseHidInterface(hid);
    hid = OpenHidInterface(kFilters, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(hid->matchCount, 2);
    CloseHidInterface(hid);
    HidTimingsForTest() = HidTimings();
}

}  // namespace
