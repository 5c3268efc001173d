# The package an administrator deploys: one zip per architecture,
# tz-host-<version>-<x86|x64>.zip in build/packages, unpacking to one folder
# of that name. It holds the shipped binaries of this product build, the
# sample's INF, data and help files, the stand-ins for the sample's
# rendering library and print processor, the administrator's guide, the
# licence and SHA256SUMS of every other file. Built by "cpack" in the
# product build's folder (./run package, and the test tree after each build).

# The sample's stand-ins, in a folder of their own: they are not copied into
# the tests' binary folder, which builds its own.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)
add_subdirectory(tests/support/package ${CMAKE_BINARY_DIR}/sample-build)

install(FILES $<TARGET_FILE:drvinst> $<TARGET_FILE:jobtap> $<TARGET_FILE:vigil> $<TARGET_FILE:KZTTZUIF>
              $<TARGET_FILE:kzttzdrv> $<TARGET_FILE:kzttzpp>
        DESTINATION .)
# The sample's files, less the two placeholders the stand-ins replace.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/tz/ DESTINATION .
        PATTERN KZTTZDRV.DLL EXCLUDE PATTERN KZTTZPP.DLL EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/docs/admin-guide.md ${CMAKE_SOURCE_DIR}/docs/admin-guide.ja.md
              ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION .)
# Last: the checksums of everything above, as "sha256sum -c" reads them.
install(CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB names RELATIVE "${dir}" "${dir}/*")
  list(REMOVE_ITEM names SHA256SUMS)
  list(SORT names)
  set(text "")
  foreach(name IN LISTS names)
    file(SHA256 "${dir}/${name}" sum)
    string(APPEND text "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${dir}/SHA256SUMS" "${text}")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tz-host)
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tz-host-${PROJECT_VERSION}-${KZT_PACKAGE_ARCH})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/build/packages)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
