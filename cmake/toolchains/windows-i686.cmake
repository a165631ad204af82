# 32-bit Windows, the host application's own platform.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GEARSET_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
