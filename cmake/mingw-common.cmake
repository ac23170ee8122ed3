# Shared by the two Windows toolchains (mingw-i686.cmake, mingw-x86_64.cmake): Debian's
# MinGW-w64 compilers with the posix thread model, run under Wine. The including file sets
# `triple` and `wine_loader` first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The loader by its full path: /usr/bin/wine takes the 32-bit one whenever it is installed,
# also where the kernel cannot run it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_loader})
set(QEL_WINE_LOADER ${wine_loader} CACHE INTERNAL "the Wine loader that runs this tree's programs")
