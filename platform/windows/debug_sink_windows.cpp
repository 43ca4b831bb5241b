// Windows side of os_backend.h: path separator, executable path and the log's sink: standard
// error when asked, else the file named by LUMORA_DEBUG_LOG (appended) when it is set, else the
// debugger output.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/os_backend.h"

const char kOsPathSeparator = '\\';

bool OsExecutablePath(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    const DWORD capacity = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    const DWORD length = GetModuleFileNameA(nullptr, buffer, capacity);
    // A full buffer means the path was cut (and, before Vista, left unterminated).
    if (length == 0 || length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

namespace {

std::atomic<bool> gStandardError{false};

HANDLE openSink() {
    if (gStandardError.load()) {
        const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
        return standardError != nullptr ? standardError : INVALID_HANDLE_VALUE;
    }
    const char* path = std::getenv("LUMORA_DEBUG_LOG");
    if (path == nullptr || *path == '\0') {
        return INVALID_HANDLE_VALUE;
    }
    // Append-only access makes every write land at the end, also with other processes writing.
    return CreateFileA(path, FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Prefix and message joined; only touched under the log's lock.
char gLine[16384];

size_t append(size_t at, const char* text) {
    const size_t length = std::min(std::strlen(text), sizeof gLine - at);
    std::memcpy(gLine + at, text, length);
    return at + length;
}

}  // namespace

void OsDebugUseStandardError() {
    gStandardError.store(true);
}

void OsDebugWrite(const char* prefix, const char* text) {
    static const HANDLE file = openSink();
    if (file == INVALID_HANDLE_VALUE) {
        // Two calls so the log never needs a buffer to join them; the lock keeps them together.
        OutputDebugStringA(prefix != nullptr ? prefix : "");
        OutputDebugStringA(text != nullptr ? text : "");
        return;
    }
    // One write per message, so lines from several processes sharing the file stay whole.
    const size_t length =
        append(append(0, prefix != nullptr ? prefix : ""), text != nullptr ? text : "");
    DWORD written = 0;
    WriteFile(file, gLine, static_cast<DWORD>(length), &written, nullptr);
}
