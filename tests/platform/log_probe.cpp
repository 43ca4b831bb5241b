// Usage: log_probe.bin THREADS MESSAGES. Each thread logs MESSAGES numbered lines; then one
// message longer than the log's buffer is logged last, without a line end.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/os.h"

int gMessages = 0;

void logLines(void* thread) {
    for (int i = 0; i < gMessages; ++i) {
        DebugLog(0, "thread %d message %d %s\n", int(reinterpret_cast<intptr_t>(thread)), i,
                 "....................................");
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    gMessages = std::atoi(argv[2]);
    std::vector<OsHandle> threads;
    for (intptr_t t = 0; t < std::atoi(argv[1]); ++t) {
        threads.push_back(OsCreateThread("log-probe", logLines, reinterpret_cast<void*>(t)));
    }
    for (OsHandle thread : threads) {
        OsWait(thread, kOsWaitForever);
        OsCloseHandle(thread);
    }
    DebugLog(0, "%s", std::string(10000, 'x').c_str());
    return 0;
}
