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

# One C++ runtime for the whole program: libstdc++, libgcc and winpthread as
# the DLLs that Qt's own DLLs link, shipped beside the programs. A runtime
# linked statically into each module would give the program and every Qt DLL a
# copy of its own, each with its own state, with objects and exceptions
# crossing between them.
