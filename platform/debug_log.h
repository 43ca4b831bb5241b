// The diagnostic log: the one sink of every layer's traces, the Qt layers' too.
//
// Each message goes out as "<program>: <message>", where <program> is the base name of the
// running executable without its extension. Messages carry their own line ends. The sink is the
// file named by the environment variable LUMORA_DEBUG_LOG (appended) when it is set, else the
// support log when the program keeps one, else the debugger output on Windows and standard error
// elsewhere. Lines in a file start with their UTC time stamp (log_sink.h).
//
// Thread-safe: formatting and output happen under one lock, so messages never interleave.
// A message longer than 8,191 characters is cut.
#pragma once

#include <cstddef>
#include <string>

#if defined(__MINGW32__)
// The build selects mingw's C99 printf, so check against GNU rules (%zu, %lld).
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define LUMORA_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LUMORA_PRINTF_FORMAT(fmt, args)
#endif

void DebugLog(const char* format, ...) LUMORA_PRINTF_FORMAT(1, 2);

// Also sends the log to standard error, on Windows too, beside its file if it has one.
void DebugLogToStandardError();

// Keeps the support log, "lumora-connector.log" (and its rotated ".1", ".2") in
// DebugLogSupportFolder(), made when missing, unless LUMORA_DEBUG_LOG names a file. header: lines
// each ending in '\n' that start every file; written at once. Before the first message, which
// otherwise chooses the sink for good.
void DebugLogKeepSupportFile(const char* header);

// The support log's folder: $XDG_STATE_HOME/lumora-connector (when absolute), else
// $HOME/.local/state/lumora-connector; %LOCALAPPDATA%\LumoraConnector\logs on Windows. Empty
// when the environment names none.
std::string DebugLogSupportFolder();

// The file the log is written to (the support log or LUMORA_DEBUG_LOG's); empty when it goes to
// standard error or the debugger output only, or its file cannot be written.
std::string DebugLogFileName();

// Builds the log prefix from an executable path: the part after the last separator, cut at its
// last '.', then ": ". Returns false (and leaves out untouched) when the path holds no
// separator or the prefix does not fit.
bool DebugLogPrefixFromPath(const char* path, char separator, char* out, size_t outSize);
