# The Windows release: how its two programs, the tool and its launcher, are linked, and the ZIP
# package (`cmake --build --preset windows --target package`) that holds them with the build's
# identity, the deployment and translations guides, the README and SHA256SUMS. The package step signs both programs
# when a certificate is named, and prints the identity.
#
# Files that go into the package beside the tool (message translations, for instance) are added
# to the tool's ZELMORA_BESIDE_EXE property, one line each:
#   set_property(TARGET zelmora-setup APPEND PROPERTY ZELMORA_BESIDE_EXE <file>)

include(${CMAKE_CURRENT_LIST_DIR}/BuildIdentity.cmake)

set(ZELMORA_SIGN_CERT "" CACHE FILEPATH
    "Authenticode certificate (PEM or DER, chain included) that signs the packaged programs; \
when empty, the environment variable of the same name is read at packaging time")
set(ZELMORA_SIGN_KEY "" CACHE FILEPATH "Private key of ZELMORA_SIGN_CERT (PEM or DER)")
set(ZELMORA_SIGN_KEY_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the passphrase of an encrypted ZELMORA_SIGN_KEY")
set(ZELMORA_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signature, so that it outlives the certificate")

# A program as it is shipped: terminal-server aware (so that a Remote Desktop Session Host runs it
# without the registry mapping kept for old programs), with no time stamp, so that a build of the
# same commit anywhere gives the same bytes, and in the package with the files of its
# ZELMORA_BESIDE_EXE. Its version resource and manifest come from zelmora_version_resource
# (cmake/VersionResource.cmake).
function(zelmora_release_executable target)
  target_link_options(${target} PRIVATE LINKER:--tsaware LINKER:--no-insert-timestamp)
  install(TARGETS ${target} RUNTIME DESTINATION .)
  install(FILES $<TARGET_PROPERTY:${target},ZELMORA_BESIDE_EXE> DESTINATION .)
endfunction()

# The identity that an administrator copies into a detection rule, and the documents.
install(FILES ${PROJECT_BINARY_DIR}/build-identity.txt ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploying.md ${PROJECT_SOURCE_DIR}/docs/translations.md
        DESTINATION docs)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zelmora-setup)
set(CPACK_PACKAGE_VENDOR Quorvane)
# The name tells the site by its file server, shortened when long: every server the configure
# takes must package, and a name over 80 characters is too long for some archive tools and for
# a path on Windows.
zelmora_site_file_name("${ZELMORA_FILE_SERVER}" site)
set(CPACK_PACKAGE_FILE_NAME zelmora-setup-${PROJECT_VERSION}-${site}-win64)
string(LENGTH "${CPACK_PACKAGE_FILE_NAME}.zip" length)
if(length GREATER 80)
  message(FATAL_ERROR "The package's name, ${CPACK_PACKAGE_FILE_NAME}.zip, is over 80 characters.")
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/SealPackage.cmake)
# The programs that the package step signs, each with the description that a signature shows.
set(CPACK_ZELMORA_EXECUTABLES
  "zelmora-setup.exe=Zelmora workstation set-up"
  "zelmora-launch.exe=Zelmora workstation set-up launcher")
set(CPACK_ZELMORA_BUILD_IDENTITY ${ZELMORA_BUILD_IDENTITY})
foreach(setting IN ITEMS CERT KEY KEY_PASSWORD_FILE TIMESTAMP_URL)
  set(CPACK_ZELMORA_SIGN_${setting} "${ZELMORA_SIGN_${setting}}")
endforeach()
include(CPack)
