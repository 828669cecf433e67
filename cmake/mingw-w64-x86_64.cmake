# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NOCTURO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NOCTURO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOCTURO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${NOCTURO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NOCTURO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes go into the program, so it needs no MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
