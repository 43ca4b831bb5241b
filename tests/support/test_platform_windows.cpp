#include <windows.h>

#include <stdlib.h>

#include <atomic>
#include <cstring>

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

namespace {

// Quotes one argument as the C runtime's command-line parser reads it back.
std::string quoted(const std::string& arg) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

}  // namespace

int TestRunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& name, const std::string& value) {
    std::string commandLine = quoted(program);
    for (const std::string& arg : args) {
        commandLine += " " + quoted(arg);
    }
    // The child's block: ours without any old value of name, then name=value.
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; entry && *entry; entry += std::strlen(entry) + 1) {
        if (_strnicmp(entry, (name + "=").c_str(), name.size() + 1) != 0) {
            block.append(entry, std::strlen(entry) + 1);
        }
    }
    FreeEnvironmentStringsA(strings);
    block += name + "=" + value;
    block.append(2, '\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, &block[0],
                        nullptr, &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    DWORD code = DWORD(-1);
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return ended ? int(code) : -1;
}
