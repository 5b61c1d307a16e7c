# Run by CPack on the staged package, before it is archived: signs each program with
# Authenticode when a certificate and its key are named (CMake cache, else the environment at
# packaging time), then writes SHA256SUMS over every other file, as `sha256sum -c` reads it, and
# prints the build's identity for the detection rules.
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
# CPACK_ZELMORA_EXECUTABLES: "<file>=<description that its signature shows>", one per program.
foreach(entry IN LISTS CPACK_ZELMORA_EXECUTABLES)
  string(REGEX REPLACE "=.*" "" program "${entry}")
  if(NOT EXISTS "${stage}/${program}")
    message(FATAL_ERROR "${program} is not in the staged package ${stage}")
  endif()
endforeach()

foreach(setting IN ITEMS CERT KEY KEY_PASSWORD_FILE TIMESTAMP_URL)
  set(${setting} "${CPACK_ZELMORA_SIGN_${setting}}")
  if(${setting} STREQUAL "")
    set(${setting} "$ENV{ZELMORA_SIGN_${setting}}")
  endif()
endforeach()

if(CERT STREQUAL "" AND KEY STREQUAL "")
  message(STATUS "Not signed: neither ZELMORA_SIGN_CERT nor ZELMORA_SIGN_KEY is set")
elseif(CERT STREQUAL "" OR KEY STREQUAL "")
  # Half a signing set-up is a mistake; an unsigned package would pass it by unnoticed.
  message(FATAL_ERROR "ZELMORA_SIGN_CERT and ZELMORA_SIGN_KEY name the certificate and its key; "
                      "one of them is missing")
else()
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode)")
  endif()
  set(options -certs "${CERT}" -key "${KEY}" -h sha256)
  if(NOT KEY_PASSWORD_FILE STREQUAL "")
    list(APPEND options -readpass "${KEY_PASSWORD_FILE}")
  endif()
  if(NOT TIMESTAMP_URL STREQUAL "")
    list(APPEND options -ts "${TIMESTAMP_URL}")
  endif()
  # Every program or none: a package with one of them unsigned would fail an application control
  # rule on the workstations only.
  foreach(entry IN LISTS CPACK_ZELMORA_EXECUTABLES)
    string(REGEX MATCH "^([^=]*)=(.*)$" unused "${entry}")
    set(program "${CMAKE_MATCH_1}")
    set(file "${stage}/${program}")
    execute_process(COMMAND "${OSSLSIGNCODE}" sign ${options} -n "${CMAKE_MATCH_2}"
                            -in "${file}" -out "${file}.signed"
                    OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE failed)
    if(failed)
      file(REMOVE "${file}.signed")
      message(FATAL_ERROR "Signing ${program} failed:\n${log}")
    endif()
    file(RENAME "${file}.signed" "${file}")
    message(STATUS "Signed ${program} with ${CERT}")
  endforeach()
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 "${stage}/${file}" sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
file(WRITE "${stage}/SHA256SUMS" "${sums}")
message(STATUS "Build identity: ${CPACK_ZELMORA_BUILD_IDENTITY} (build-identity.txt; the "
               "value Build of HKCU\\Software\\Quorvane\\ZelmoraSetup after a complete run)")
