# Installation, the exported CMake package and the pkg-config file:
#   find_package(Korvan.Gearset) gives Korvan::Gearset (with Korvan::Tolmbase,
#   Korvan::Image and Korvan::Unicode behind it);
#   pkg-config korvan-gearset gives the same to other build systems.
# The library and its headers go where a user looks for them; the stand-in
# platform libraries and their headers, whose names are generic, go into
# folders of their own (see CMakeLists.txt), so that they cannot meet another
# project's libImage.so or Image/ headers in a shared prefix.
include(CMakePackageConfigHelpers)

set(GEARSET_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korvan.Gearset)
if(WIN32)
  set(GEARSET_PLATFORM_LIBDIR ${CMAKE_INSTALL_BINDIR})  # DLLs are found beside the program
else()
  set(GEARSET_PLATFORM_LIBDIR ${CMAKE_INSTALL_LIBDIR}/${GEARSET_PRIVATE_LIBDIR})
endif()

# Each target names its installed include folder itself (INSTALL_INTERFACE).
install(TARGETS Korvan.Gearset
        EXPORT KorvanGearsetTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Tolmbase Unicode Image
        EXPORT KorvanGearsetTargets
        LIBRARY DESTINATION ${GEARSET_PLATFORM_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}/${GEARSET_PRIVATE_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/Korvan DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY platform/Tolm/include/Tolm platform/Image/include/Image platform/Unicode/include/Unicode
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${GEARSET_PRIVATE_INCLUDEDIR})
install(EXPORT KorvanGearsetTargets NAMESPACE Korvan:: DESTINATION ${GEARSET_PACKAGE_DIR})

configure_package_config_file(cmake/KorvanGearsetConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfig.cmake
                              INSTALL_DESTINATION ${GEARSET_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfigVersion.cmake
        DESTINATION ${GEARSET_PACKAGE_DIR})

# pkg-config: the paths are relative to the file's own place, so that an
# install tree may move.
file(RELATIVE_PATH GEARSET_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" GEARSET_PC_TO_PREFIX "${GEARSET_PC_TO_PREFIX}")
configure_file(cmake/korvan-gearset.pc.in ${CMAKE_CURRENT_BINARY_DIR}/korvan-gearset.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/korvan-gearset.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A Debian package carries the license as its copyright file instead.
if(NOT GEARSET_DEB_PACKAGE)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
