# Settings shared by the native and the Windows trees.
option(KS_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)

function(ks_warnings target)
  # -Wrestrict misfires on std::string concatenation in GCC 12 (its bug 105329).
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-restrict)
  if(KS_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# googletest from Debian's source package, built in whichever tree includes this.
function(ks_add_googletest)
  if(TARGET gtest)
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # g++ 12 sees a false overlap in googletest's own string code (-Wrestrict); it is not ours.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(gtest PRIVATE -Wno-restrict)
  endif()
endfunction()
