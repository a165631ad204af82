# Cross-building for Windows with MinGW-w64's -posix compilers (the -win32
# ones have no std::mutex). Included by the toolchain file of each
# architecture after it set GEARSET_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${GEARSET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GEARSET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GEARSET_MINGW_TRIPLET}-windres)
set(CMAKE_STRIP ${GEARSET_MINGW_TRIPLET}-strip CACHE FILEPATH "strips the release artifacts")

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
# A 64-bit program goes to Wine's 64-bit loader itself: Debian's `wine` starts
# the 32-bit loader first whenever it is installed, and a host that runs no
# 32-bit code (some virtual machines) refuses it before any 64-bit step.
if(GEARSET_MINGW_TRIPLET MATCHES "^x86_64" AND EXISTS /usr/lib/wine/wine64)
  set(GEARSET_WINE /usr/lib/wine/wine64)
else()
  set(GEARSET_WINE wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEPREFIX=${GEARSET_WINE_PREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${GEARSET_WINE})
set(ZLIB_USE_STATIC_LIBS ON)
