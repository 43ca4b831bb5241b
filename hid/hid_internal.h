// Shared between the HID layer's own files. Not for callers.
#pragma once

#include "hid/hid.h"

// Body of an adopted entry's readThread: opens the device, announces it, reads its reports.
void HidReadThread(void* entry);

// Ends the entry's readThread (whatever it is doing) and waits until it has. Called on the
// thread that owns the table (listenThread, or the closer once listenThread has ended).
void HidStopReadThread(HidDeviceEntry* entry);
