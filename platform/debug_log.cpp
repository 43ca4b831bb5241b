// DebugLog: bounded formatting into one shared buffer under one lock.
#include "platform/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "platform/os_backend.h"

namespace {

constexpr size_t kLogBufferSize = 8192;
constexpr size_t kPathMax = 4096;

struct LogState {
    OsLockRef lock = OsCreateLock();
    char buffer[kLogBufferSize];
    char prefix[kPathMax];
    bool prefixBuilt = false;
};

// Created at static initialisation, before any of our threads can exist.
LogState& logState() {
    static LogState* state = new LogState;  // never destroyed: threads may log during exit
    return *state;
}

[[maybe_unused]] LogState& gEagerLogState = logState();

}  // namespace

bool DebugLogPrefixFromPath(const char* path, char separator, char* out, size_t outSize) {
    const char* slash = path ? std::strrchr(path, separator) : nullptr;
    if (!slash) {
        return false;
    }
    const char* base = slash + 1;
    const char* dot = std::strrchr(base, '.');
    size_t length = dot ? size_t(dot - base) : std::strlen(base);
    if (length + 3 > outSize) {
        return false;
    }
    std::memcpy(out, base, length);
    std::memcpy(out + length, ": ", 3);
    return true;
}

void DebugLogToStandardError() {
    OsDebugUseStandardError();
}

void DebugLog(const char* format, ...) {
    LogState& state = logState();
    OsLock(state.lock);
    va_list args;
    va_start(args, format);
    // vsnprintf cuts a long message to the buffer and terminates it.
    std::vsnprintf(state.buffer, kLogBufferSize, format, args);
    va_end(args);

    const char* prefix = "unknown";
    if (!state.prefixBuilt) {
        char path[kPathMax];
        state.prefixBuilt =
            OsExecutablePath(path, sizeof path) &&
            DebugLogPrefixFromPath(path, kOsPathSeparator, state.prefix, sizeof state.prefix);
    }
    if (state.prefixBuilt) {
        prefix = state.prefix;
    }
    OsDebugWrite(prefix, state.buffer);
    OsUnlock(state.lock);
}
