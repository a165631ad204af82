# Release artifacts, made by CPack from an install (scripts/package.sh drives
# it for every target):
#   Windows: korvan-gearset-VERSION-win32.zip / -win64.zip, the install tree
#            as it is (bin/ with the DLLs, the compiler's runtime DLLs and
#            gearset.exe; lib/ with the import libraries and lib/cmake/;
#            include/; the license), for find_package against the folder.
#   Linux:   korvan-gearset_VERSION_ARCH.deb, installed under /usr, with its
#            dependencies on Debian's libraries found by dpkg-shlibdeps.
# The version is the project's, written once in CMakeLists.txt.
set(CPACK_PACKAGE_NAME korvan-gearset)
set(CPACK_PACKAGE_VENDOR "Korvan")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "utilities for PDF processing: record store, PDF strings and dates, JPEG")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvan.Gearset is a C++ library for the PDF-processing components of a larger application: a paged record store in a private temporary file with an object cache on top, PDF text strings to and from UTF-16, PDF and ISO 8601 dates with the local zone, byte ordering and pattern scans, file copying, JPEG saving and directory helpers. The gearset command puts every family in a user's hands.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME korvan-gearset-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME korvan-gearset-${PROJECT_VERSION}-win32)
  endif()
  install(FILES LICENSE DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Korvan Gearset developers <gearset@korvan.example>")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The private folder of the platform libraries is searched as well.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_FULL_LIBDIR}/${GEARSET_PRIVATE_LIBDIR})
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # Behind the summary, wrapped for a terminal.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Korvan.Gearset is a C++ library for the PDF-processing components of a
larger application: a paged record store in a private temporary file with
an object cache on top, PDF text strings to and from UTF-16, PDF and
ISO 8601 dates with the local zone, byte ordering and pattern scans, file
copying, JPEG saving and directory helpers. The gearset command puts every
family in a user's hands.")
  # The loader's cache follows through dpkg's trigger, not a call in the
  # maintainer scripts (CPack would write those otherwise).
  set(GEARSET_DEB_CONTROL ${CMAKE_CURRENT_BINARY_DIR}/deb-control)
  file(WRITE ${GEARSET_DEB_CONTROL}/triggers "activate-noawait ldconfig\n")
  file(WRITE ${GEARSET_DEB_CONTROL}/postinst "#!/bin/sh\nset -e\n")
  file(WRITE ${GEARSET_DEB_CONTROL}/postrm "#!/bin/sh\nset -e\n")
  file(CHMOD ${GEARSET_DEB_CONTROL}/postinst ${GEARSET_DEB_CONTROL}/postrm
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      "${GEARSET_DEB_CONTROL}/triggers;${GEARSET_DEB_CONTROL}/postinst;${GEARSET_DEB_CONTROL}/postrm")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

# What Debian asks of every package's documentation folder: the copyright and
# a changelog, and the manual page compressed.
if(GEARSET_DEB_PACKAGE AND NOT WIN32)
  set(GEARSET_DEB_DOC ${CMAKE_CURRENT_BINARY_DIR}/deb-doc)
  file(MAKE_DIRECTORY ${GEARSET_DEB_DOC})
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE GEARSET_LICENSE_TEXT)
  file(WRITE ${GEARSET_DEB_DOC}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: Korvan.Gearset\n\nFiles: *\nCopyright: Korvan\nLicense: MIT\n")
  string(REGEX REPLACE "\n\n" "\n.\n" GEARSET_LICENSE_PARAGRAPHS "${GEARSET_LICENSE_TEXT}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" GEARSET_LICENSE_PARAGRAPHS "${GEARSET_LICENSE_PARAGRAPHS}")
  file(APPEND ${GEARSET_DEB_DOC}/copyright " ${GEARSET_LICENSE_PARAGRAPHS}")
  string(TIMESTAMP GEARSET_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${GEARSET_DEB_DOC}/changelog
       "korvan-gearset (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}; see CHANGELOG.md of the sources.\n\n"
       " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${GEARSET_DEB_DATE}\n")
  find_program(GEARSET_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${GEARSET_DEB_DOC}/changelog.gz ${GEARSET_DEB_DOC}/gearset.1.gz
                     COMMAND ${GEARSET_GZIP} -9nkf ${GEARSET_DEB_DOC}/changelog
                     COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/tools/gearset/gearset.1
                             ${GEARSET_DEB_DOC}/gearset.1
                     COMMAND ${GEARSET_GZIP} -9nf ${GEARSET_DEB_DOC}/gearset.1
                     DEPENDS ${PROJECT_SOURCE_DIR}/tools/gearset/gearset.1
                     COMMENT "Compressing the changelog and the manual page for the package")
  add_custom_target(gearset_deb_doc ALL DEPENDS ${GEARSET_DEB_DOC}/changelog.gz ${GEARSET_DEB_DOC}/gearset.1.gz)
  install(FILES ${GEARSET_DEB_DOC}/copyright ${GEARSET_DEB_DOC}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvan-gearset)
  install(FILES ${GEARSET_DEB_DOC}/gearset.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(CPack)
