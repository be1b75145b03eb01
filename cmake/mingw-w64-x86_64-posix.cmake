# Cross-compiling for 64-bit Windows with MinGW-w64 on Debian. The "-posix"
# compilers use the posix thread model (winpthread): the default "-win32"
# model has no std::mutex and no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRA_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW tree only; programs (code
# generators and the like) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELTRA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, so that gtest_discover_tests and ctest can
# start them on this machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Every program carries its C++ runtime and winpthread inside: a program that
# needs libstdc++-6.dll or libwinpthread-1.dll beside it starts nowhere else,
# and under Wine with WINEDEBUG=-all it ends without a word.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
