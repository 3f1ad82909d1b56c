# Cross-compiling for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#
# The compiler variant with POSIX threads gives std::thread; its runtime
# (libstdc++, libgcc, winpthreads) is linked in statically, so that the
# programs need no DLL beside the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMTAR_MINGW_TARGET x86_64-w64-mingw32)
# C as well: GoogleTest's sources, built with the tests, ask for it.
set(CMAKE_C_COMPILER ${LUMTAR_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMTAR_MINGW_TARGET}-g++-posix)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Libraries, headers and packages come from the target's own tree (and any
# root given on the command line), never the host's; programs that run
# during the build are the host's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${LUMTAR_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
