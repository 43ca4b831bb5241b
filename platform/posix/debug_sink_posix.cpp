// POSIX side of os_backend.h: path separator, executable path, the support log's folder (XDG
// base directories) and the log's files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

void OsDebugWrite(const char* prefix, const char* text, bool) {
    // One write per message, so lines from several processes stay whole.
    iovec parts[2] = {{const_cast<char*>(prefix), std::strlen(prefix)},
                      {const_cast<char*>(text), std::strlen(text)}};
    ssize_t ignored = writev(STDERR_FILENO, parts, 2);
    (void)ignored;
}

std::string OsSupportLogFolder() {
    // A relative XDG_STATE_HOME is to be ignored, as the XDG base directories say.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') {
        return std::string(state) + "/lumora-connector";
    }
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return std::string(home) + "/.local/state/lumora-connector";
    }
    return std::string();
}

intptr_t OsAppendOpen(const char* path) {
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

bool OsAppendWrite(intptr_t file, const char* data, size_t size) {
    return write(int(file), data, size) == ssize_t(size);
}

long long OsFileSize(intptr_t file) {
    struct stat status;
    return fstat(int(file), &status) == 0 ? (long long)status.st_size : -1;
}

void OsFileClose(intptr_t file) {
    close(int(file));
}

bool OsFileReplace(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

bool OsMakeFolder(const char* path) {
    if (mkdir(path, 0700) == 0) {
        return true;
    }
    const int error = errno;
    struct stat status;
    if (stat(path, &status) == 0 && S_ISDIR(status.st_mode)) {
        return true;
    }
    errno = error == EEXIST ? ENOTDIR : error;  // a file in the folder's place
    return false;
}

std::string OsLastErrorText() {
    return std::strerror(errno);
}
