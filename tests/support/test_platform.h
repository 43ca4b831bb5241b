// What the tests need from the OS beyond standard C++: one implementation per OS.
#pragma once

#include <string>

// Sets (or replaces) a variable of this process's environment; false when refused.
bool TestSetEnv(const char* name, const char* value);

// Creates a fresh, empty folder in the system's temporary folder, its name starting with
// prefix. Returns its path, or empty when it cannot be created. Short on POSIX, so socket paths
// inside fit.
std::string TestMakeTempDir(const char* prefix);
