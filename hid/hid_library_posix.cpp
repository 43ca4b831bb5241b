// Linux has no HID library to bind: hidraw and the socket device are plain file descriptors.
#include "hid/hid.h"

bool LoadHidLibrary() {
    return true;
}

void UnloadHidLibrary() {}
