# Prints the sizes of the shipped Windows binaries at the end of the build.
foreach(file src/setup/SETUP.EXE src/stublib/KSSHLSTB.DLL src/package/KSPACKAGE.EXE)
  if(EXISTS ${TREE}/${file})
    file(SIZE ${TREE}/${file} size)
    get_filename_component(name ${file} NAME)
    message(STATUS "${name}: ${size} bytes")
  endif()
endforeach()
