# Strict warnings for the project's own targets only.
function(gearset_strict_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Woverloaded-virtual -Wnull-dereference)
  if(GEARSET_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
