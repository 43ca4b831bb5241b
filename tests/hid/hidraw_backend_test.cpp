#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "hid/linux/backend.h"
#include "hid/linux/hidraw_identity.h"
#include "hid/posix/fd_device.h"
#include "temp_dir.h"

namespace {

TEST(HidrawIdentity, ParsesTheHidIdLine) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t vendor;
        uint32_t product;
    };
    const Case cases[] = {
        {"HID_ID=0003:00001A61:00003650\n", true, 0x1a61, 0x3650},
        {"HID_ID=0003:00001a61:0000365f", true, 0x1a61, 0x365f},
        {"DRIVER=hid-generic\nHID_ID=0003:00001A61:00003670\nHID_NAME=Reader\n", true, 0x1a61,
         0x3670},
        {"HID_ID=0005:0000046D:0000B01A\n", true, 0x046d, 0xb01a},  // Bluetooth
        {"HID_ID=18:4F3:21\n", true, 0x4f3, 0x21},
        {"DRIVER=hid-generic\nHID_NAME=Reader\n", false, 0, 0},
        {"HID_ID=0003:00001A61\n", false, 0, 0},
        {"HID_ID=0003:00001A61:\n", false, 0, 0},
        {"HID_ID=0003::00003650\n", false, 0, 0},
        {"HID_ID=0003:00001G61:00003650\n", false, 0, 0},
        {"HID_ID=0003:00001A61:00003650:1\n", false, 0, 0},
        {"HID_ID=0003:000001A61:00003650\n", false, 0, 0},  // nine digits
        {"XHID_ID=0003:00001A61:00003650\n", false, 0, 0},  // not at a line start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t vendor = 0xdead, product = 0xbeef;
        EXPECT_EQ(HidParseUeventId(c.text, vendor, product), c.ok);
        EXPECT_EQ(vendor, c.ok ? c.vendor : 0xdead);
        EXPECT_EQ(product, c.ok ? c.product : 0xbeef);
    }
}

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

// The listing finds each node's ids in sysfs; the open takes the node before the id suffix.
TEST(HidrawBackend, ListsNodesWithTheirOwnIdsAndOpensWhatItListed) {
    TempDir root;
    const std::string sysfs = root / "class";
    writeFile(sysfs + "/hidraw0/device/uevent",
              "DRIVER=hid-generic\nHID_ID=0003:00001A61:00003650\n");
    writeFile(sysfs + "/hidraw1/device/uevent", "DRIVER=hid-generic\nHID_NAME=no ids\n");
    std::filesystem::create_directories(sysfs + "/hidraw2/device");  // no uevent at all
    writeFile(sysfs + "/hidraw12/device/uevent", "HID_ID=0003:000004F3:00000021\n");
    writeFile(sysfs + "/unrelated/device/uevent", "HID_ID=0003:00001A61:00003660\n");
    writeFile(root / "hidraw0", "");  // hidraw12 has no node

    auto backend = HidNewHidrawBackend(sysfs, root.path());
    std::vector<std::string> paths{"stale"};
    ASSERT_TRUE(backend->enumerate(paths));
    // The node, then the ids in lower case and padded to four digits.
    ASSERT_EQ(paths, (std::vector<std::string>{root / "hidraw0#vid_1a61&pid_3650",
                                               root / "hidraw12#vid_04f3&pid_0021"}));
    bool denied = true;
    HidDevice* device = backend->open(paths[0].c_str(), denied);
    ASSERT_NE(device, nullptr);
    backend->close(device);
    EXPECT_EQ(backend->open(paths[1].c_str(), denied), nullptr);
    EXPECT_FALSE(denied);
}

// hidraw hands out the data bytes without the report id of an unnumbered report; the read
// puts the id back in front. A SEQPACKET pair stands in for the node.
TEST(HidrawBackend, ReadPrefixesReportIdZero) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd node(pair[1]);
    HidDevice* device = HidFdDeviceOpen(UniqueFd(pair[0]), HidFdFraming::reportIdOmitted, false);
    ASSERT_NE(device, nullptr);

    uint8_t report[kHidReportSize];
    int size = 0;
    // Sizes of 64 bytes and others: the caller drops those by their size, one more than sent.
    for (const size_t sent : {64, 3, 100}) {
        std::vector<uint8_t> data(sent);
        std::iota(data.begin(), data.end(), uint8_t(0x80));
        ASSERT_EQ(write(node.get(), data.data(), sent), ssize_t(sent));
        std::fill(std::begin(report), std::end(report), 0xff);
        ASSERT_EQ(HidFdDeviceRead(device, report, size), HidReadResult::report);
        EXPECT_EQ(size, int(sent) + 1);
        EXPECT_EQ(report[0], 0);
        EXPECT_EQ(memcmp(report + 1, data.data(), std::min<size_t>(sent, kHidDataSize)), 0);
    }
    node.reset();
    EXPECT_EQ(HidFdDeviceRead(device, report, size), HidReadResult::failed);
    HidFdDeviceClose(device);
}

}  // namespace
