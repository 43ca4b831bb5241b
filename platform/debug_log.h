// The diagnostic log: the one sink of every layer's traces, the Qt layers' too.
//
// Each message goes out as "<program>: <message>", where <program> is the base name of the
// running executable without its extension. Messages carry their own line ends. The sink is the
// file named by the environment variable LUMORA_DEBUG_LOG (appended) when it is set, else the
// debugger output on Windows and standard error elsewhere.
//
// Thread-safe: formatting and output happen under one lock, so messages never interleave.
// Allocates nothing per message; a message longer than 8,191 characters is cut.
#pragma once

#include <cstddef>

#if defined(__MINGW32__)
// The build selects mingw's C99 printf, so check against GNU rules (%zu, %lld).
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LUMORA_PRINTF_FORMAT(fmt, args)
#endif

void DebugLog(const char* format, ...) LUMORA_PRINTF_FORMAT(1, 2);

// Sends the log to standard error, whatever LUMORA_DEBUG_LOG says and on Windows too. Only
// before the first message, which chooses the sink for good.
void DebugLogToStandardError();

// Builds the log prefix from an executable path: the part after the last separator, cut at its
// last '.', then ": ". Returns false (and leaves out untouched) when the path holds no
// separator or the prefix does not fit.
bool DebugLogPrefixFromPath(const char* path, char separator, char* out, size_t outSize);
