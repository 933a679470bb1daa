# The native (host) tree: the portable engine, ksdist, native tests, benchmarks, and the driver
# of the Windows trees and of the Wine tests.
include(ExternalProject)
enable_testing()
ks_add_googletest()

set(KS_ARTIFACTS ${CMAKE_BINARY_DIR}/artifacts)
file(MAKE_DIRECTORY ${KS_ARTIFACTS})

# Which Windows build the Wine tests run. 32-bit Wine needs a kernel that runs 32-bit code; some
# virtual machines cannot (their exec of any i386 ELF fails), and there the tests run the x86_64
# build of the same sources under 64-bit Wine. The shipped product is the i686 build either way.
execute_process(COMMAND /usr/lib/wine/wine --version
                RESULT_VARIABLE ks_wine32_result OUTPUT_QUIET ERROR_QUIET)
if(ks_wine32_result EQUAL 0)
  set(ks_probed_arch i686)
  set(ks_reason "this machine runs 32-bit Windows programs")
else()
  set(ks_probed_arch x86_64)
  set(ks_reason "this machine cannot run 32-bit programs")
endif()
set(KS_WINE_ARCH ${ks_probed_arch} CACHE STRING "Windows build that the Wine tests run (i686 or x86_64)")
if(NOT KS_WINE_ARCH STREQUAL ks_probed_arch)
  set(ks_reason "chosen with -DKS_WINE_ARCH=${KS_WINE_ARCH}")
endif()

# The line that `make test` and `make demo` print first, so that a log says what Wine ran.
if(KS_WINE_ARCH STREQUAL "i686")
  set(ks_wine_tree_line "Wine runs the i686 build (build/win32, the shipped SETUP.EXE) under \
32-bit Wine: ${ks_reason}.")
else()
  set(ks_wine_tree_line "Wine runs the x86_64 build (build/win64) under 64-bit Wine: \
${ks_reason}. The shipped i686 build is only checked statically here.")
endif()
message(STATUS "${ks_wine_tree_line}")
file(WRITE ${CMAKE_BINARY_DIR}/wine-tree.txt "${ks_wine_tree_line}\n")

function(ks_windows_tree name arch with_tests)
  ExternalProject_Add(${name}
    SOURCE_DIR ${KS_ROOT}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${name}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${KS_ROOT}/cmake/mingw-${arch}.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
               -DKS_WIN_TESTS=${with_tests}
               -DKS_WARNINGS_AS_ERRORS=${KS_WARNINGS_AS_ERRORS}
               -DKS_LINK_TIME_STAMP=${KS_LINK_TIME_STAMP}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endfunction()

# The product tree is always i686, with its test programs and fixtures: the static checks of
# tests/unit read them even where Wine runs the x86_64 tree.
ks_windows_tree(win32 i686 ON)
if(KS_WINE_ARCH STREQUAL "i686")
  set(KS_WINE_TREE ${CMAKE_BINARY_DIR}/win32)
else()
  ks_windows_tree(win64 x86_64 ON)
  set(KS_WINE_TREE ${CMAKE_BINARY_DIR}/win64)
endif()
set(KS_PRODUCT_TREE ${CMAKE_BINARY_DIR}/win32)

add_custom_target(product_sizes ALL
  COMMAND ${CMAKE_COMMAND} -DTREE=${KS_PRODUCT_TREE} -P ${KS_ROOT}/cmake/PrintSizes.cmake
  DEPENDS win32
  VERBATIM)

foreach(dir tests/support src/unzip tools/ksdist tests/unit bench fuzz)
  if(EXISTS ${KS_ROOT}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

include(WineTests)
