# Installation and the exported CMake package:
#   find_package(Korvan.Gearset) gives Korvan::Gearset (with Korvan::Tolmbase,
#   Korvan::Image and Korvan::Unicode behind it).
include(CMakePackageConfigHelpers)

set(GEARSET_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korvan.Gearset)

install(TARGETS Tolmbase Unicode Image Korvan.Gearset
        EXPORT KorvanGearsetTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/Korvan platform/Tolm/include/Tolm platform/Image/include/Image
                  platform/Unicode/include/Unicode
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT KorvanGearsetTargets NAMESPACE Korvan:: DESTINATION ${GEARSET_PACKAGE_DIR})

configure_package_config_file(cmake/KorvanGearsetConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfig.cmake
                              INSTALL_DESTINATION ${GEARSET_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/Korvan.GearsetConfigVersion.cmake
        DESTINATION ${GEARSET_PACKAGE_DIR})
