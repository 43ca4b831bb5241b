// The code that finds a real reader, on the machine's own HID devices (Wine has a few).
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "tests/support/log_file.h"

namespace {

TEST(HidWindowsBackend, ListsHidInterfacesWhosePathsOpenAndClose) {
    ASSERT_TRUE(LoadHidLibrary());
    const auto backend = HidNewSystemBackend();
    std::vector<std::string> paths;
    ASSERT_TRUE(backend->enumerate(paths));
    for (const std::string& path : paths) {
        EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path;  // a device interface path
        // Keyboards and mice are held by the system; the rest open.
        bool denied = false;
        if (HidDevice* device = backend->open(path.c_str(), denied)) {
            backend->close(device);
        }
    }
    UnloadHidLibrary();
    EXPECT_TRUE(LoadHidLibrary());  // binds again after an unbind
    UnloadHidLibrary();
}

// Wine and Windows 7 have no device notifications: there the scan alone finds readers, as the
// log says once. Where they exist, a watch registers, and unregisters when deleted.
TEST(HidWindowsBackend, WatchesDeviceNotificationsWhereTheSystemOffersThem) {
    ASSERT_TRUE(LoadHidLibrary());
    const HMODULE cfgmgr = LoadLibraryA("cfgmgr32.dll");
    const bool offered = cfgmgr && GetProcAddress(cfgmgr, "CM_Register_Notification");
    const auto backend = HidNewSystemBackend();
    const OsHandle wake = OsCreateEvent(false, false);
    const LogSince log;
    for (int watch = 0; watch < 2; ++watch) {
        EXPECT_EQ(std::unique_ptr<HidWatch>(backend->watch(wake)) != nullptr, offered);
    }
    EXPECT_EQ(log.count("no device notifications"), offered ? 0 : 1);
    OsCloseHandle(wake);
    FreeLibrary(cfgmgr);
    UnloadHidLibrary();
}

}  // namespace
