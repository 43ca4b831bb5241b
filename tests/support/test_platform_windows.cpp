#include <windows.h>

#include <stdlib.h>

#include <atomic>

#include "test_platform.h"

bool TestSetEnv(const char* name, const char* value) {
    // Both copies: the C runtime's, which getenv reads, and the process block children inherit.
    return _putenv_s(name, value) == 0 && SetEnvironmentVariableA(name, value);
}

std::string TestMakeTempDir(const char* prefix) {
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(base) + prefix + "-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount()) + "-" + std::to_string(++serial);
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            return path;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}
