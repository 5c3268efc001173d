# The package's binaries as they ship: run from an install(CODE) step of
# cmake/package.cmake, after the files are installed and before SHA256SUMS.
#   in:  dir      the installed package folder
#        objcopy  the architecture's objcopy (<triple>-objcopy)
#        env KZT_SIGN_PFX, KZT_SIGN_PASSWORD: the certificate to sign with
#        (none: the binaries stay unsigned)
#   out: every .exe and .dll of dir without its debug sections and with a
#        .gnu_debuglink to <name>.debug, which goes to the folder "<dir>-symbols"
#        (beside dir, outside the zip; cmake/symbols.cmake zips it), then
#        signed (Authenticode, SHA-256) when a certificate is given.
#        A certificate that cannot be used stops the install.
file(GLOB binaries RELATIVE "${dir}" "${dir}/*")
list(FILTER binaries INCLUDE REGEX "[.]([eE][xX][eE]|[dD][lL][lL])$")
list(SORT binaries)
if(NOT binaries)
  message(FATAL_ERROR "no binaries in ${dir}")
endif()

set(symbols "${dir}-symbols")
file(REMOVE_RECURSE "${symbols}")
file(MAKE_DIRECTORY "${symbols}")
foreach(name IN LISTS binaries)
  execute_process(COMMAND "${objcopy}" --only-keep-debug "${dir}/${name}" "${symbols}/${name}.debug"
                  RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    # The link holds the file's name and checksum: a debugger finds the
    # symbols beside the binary or in its debug folder.
    execute_process(COMMAND "${objcopy}" --strip-all "--add-gnu-debuglink=${symbols}/${name}.debug"
                            "${dir}/${name}" RESULT_VARIABLE rc)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${objcopy} failed on ${name}")
  endif()
endforeach()

set(pfx "$ENV{KZT_SIGN_PFX}")
if(pfx STREQUAL "")
  # A password without its certificate is a misspelt or lost variable: never
  # an unsigned package that was meant to be signed.
  if(NOT "$ENV{KZT_SIGN_PASSWORD}" STREQUAL "")
    message(FATAL_ERROR "KZT_SIGN_PASSWORD is set but KZT_SIGN_PFX is not: no certificate to sign with")
  endif()
  message(NOTICE "KZT_SIGN_PFX is not set: the package's binaries are unsigned")
  return()
endif()
if(NOT EXISTS "${pfx}" OR IS_DIRECTORY "${pfx}")
  message(FATAL_ERROR "KZT_SIGN_PFX: no certificate file ${pfx}")
endif()
find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
  message(FATAL_ERROR "KZT_SIGN_PFX is set but osslsigncode is not installed (./run setup)")
endif()
# The password goes in a file only its owner reads, not on a command line
# that every process on the machine can list.
set(pass "${dir}-sign.pass")
file(REMOVE "${pass}")
file(TOUCH "${pass}")
file(CHMOD "${pass}" PERMISSIONS OWNER_READ OWNER_WRITE)
file(APPEND "${pass}" "$ENV{KZT_SIGN_PASSWORD}")
# No timestamp: the build has no network to reach a timestamp server, so a
# signature is valid only while the certificate is.
foreach(name IN LISTS binaries)
  file(REMOVE "${dir}/${name}.signed")
  execute_process(COMMAND "${osslsigncode}" sign -pkcs12 "${pfx}" -readpass "${pass}"
                          -h sha256 -n "Ostrel TZ host software"
                          -in "${dir}/${name}" -out "${dir}/${name}.signed"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    file(REMOVE "${pass}" "${dir}/${name}.signed")
    string(STRIP "${out}" out)
    message(FATAL_ERROR "signing ${name} with ${pfx} failed:\n${out}")
  endif()
  file(RENAME "${dir}/${name}.signed" "${dir}/${name}")
endforeach()
file(REMOVE "${pass}")
message(NOTICE "signed the package's binaries with ${pfx}")
