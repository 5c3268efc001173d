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

# kzt_program_manifest(target "description" file-name level): adds the
# program's manifest (common/program.manifest.in) as its resource 1 of type
# RT_MANIFEST; level is the execution level Vista and later give it
# (requireAdministrator or asInvoker).
function(kzt_program_manifest target description file_name level)
  set(KZT_FILE_DESCRIPTION "${description}")
  set(KZT_FILE_NAME "${file_name}")
  set(KZT_EXECUTION_LEVEL "${level}")
  set(KZT_MANIFEST_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KZT_MANIFEST_ARCH amd64)
  else()
    set(KZT_MANIFEST_ARCH x86)
  endif()
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${file_name}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/common/program.manifest.in ${manifest} @ONLY)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest.rc)
  file(WRITE ${rc} "#include <windows.h>\nCREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${manifest}\"\n")
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${manifest})
endfunction()
