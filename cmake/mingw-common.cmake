# Shared by both toolchain files: compilers, search roots, static linking so a
# built program imports nothing but system DLLs, and Wine to run it.
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian installs the real loaders under /usr/lib/wine; /usr/bin/wine always
# picks the 32-bit one, which cannot start where the kernel runs no 32-bit code.
# Where the kernel cannot run it, the 32-bit one may be no program at all: it is
# named, not looked for, and the build finds out whether it starts.
set(WINE_LOADER_32 /usr/lib/wine/wine CACHE FILEPATH "Wine's 32-bit loader")
find_program(WINE_LOADER_64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
