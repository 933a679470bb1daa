# Registers every Windows test program (tests/win32, tests/e2e: one program per *_test.cpp) as a
# CTest test that tests/support/wine-run starts under Wine with its own Xvfb display. They share
# one Wine prefix, so they run one at a time. Their label names the tree that Wine runs, and
# CTest's label summary at the end of `make test` repeats it.
set(KS_WINE_RUN ${KS_ROOT}/tests/support/wine-run)
foreach(kind win32 e2e)
  file(GLOB sources CONFIGURE_DEPENDS ${KS_ROOT}/tests/${kind}/*_test.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    add_test(NAME ${kind}.${name}
             COMMAND ${KS_WINE_RUN} ${KS_WINE_TREE}/tests/${kind}/${name}.exe)
    # A crashed program ends with exit code 0 once winedbg has printed its report: the report
    # itself marks the failure.
    set_tests_properties(${kind}.${name} PROPERTIES
      FAIL_REGULAR_EXPRESSION "wine: Unhandled"
      RESOURCE_LOCK wine
      LABELS wine-${KS_WINE_ARCH}
      TIMEOUT 420
      ENVIRONMENT "KS_BUILD=${CMAKE_BINARY_DIR};KS_WINE_ARCH=${KS_WINE_ARCH};KS_WIN_TREE=${KS_WINE_TREE};KS_PRODUCT_TREE=${KS_PRODUCT_TREE}")
  endforeach()
endforeach()

# The packed-distribution and package tests install what `ksdist pack` and `ksdist package` made
# natively just before them.
add_test(NAME e2e.packed_distribution_prepare
         COMMAND ${KS_ROOT}/tests/e2e/packed_distribution_prepare.sh $<TARGET_FILE:ksdist>
                 ${KS_WINE_TREE} ${CMAKE_BINARY_DIR}/packed-e2e)
set_tests_properties(e2e.packed_distribution_prepare PROPERTIES FIXTURES_SETUP packed_distribution)
set_tests_properties(e2e.packed_distribution_test e2e.package_test
                     PROPERTIES FIXTURES_REQUIRED packed_distribution)

# e2e.rollback_test fills a small tmpfs for real where the machine lets it mount one.
foreach(step mount unmount)
  add_test(NAME e2e.small_drive_${step}
           COMMAND ${KS_ROOT}/tests/e2e/small_drive.sh ${step} ${CMAKE_BINARY_DIR})
endforeach()
set_tests_properties(e2e.small_drive_mount PROPERTIES FIXTURES_SETUP small_drive)
set_tests_properties(e2e.small_drive_unmount PROPERTIES FIXTURES_CLEANUP small_drive)
set_tests_properties(e2e.rollback_test PROPERTIES FIXTURES_REQUIRED small_drive)
