// Windows side of os_backend.h: path separator, executable path and the debugger output sink.
#include <windows.h>

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

void OsDebugWrite(const char* prefix, const char* text) {
    // Two calls so the log never needs a buffer to join them; the log's lock keeps them together.
    if (prefix != nullptr) {
        OutputDebugStringA(prefix);
    }
    if (text != nullptr) {
        OutputDebugStringA(text);
    }
}
