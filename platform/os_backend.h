// What the shared platform code needs from each OS backend beyond os.h. Internal to platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The separator of the OS's file paths.
extern const char kOsPathSeparator;

// Writes the running executable's full path into buffer (NUL-terminated). Returns false when it
// cannot be read or does not fit.
bool OsExecutablePath(char* buffer, size_t size);

// Emits one log message with its prefix where a program without a log file shows it: standard
// error, or on Windows the debugger output unless standardError. Under the log's lock only.
void OsDebugWrite(const char* prefix, const char* text, bool standardError);

// The support log's folder for this user, without a trailing separator; empty when the
// environment names none.
std::string OsSupportLogFolder();

// Log files, as handles (-1: none). Opened to append, created (owner-only on POSIX) when
// missing: every write lands at the file's end, other processes writing too, and the file may
// be renamed or removed by others while open. Paths are UTF-8.
intptr_t OsAppendOpen(const char* path);
// One write of all size bytes; false when it fails.
bool OsAppendWrite(intptr_t file, const char* data, size_t size);
// The open file's size, or -1.
long long OsFileSize(intptr_t file);
void OsFileClose(intptr_t file);
// Renames from to to, replacing to; false when it fails.
bool OsFileReplace(const char* from, const char* to);
// Makes one folder, owner-only on POSIX; true when it exists afterwards.
bool OsMakeFolder(const char* path);
// Why the last of the calls above failed, in words.
std::string OsLastErrorText();
