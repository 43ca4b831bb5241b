# Cross-compiles for 64-bit Windows with Debian's mingw-w64. With LUMORA_WINDOWS_SDK_PREFIX (the
# prefix/ folder of a Windows Qt + OpenSSL SDK) the Qt layers and programs are built too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C and C++ runtimes go into each program; Qt's DLLs bring their own copies (below).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Where the mingw runtime DLLs live that the SDK's DLLs load.
set(LUMORA_MINGW_RUNTIME_DIRS /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
if(LUMORA_WINDOWS_SDK_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${LUMORA_WINDOWS_SDK_PREFIX})
    set(OPENSSL_ROOT_DIR ${LUMORA_WINDOWS_SDK_PREFIX})
endif()

# Tests run under Wine through build/…/wine-run, with a prefix of their own inside the build tree;
# building never starts Wine. Debian's wine64 keeps its program out of PATH.
find_program(LUMORA_WINE wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(LUMORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
