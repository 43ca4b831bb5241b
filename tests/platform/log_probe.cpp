// Usage: log_probe.bin THREADS MESSAGES. Each thread logs MESSAGES numbered lines; then one
// message longer than the log's buffer is logged last, without a line end.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/os.h"

namespace {

int gMessages = 0;

void logLines(void* argument) {
    const int thread = int(reinterpret_cast<intptr_t>(argument));
    for (int i = 0; i < gMessages; ++i) {
        DebugLog(0, "thread %d message %d %s\n", thread, i, "....................................");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    const int threads = std::atoi(argv[1]);
    gMessages = std::atoi(argv[2]);
    std::vector<OsHandle> handles;
    for (int t = 0; t < threads; ++t) {
        handles.push_back(
            OsCreateThread("log-probe", logLines, reinterpret_cast<void*>(intptr_t(t))));
    }
    for (OsHandle handle : handles) {
        OsWait(handle, kOsWaitForever);
        OsCloseHandle(handle);
    }
    const std::string longMessage(10000, 'x');
    DebugLog(0, "%s", longMessage.c_str());
    return 0;
}
