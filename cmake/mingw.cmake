# Cross-build for Windows with MinGW-w64 (posix threads), run under Wine.
# Included by the toolchain file of each build, which names the processor,
# the compilers' target triple and the Wine loader that runs its programs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The loader by its full path: `wine` would fall back to the 64-bit loader
# where 32-bit Wine is missing, and wine64 called through a link elsewhere
# cannot find itself.
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_loader})
