// The project's one version number (project() in CMakeLists.txt, passed in by the build through
// lumora_version) and the --version answer of every program.
#pragma once

#include <cstdio>
#include <cstring>

constexpr char kLumoraVersion[] = LUMORA_VERSION;

// True when an argument before any "--" is "--version"; "<program> <version>" has then been
// printed on standard output and main returns 0. Called first in main, before any other parsing,
// so that it works without a display, a reader or settings.
inline bool PrintVersionIfAsked(int argc, char** argv, const char* program) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", program, kLumoraVersion);
            return true;
        }
    }
    return false;
}
