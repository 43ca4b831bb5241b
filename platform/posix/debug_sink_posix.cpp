// Log sink for POSIX systems: the file named by LUMORA_DEBUG_LOG unless standard error is asked
// for, else standard error.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/os_backend.h"

const char kOsPathSeparator = '/';

bool OsExecutablePath(char* buffer, size_t size) {
    const ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length <= 0 || size_t(length) >= size) {
        return false;
    }
    buffer[length] = '\0';
    return true;
}

namespace {

std::atomic<bool> gStandardError{false};

int openSink() {
    const char* path = std::getenv("LUMORA_DEBUG_LOG");
    if (path && *path && !gStandardError.load()) {
        const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            return fd;
        }
    }
    return STDERR_FILENO;
}

}  // namespace

void OsDebugUseStandardError() {
    gStandardError.store(true);
}

void OsDebugWrite(const char* prefix, const char* text) {
    static const int fd = openSink();
    // One write per message, so lines from several processes sharing the file stay whole.
    iovec parts[2] = {{const_cast<char*>(prefix), std::strlen(prefix)},
                      {const_cast<char*>(text), std::strlen(text)}};
    ssize_t ignored = writev(fd, parts, 2);
    (void)ignored;
}
