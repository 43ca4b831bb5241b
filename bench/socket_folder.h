// The socket folder every benchmark of this program shares. The HID backend is chosen once per
// process from LUMORA_HID_SOCKET_DIR, so it is set during static initialisation, before any
// benchmark touches HID.
#pragma once

#include "temp_dir.h"

// The folder; LUMORA_HID_SOCKET_DIR points at it. Any thread.
TempDir& BenchSocketFolder();
