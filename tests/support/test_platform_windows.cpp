#include <windows.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>

#include "test_platform.h"

bool TestSetEnv(const char* name, const char* value) {
    // Both copies: the C runtime's, which getenv reads, and the process block children inherit.
    return _putenv_s(name, value) == 0 && SetEnvironmentVariableA(name, value);
}

void TestUnsetEnv(const char* name) {
    _putenv_s(name, "");  // an empty value removes it
    SetEnvironmentVariableA(name, nullptr);
}

std::string TestMakeTempDir(const char* prefix) {
    static std::atomic<unsigned> serial{0};
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    const std::string stem = prefix + ("-" + std::to_string(GetCurrentProcessId()) + "-");
    // A folder left by an earlier process of the same id is passed over.
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        const std::string path = (base / (stem + std::to_string(++serial))).string();
        if (std::filesystem::create_directory(path, error)) {
            return path;
        }
    }
    return {};
}
