// The code that finds a real reader, on the machine's own HID devices (Wine has a few).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/backend_windows.h"

namespace {

TEST(HidWindowsBackend, ListsHidInterfacesWhosePathsOpenAndClose) {
    ASSERT_TRUE(LoadHidLibrary());
    const auto backend = HidNewWindowsHidBackend();
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

}  // namespace
