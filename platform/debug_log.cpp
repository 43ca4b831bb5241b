// DebugLog: bounded formatting into one shared buffer under one lock, then the sink.
#include "platform/debug_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/log_sink.h"
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
    bool chosen = false;
    std::string supportHeader;
    bool support = false;
    std::unique_ptr<LogSink> file;  // null: standard error or the debugger output
};

std::atomic<bool> gStandardError{false};

// Created at static initialisation, before any of our threads can exist.
LogState& logState() {
    static LogState* state = new LogState;  // never destroyed: threads may log during exit
    return *state;
}

[[maybe_unused]] LogState& gEagerLogState = logState();

// Under the lock.
const char* prefixOf(LogState& state) {
    if (!state.prefixBuilt) {
        char path[kPathMax];
        state.prefixBuilt =
            OsExecutablePath(path, sizeof path) &&
            DebugLogPrefixFromPath(path, kOsPathSeparator, state.prefix, sizeof state.prefix);
    }
    return state.prefixBuilt ? state.prefix : "unknown";
}

// Under the lock.
void chooseSink(LogState& state) {
    if (std::exchange(state.chosen, true)) {
        return;
    }
    const char* path = std::getenv("LUMORA_DEBUG_LOG");
    if (path && *path) {
        state.file.reset(new LogSink(path, false, state.supportHeader, prefixOf(state)));
    } else if (state.support) {
        const std::string folder = DebugLogSupportFolder();
        if (folder.empty()) {
            std::fprintf(stderr,
                         "%scannot write the log (the environment names no folder for it); "
                         "going on without it\n",
                         prefixOf(state));
        } else {
            state.file.reset(new LogSink(folder + kOsPathSeparator + "lumora-connector.log", true,
                                         state.supportHeader, prefixOf(state)));
        }
    }
    if (state.file) {
        state.file->start();
    }
}

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
    gStandardError.store(true);
}

void DebugLogKeepSupportFile(const char* header) {
    LogState& state = logState();
    OsLock(state.lock);
    state.support = true;
    state.supportHeader = header;
    chooseSink(state);
    OsUnlock(state.lock);
}

std::string DebugLogSupportFolder() {
    return OsSupportLogFolder();
}

std::string DebugLogFileName() {
    LogState& state = logState();
    OsLock(state.lock);
    chooseSink(state);
    std::string name = state.file ? state.file->file() : std::string();
    OsUnlock(state.lock);
    return name;
}

void DebugLog(const char* format, ...) {
    LogState& state = logState();
    OsLock(state.lock);
    va_list args;
    va_start(args, format);
    // vsnprintf cuts a long message to the buffer and terminates it.
    std::vsnprintf(state.buffer, kLogBufferSize, format, args);
    va_end(args);

    chooseSink(state);
    const bool standardError = gStandardError.load();
    if (state.file) {
        state.file->write(state.buffer);
    }
    if (!state.file || standardError) {
        OsDebugWrite(prefixOf(state), state.buffer, standardError);
    }
    OsUnlock(state.lock);
}
