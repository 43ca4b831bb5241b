// Shared between the HID layer's own files. Not for callers.
#pragma once

#include <cstdint>

#include "hid/hid.h"

// Body of an adopted entry's readThread: opens the device, announces it, reads its reports.
void HidReadThread(void* entry);

// Ends the entry's readThread (whatever it is doing) and waits until it has. Called on the
// thread that owns the table (listenThread, or the closer once listenThread has ended).
void HidStopReadThread(HidDeviceEntry* entry);

// The denied device of HidDeniedDevicePath: noted (logged once per device) when an open failed
// for lack of permission, forgotten when that device opens or is gone. Any thread.
void HidNoteDenied(const char* platformPath);
void HidForgetDenied(const char* platformPath);
