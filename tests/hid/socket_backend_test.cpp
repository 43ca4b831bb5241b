// What the socket backend itself owns; reports through it and its folder watch are the
// interface tests' business.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <future>
#include <memory>

#include "hid/hid_backend.h"
#include "socket_device_fixture.h"
#include "temp_dir.h"

namespace {

// A backend device connected to one fixture device.
struct Connected {
    Connected() : backend(HidNewSocketDeviceBackend(dir.path())) {
        bool denied = false;
        if (plug.listen(dir.path(), "reader")) {
            device = backend->open(plug.path().c_str(), denied);
        }
        accepted = device && plug.accept();
    }
    ~Connected() {
        if (device) {
            backend->close(device);
        }
    }
    HidReadResult read() {
        int size = 0;
        return backend->read(device, nullptr, report, size);
    }

    TempDir dir;
    SocketDeviceFixture plug;
    std::unique_ptr<HidBackend> backend;
    HidDevice* device = nullptr;
    bool accepted = false;
    uint8_t report[kHidReportSize] = {};  // the last read's
};

// Every socket file is listed, and an open finds out whether anyone listens.
TEST(HidSocketBackend, EnumerateListsSocketFilesAndOpenFailsWhereNothingListens) {
    TempDir dir;
    SocketDeviceFixture a, b;
    ASSERT_TRUE(a.listen(dir.path(), "vid_1a61&pid_3650-b"));
    ASSERT_TRUE(b.listen(dir.path(), "vid_1a61&pid_3650-a"));
    std::ofstream(dir / "plain") << "not a device";
    ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0700), 0);
    const auto backend = HidNewSocketDeviceBackend(dir.path());
    std::vector<std::string> paths;
    ASSERT_TRUE(backend->enumerate(paths));
    EXPECT_EQ(paths,
              (std::vector<std::string>{dir / "vid_1a61&pid_3650-a", dir / "vid_1a61&pid_3650-b"}));
    EXPECT_FALSE(HidNewSocketDeviceBackend(dir / "absent")->enumerate(paths));

    a.die();  // its file stays, refusing connections
    for (const std::string& path : {dir / "absent", dir / "plain", a.path()}) {
        SCOPED_TRACE(path);
        bool denied = true;
        EXPECT_EQ(backend->open(path.c_str(), denied), nullptr);
        EXPECT_FALSE(denied);
    }
}

// The interface stops a read thread by interrupting it, whether its read has begun or not.
TEST(HidSocketBackend, InterruptEndsABlockedReadAndStays) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    auto blocked = std::async(std::launch::async, [&] { return c.read(); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    c.backend->interrupt(c.device, nullptr);
    EXPECT_EQ(blocked.get(), HidReadResult::interrupted);
    // Even with a report waiting, later reads keep returning interrupted.
    const uint8_t packet[kHidDataSize] = {1};
    ASSERT_TRUE(c.plug.sendReport(packet));
    EXPECT_EQ(c.read(), HidReadResult::interrupted);
}

// A device may answer and then go at once: its last report still comes first.
TEST(HidSocketBackend, ReportSentJustBeforeUnplugStillArrives) {
    Connected c;
    ASSERT_TRUE(c.accepted);
    const uint8_t packet[kHidDataSize] = {9, 8, 7};
    ASSERT_TRUE(c.plug.sendReport(packet));
    c.plug.unplug();
    ASSERT_EQ(c.read(), HidReadResult::report);
    EXPECT_EQ(c.report[1], 9);
    EXPECT_EQ(c.read(), HidReadResult::failed);
}

}  // namespace
