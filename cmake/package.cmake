# The package an administrator deploys: one zip per architecture,
# tz-host-<version>-<x86|x64>.zip in build/packages, unpacking to one folder
# of that name. It holds the shipped binaries of this product build, the
# sample's INF, data and help files, the stand-ins for the sample's
# rendering library, print processor and resource library, the
# administrator's guide, the licence and SHA256SUMS of every other file. Built by "cpack" in the
# product build's folder (./run package, and the test tree after each build).
# Beside each zip, tz-host-<version>-<arch>-symbols.zip holds the debug
# sections its binaries ship without.

# The sample's stand-ins, in a folder of their own: they are not copied into
# the tests' binary folder, which builds its own.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sample)
add_subdirectory(tests/support/package ${CMAKE_BINARY_DIR}/sample-build)

install(FILES $<TARGET_FILE:drvinst> $<TARGET_FILE:jobtap> $<TARGET_FILE:vigil> $<TARGET_FILE:KZTTZUIF>
              $<TARGET_FILE:kzttzdrv> $<TARGET_FILE:kzttzpp> $<TARGET_FILE:kzttzres>
        DESTINATION .)
# The sample's files, less the three placeholders the stand-ins replace and
# the INF, which ships with the package's version as its DriverVer version
# (the date and everything else byte for byte as the sample has them).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/samples/tz/ DESTINATION .
        PATTERN KZTTZDRV.DLL EXCLUDE PATTERN KZTTZPP.DLL EXCLUDE PATTERN KZTTZRES.DLL EXCLUDE
        PATTERN TZ.INF EXCLUDE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/samples/tz/TZ.INF)
# file(READ) drops the carriage returns: they go back in on writing.
file(READ ${CMAKE_SOURCE_DIR}/samples/tz/TZ.INF inf)
string(REGEX REPLACE "(\nDriverVer=[0-9/]+),[0-9.]+\r?\n" "\\1,${PROJECT_VERSION}.0\n" inf "${inf}")
if(NOT inf MATCHES "\nDriverVer=[0-9/]+,${PROJECT_VERSION}.0\n")
  message(FATAL_ERROR "samples/tz/TZ.INF: no DriverVer line to give the package's version")
endif()
string(REPLACE "\r\n" "\n" inf "${inf}")
string(REPLACE "\n" "\r\n" inf "${inf}")
file(WRITE ${CMAKE_BINARY_DIR}/generated/TZ.INF "${inf}")
install(FILES ${CMAKE_BINARY_DIR}/generated/TZ.INF DESTINATION .)
# The guides and the licence as an administrator opens them on Windows:
# lines ended by CR LF, and the Japanese guide in UTF-8 with a byte-order
# mark, so that Notepad does not read it in the ANSI code page.
string(ASCII 239 187 191 bom)
set(screenshots "")
foreach(text docs/admin-guide.md docs/admin-guide.ja.md LICENSE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${text})
  file(READ ${CMAKE_SOURCE_DIR}/${text} body)  # without its carriage returns
  string(REPLACE "\r\n" "\n" body "${body}")
  string(REPLACE "\n" "\r\n" body "${body}")
  if(text MATCHES "[.]ja[.]md$" AND NOT body MATCHES "^${bom}")
    set(body "${bom}${body}")
  endif()
  get_filename_component(name ${text} NAME)
  file(WRITE ${CMAKE_BINARY_DIR}/generated/${name} "${body}")
  install(FILES ${CMAKE_BINARY_DIR}/generated/${name} DESTINATION .)
  # The screenshots a guide shows, beside it as its links expect them.
  # (A link's "]" stays out of the list: brackets would keep CMake from
  # splitting it.)
  string(REGEX MATCHALL "\\(screenshots/[A-Za-z0-9_.-]+[.]png\\)" links "${body}")
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\(screenshots/(.*)\\)$" "\\1" image "${link}")
    list(APPEND screenshots ${CMAKE_SOURCE_DIR}/docs/screenshots/${image})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES screenshots)
install(FILES ${screenshots} DESTINATION screenshots)
# The binaries as they ship: without debug sections (their symbols go to
# tz-host-<version>-<arch>-symbols.zip beside the zip), signed when
# KZT_SIGN_PFX names a certificate (cmake/stripsign.cmake). Only the zip's
# copies: the build's own binaries keep their symbols.
find_program(KZT_OBJCOPY ${KZT_MINGW_TRIPLE}-objcopy REQUIRED)
install(CODE "
  set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(objcopy \"${KZT_OBJCOPY}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/stripsign.cmake\")
")
# Last: the checksums of everything above (the screenshots' paths with a
# forward slash), as "sha256sum -c" reads them, CR LF like the other texts.
install(CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE names LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
  list(REMOVE_ITEM names SHA256SUMS)
  list(SORT names)
  set(text "")
  foreach(name IN LISTS names)
    file(SHA256 "${dir}/${name}" sum)
    string(APPEND text "${sum}  ${name}\r\n")
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
# Once the zip is made: its symbols zip beside it.
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/symbols.cmake)
include(CPack)
