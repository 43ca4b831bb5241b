// What the shared platform code needs from each OS backend beyond os.h. Internal to platform/.
#pragma once

#include <cstddef>

// The separator of the OS's file paths.
extern const char kOsPathSeparator;

// Writes the running executable's full path into buffer (NUL-terminated). Returns false when it
// cannot be read or does not fit.
bool OsExecutablePath(char* buffer, size_t size);

// Emits one log message with its prefix. Called under the log's lock only.
void OsDebugWrite(const char* prefix, const char* text);
// Makes the sink, chosen at the first OsDebugWrite, standard error. Before the first message.
void OsDebugUseStandardError();
