// Real readers on Linux, through hidraw nodes. Internal to hid/.
#pragma once

#include <memory>
#include <string>

#include "hid/hid_backend.h"

// A backend listing the hidraw nodes of sysfsClassDir as devDir/hidrawN (tests point both at a
// fake tree); null only when out of memory.
std::unique_ptr<HidBackend> HidNewHidrawBackend(
    const std::string& sysfsClassDir = "/sys/class/hidraw", const std::string& devDir = "/dev");
