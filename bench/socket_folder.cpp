#include "socket_folder.h"

#include <stdlib.h>

TempDir& BenchSocketFolder() {
    static TempDir* folder = [] {
        auto* dir = new TempDir;
        setenv("LUMORA_HID_SOCKET_DIR", dir->path().c_str(), 1);
        return dir;
    }();
    return *folder;
}

namespace {

[[maybe_unused]] TempDir& gFolder = BenchSocketFolder();

}  // namespace
