# The symbols archive beside the package's zip: run by CPack after it has
# made the zip (CPACK_POST_BUILD_SCRIPTS in cmake/package.cmake).
#   in:  CPACK_PACKAGE_FILES        the zip just made (in the staging folder)
#        CPACK_PACKAGE_DIRECTORY    where it goes (cpack -B changes it)
#        CPACK_TEMPORARY_DIRECTORY  the folder it was made of; cmake/stripsign.cmake
#                                   left the <binary>.debug files in "<folder>-symbols"
#   out: <zip's name>-symbols.zip beside the zip, one <binary>.debug per
#        shipped binary at its top
set(symbols "${CPACK_TEMPORARY_DIRECTORY}-symbols")
file(GLOB debug RELATIVE "${symbols}" "${symbols}/*.debug")
if(NOT debug)
  message(FATAL_ERROR "no symbols in ${symbols}")
endif()
list(SORT debug)
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${zip}" NAME_WLE)
  set(archive "${CPACK_PACKAGE_DIRECTORY}/${name}-symbols.zip")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${archive}" --format=zip ${debug}
                  WORKING_DIRECTORY "${symbols}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not write ${archive}")
  endif()
  message(STATUS "symbols: ${archive}")
endforeach()
