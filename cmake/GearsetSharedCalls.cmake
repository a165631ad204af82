# Calls inside one of the project's shared libraries bind to the library's own
# functions: no other library may stand in for them (ELF's interposition is
# off), so the compiler inlines and calls them directly, as it would in a
# static library. The record store's page path crosses several small exported
# member functions per page, each otherwise a call through the PLT. Windows
# DLLs bind so anyway.
function(gearset_bind_calls_within target)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  endif()
endfunction()
