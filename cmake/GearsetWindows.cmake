# Windows with MinGW-w64: the runtime's DLLs beside the libraries and the
# programs, as a host ships them. The runtime stays shared so that the
# framework's exceptions cross from one library into another: with a runtime
# linked into each, the 32-bit unwinder of one library does not know the
# frames of another.
set(GEARSET_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    list(APPEND GEARSET_RUNTIME_DLLS "${path}")
  endif()
endforeach()
file(COPY ${GEARSET_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
install(PROGRAMS ${GEARSET_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the release archives) strips them too: Debian's carry
# their debugging information, 20 MB of libstdc++-6.dll's 24.
foreach(dll IN LISTS GEARSET_RUNTIME_DLLS)
  get_filename_component(name "${dll}" NAME)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
  endif()")
endforeach()

# 32-bit Windows 8 and later run only on processors with SSE2, which is also
# what Windows compilers target by default. Below it, GCC drops the prefetch
# hints that the record store's reads rely on to hide a page's first cache
# miss, and computes in the x87 unit's extended precision where the 64-bit
# build rounds every step. GCC realigns the stack where SSE code needs it,
# since Windows callers keep it aligned to 4 bytes only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-msse2 -mfpmath=sse)
endif()

# Korvan.Gearset.dll, Tolmbase.dll: Windows names carry no "lib".
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
