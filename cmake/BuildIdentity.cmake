# The build's identity: a short text that differs between two builds whenever what the tool
# writes can differ, so that a rollout of a new build reaches the users that an older one set up.
# It is the version, the file server, and eight hexadecimal digits of a SHA-256 over the version,
# the server and the company (all that the tool writes and a build can change):
#   1.0.0-QVZELFS01-6c0b4a3e
# A server over 32 characters is shown by its first 32 only (the hash covers all of it), so that
# the text stays short for a detection rule's field. It holds letters, digits, dots, hyphens and
# underscores only, so a registry string, a version resource's text and a rule take it as it is.
#
# ZELMORA_BUILD_IDENTITY holds this build's, also written at configure time, one line, to
# ${PROJECT_BINARY_DIR}/build-identity.txt. Each program carries it as its ProductVersion, where
# the launcher reads the tool's and records it.
# Run as a script, the module prints the identity of the settings given:
#   cmake -DVERSION=<version> -DZELMORA_FILE_SERVER=<host> -DZELMORA_COMPANY=<text> -P BuildIdentity.cmake

function(zelmora_build_identity out version server company)
  # Newlines part the three: none of them can hold one, so no two settings hash alike.
  string(SHA256 hash "${version}\n${server}\n${company}")
  string(SUBSTRING "${hash}" 0 8 hash)
  string(SUBSTRING "${server}" 0 32 shown)
  set(${out} "${version}-${shown}-${hash}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  zelmora_build_identity(identity "${VERSION}" "${ZELMORA_FILE_SERVER}" "${ZELMORA_COMPANY}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${identity}")
  return()
endif()

zelmora_build_identity(ZELMORA_BUILD_IDENTITY
  "${PROJECT_VERSION}" "${ZELMORA_FILE_SERVER}" "${ZELMORA_COMPANY}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/build-identity.txt
     CONTENT "${ZELMORA_BUILD_IDENTITY}\n" NEWLINE_STYLE LF)
