# The Windows tree: the same sources built with mingw-w64. It builds the product (SETUP.EXE and
# KSSHLSTB.DLL) and, with KS_WIN_TESTS, the fixtures and the test programs that run under Wine.
option(KS_WIN_TESTS "Build the Windows test programs and fixtures" ON)

# Product code: small, no C++ exceptions, no RTTI, no libstdc++ runtime, runs on Windows 95.
# No compiler version string in every object (-fno-ident).
set(KS_PRODUCT_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-ident)
# 32-bit Windows promises a stack aligned to 4 bytes, and the product uses no SSE: keeping 16
# would only cost code in every function that rounds its frame.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND KS_PRODUCT_COMPILE_OPTIONS -mpreferred-stack-boundary=2)
endif()
# A function called from one place stays a function: inlined into its caller it made SETUP.EXE
# 372 bytes larger. The decoder's per-symbol helpers are called from several places and are
# inlined as before; what this leaves out of line runs once per block or per entry.
list(APPEND KS_PRODUCT_COMPILE_OPTIONS -fno-inline-functions-called-once)
set(KS_PRODUCT_LINK_OPTIONS -static -s -Wl,-T,${KS_ROOT}/cmake/discard-unwind-tables.ld
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)

# The link time stamp is 0, or SOURCE_DATE_EPOCH, which ld reads from its environment.
if(KS_LINK_TIME_STAMP)
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KS_LINK_TIME_STAMP})
  endforeach()
else()
  list(APPEND KS_PRODUCT_LINK_OPTIONS -Wl,--no-insert-timestamp)
endif()

function(ks_product_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${KS_PRODUCT_COMPILE_OPTIONS})
  target_compile_definitions(${name} PUBLIC WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0400 WINVER=0x0400)
  target_include_directories(${name} PUBLIC ${KS_ROOT}/src)
  ks_warnings(${name})
endfunction()

# The two programs load at their own base address, as programs did before address-space layout
# randomisation: without the relocation table that only a moved image needs, each stays within
# its size budget (64 KiB for SETUP.EXE, 32 KiB for the package stub). Data execution
# prevention stays on. The stub library keeps its table: a library may have to move.
function(ks_product_binary target)
  target_compile_options(${target} PRIVATE ${KS_PRODUCT_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${KS_PRODUCT_LINK_OPTIONS} -Wl,--disable-dynamicbase
                      -Wl,--disable-reloc-section)
  ks_warnings(${target})
endfunction()

# Test programs and fixtures: standard C++ allowed, linked statically so Wine needs no DLLs.
function(ks_windows_test_program target)
  target_link_options(${target} PRIVATE -static)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN)
  ks_warnings(${target})
endfunction()

foreach(dir src/stublib src/common src/ui src/distfiles src/unzip src/shellext src/resources src/setup
            src/package)
  if(EXISTS ${KS_ROOT}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

if(KS_WIN_TESTS)
  ks_add_googletest()
  foreach(dir tests/support tests/fixtures tests/win32 tests/e2e tests/demo)
    if(EXISTS ${KS_ROOT}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endif()
