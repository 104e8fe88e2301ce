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
# The 32-bit one is named even where it is not executable here: the build's
# Wine then cannot start, and its tests are skipped (WINE_CAN_RUN).
find_program(WINE_LOADER_32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT WINE_LOADER_32)
  set(WINE_LOADER_32 /usr/lib/wine/wine)
endif()
find_program(WINE_LOADER_64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
