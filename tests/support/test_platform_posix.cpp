#include <stdlib.h>

#include "test_platform.h"

bool TestSetEnv(const char* name, const char* value) {
    return setenv(name, value, 1) == 0;
}

void TestUnsetEnv(const char* name) {
    unsetenv(name);
}

std::string TestMakeTempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}
