# What the release checks are told: the environment of every test of tests/release, and of the
# tests of tests/wine that run the release's programs or read its package, as one list of
# NAME=VALUE entries, ZELMORA_RELEASE_ENVIRONMENT. Its inputs are the Windows build's programs
# (zelmora-setup, zelmora-launch and the tool's ZELMORA_BESIDE_EXE), the package's CPack
# configuration, the build's identity file and the site's settings file, and the documents the
# package carries.
include_guard(GLOBAL)

set(ZELMORA_RELEASE_ENVIRONMENT
  ZELMORA_SOURCE=${PROJECT_SOURCE_DIR}
  ZELMORA_TOOL=$<TARGET_FILE:zelmora-setup>
  ZELMORA_BESIDE_EXE=$<JOIN:$<TARGET_PROPERTY:zelmora-setup,ZELMORA_BESIDE_EXE>,:>
  ZELMORA_VERSION=${PROJECT_VERSION}
  ZELMORA_LAUNCHER=$<TARGET_FILE:zelmora-launch>
  ZELMORA_BUILD_IDENTITY_FILE=${PROJECT_BINARY_DIR}/build-identity.txt
  ZELMORA_CPACK_CONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
  ZELMORA_GUIDE=${PROJECT_SOURCE_DIR}/docs/deploying.md
  ZELMORA_TRANSLATIONS_GUIDE=${PROJECT_SOURCE_DIR}/docs/translations.md
  ZELMORA_README=${PROJECT_SOURCE_DIR}/README.md
  ZELMORA_OBJDUMP=${CMAKE_OBJDUMP}
  ZELMORA_SITE=${PROJECT_BINARY_DIR}/site/settings.txt)
