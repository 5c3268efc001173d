# The version resource of every shipped binary: one version number (the top
# project's VERSION) in a generated header, common/kztversion.h.in, and a
# resource script per binary from common/versioninfo.rc.in.
configure_file(${CMAKE_SOURCE_DIR}/common/kztversion.h.in ${CMAKE_BINARY_DIR}/generated/kztversion.h @ONLY)

# kzt_version_resource(target "description" file-name): adds the version
# resource naming the file and what it is; an EXE gets VFT_APP, a DLL VFT_DLL.
function(kzt_version_resource target description file_name)
  set(KZT_FILE_DESCRIPTION "${description}")
  set(KZT_FILE_NAME "${file_name}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL EXECUTABLE)
    set(KZT_FILE_TYPE VFT_APP)
  else()
    set(KZT_FILE_TYPE VFT_DLL)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/common/versioninfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
