// What the tests need from the OS beyond standard C++: one implementation per OS.
#pragma once

#include <string>

// Sets (or replaces) a variable of this process's environment; false when refused.
bool TestSetEnv(const char* name, const char* value);
// Removes a variable from this process's environment.
void TestUnsetEnv(const char* name);

// Creates a fresh folder in the system's temporary folder (short on POSIX, so socket paths
// inside fit), its name starting with prefix; its path, or empty on failure.
std::string TestMakeTempDir(const char* prefix);
