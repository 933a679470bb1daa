# Settings shared by the native and the Windows trees.
option(KS_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)

# The PE link time stamp of the shipped binaries: SOURCE_DATE_EPOCH when the build is given one,
# else 0, so that two builds of one commit are byte-identical. The superbuild hands its value to
# the Windows trees.
if(NOT DEFINED KS_LINK_TIME_STAMP)
  set(KS_LINK_TIME_STAMP 0)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(KS_LINK_TIME_STAMP $ENV{SOURCE_DATE_EPOCH})
  endif()
endif()

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
