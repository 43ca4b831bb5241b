// How a Linux hidraw node is identified: its ids from sysfs and the path text the shared code
// matches on. Pure apart from HidHidrawEnumerate, which reads the tree it is given. Internal to
// hid/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Finds the line "HID_ID=BBBB:VVVVVVVV:PPPPPPPP" (bus, vendor, product; hex, any case) in the
// text of a uevent file. False, with vendor and product untouched, when it is missing or
// malformed.
bool HidParseUeventId(const char* ueventText, uint32_t& vendor, uint32_t& product);

// "<node>#vid_%04x&pid_%04x", e.g. "/dev/hidraw3#vid_1a61&pid_3650".
std::string HidHidrawPath(const char* node, uint32_t vendor, uint32_t product);

// Lists "<devDir>/hidrawN#vid_..&pid_.." for every hidrawN in sysfsClassDir (normally
// /sys/class/hidraw), sorted. A node whose uevent cannot be read or parsed is logged and left
// out. A missing sysfsClassDir means no hidraw devices; false only when it cannot be listed.
bool HidHidrawEnumerate(const std::string& sysfsClassDir, const std::string& devDir,
                        std::vector<std::string>& paths);
