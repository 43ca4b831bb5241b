// The diagnostic log of the lower layers.
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

// Messages below this level are not emitted. Every caller passes 0.
constexpr int kDebugLogThreshold = 0;

#if defined(__MINGW32__)
// The build selects mingw's C99 printf, so check against GNU rules (%zu, %lld).
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LUMORA_PRINTF_FORMAT(fmt, args)
#endif

void DebugLog(int level, const char* format, ...) LUMORA_PRINTF_FORMAT(2, 3);

// Builds the log prefix from an executable path: the part after the last separator, cut at its
// last '.', then ": ". Returns false (and leaves out untouched) when the path holds no
// separator or the prefix does not fit.
bool DebugLogPrefixFromPath(const char* path, char separator, char* out, size_t outSize);
