# Cross-building for Windows with MinGW-w64's -posix compilers (the -win32
# ones have no std::mutex). Included by the toolchain file of each
# architecture after it set GEARSET_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${GEARSET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GEARSET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GEARSET_MINGW_TRIPLET}-windres)

# zstd, libjpeg-turbo, libpng and GoogleTest, cross-built once by
# scripts/windows-deps.sh; zlib comes with Debian's MinGW packages.
get_filename_component(GEARSET_WINDOWS_DEPS
  "${CMAKE_CURRENT_LIST_DIR}/../../build/windows-deps/${GEARSET_MINGW_TRIPLET}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${GEARSET_MINGW_TRIPLET} ${GEARSET_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${GEARSET_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Tests and tool run under Wine, with a prefix of their own in the build tree.
get_filename_component(GEARSET_WINE_PREFIX
  "${CMAKE_CURRENT_LIST_DIR}/../../build/wine-${GEARSET_MINGW_TRIPLET}" ABSOLUTE)
# Each architecture's own loader: the wrapper "wine" starts the 32-bit one
# first even for a 64-bit program, and that fails on a kernel that runs no
# 32-bit programs.
if(GEARSET_MINGW_TRIPLET STREQUAL "x86_64-w64-mingw32")
  find_program(GEARSET_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(GEARSET_WINE NAMES wine64)
else()
  find_program(GEARSET_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(GEARSET_WINE NAMES wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEPREFIX=${GEARSET_WINE_PREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${GEARSET_WINE})
set(ZLIB_USE_STATIC_LIBS ON)
