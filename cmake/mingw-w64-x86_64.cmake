# Cross-compiles Quarvel for 64-bit Windows with Debian's MinGW-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which the win32 model of
# GCC 12 lacks.
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TOOLCHAIN_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# CTest starts every Windows test program through Wine. The wine64 loader is used
# directly: Debian's `wine` wrapper insists on a 32-bit Wine that a 64-bit-only
# prefix never needs.
find_program(WINE64_LOADER NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT WINE64_LOADER)
  find_program(WINE64_LOADER NAMES wine64 wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_LOADER})
