# A program's version resource, whose ProductVersion string is the build's identity, so that the
# launcher reads the build of the very file it starts, and Explorer's Details tab shows it:
#
#   zelmora_version_resource(<target> NAME <name> DESCRIPTION <text> [ORIGINAL_FILENAME <file>])
#
#   NAME               the program's name, its InternalName (zelmora-setup)
#   DESCRIPTION        its FileDescription, which Task Manager shows as the program's name, before
#                      the site's server in parentheses: short (Zelmora workstation set-up)
#   ORIGINAL_FILENAME  its OriginalFilename; default <name> with this build's executable suffix
#
# The server and the ProductVersion, the identity, are those of the site library that the target
# links (cmake/SiteLibrary.cmake), so it is called once the target links one. The texts are
# printable ASCII without quotes or backslashes, as the resource compiler takes them literally.
# The fixed version numbers and FileVersion are the project's VERSION. Both builds configure
# app/Release.rc.in into <target>.rc in the current binary folder (the target's
# ZELMORA_VERSION_RC property names it). The Windows build compiles it, with the application
# manifest (app/zelmora-setup.manifest); the POSIX build compiles the same block, laid out as the
# resource compiler lays it out, into the program as a constant array that the linker keeps, so
# that the launcher finds it in the file's bytes.
include(${CMAKE_CURRENT_LIST_DIR}/SiteLibrary.cmake)

# The hexadecimal digits of VALUE's BYTES bytes, least significant first.
function(_zelmora_version_le out value bytes)
  set(digits 0123456789abcdef)
  set(hex "")
  foreach(unused RANGE 1 ${bytes})
    math(EXPR high "(${value} >> 4) & 15")
    math(EXPR low "${value} & 15")
    string(SUBSTRING ${digits} ${high} 1 high)
    string(SUBSTRING ${digits} ${low} 1 low)
    string(APPEND hex "${high}${low}")
    math(EXPR value "${value} >> 8")
  endforeach()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# HEX padded with zero bytes to a multiple of four bytes, the alignment of every node.
function(_zelmora_version_aligned out hex)
  string(LENGTH "${hex}" digits)
  math(EXPR pad "(8 - ${digits} % 8) % 8")
  string(REPEAT "0" ${pad} zeros)
  set(${out} "${hex}${zeros}" PARENT_SCOPE)
endfunction()

# A node: its length, VALUE_LENGTH (units of a text, bytes of a binary value), TYPE (1 text,
# 0 binary), the UTF-16 KEY and its NUL, then VALUE and the children CHILD..., each aligned.
# The length counts no padding after the last part, as the resource compiler counts it.
function(_zelmora_version_node out key type value_length value)
  string(HEX "${key}" body)
  string(REGEX REPLACE "(..)" "\\100" body "${body}")
  string(APPEND body "0000")
  foreach(part IN ITEMS "${value}" ${ARGN})
    if(NOT part STREQUAL "")
      # The header's six bytes come first: align what follows them.
      _zelmora_version_aligned(body "000000000000${body}")
      string(SUBSTRING "${body}" 12 -1 body)
      string(APPEND body "${part}")
    endif()
  endforeach()
  string(LENGTH "${body}" digits)
  math(EXPR length "${digits} / 2 + 6")
  if(length GREATER 65535)
    message(FATAL_ERROR "The version resource's node ${key} is ${length} bytes long.")
  endif()
  _zelmora_version_le(length_hex ${length} 2)
  _zelmora_version_le(value_length_hex ${value_length} 2)
  _zelmora_version_le(type_hex ${type} 2)
  set(${out} "${length_hex}${value_length_hex}${type_hex}${body}" PARENT_SCOPE)
endfunction()

# The block that the resource compiler makes of the configured RC file: its string table's
# VALUE lines, in their order, and the fixed information of the project's VERSION.
function(_zelmora_version_block out rc)
  file(STRINGS "${rc}" lines REGEX "^[ \t]*(BLOCK|VALUE) ")
  set(strings "")
  set(table "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*BLOCK \"([0-9A-Fa-f]+)\"$")
      set(table "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*VALUE \"([^\"]+)\", \"([^\"]*)\"$")
      set(key "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      string(HEX "${text}" value)
      string(REGEX REPLACE "(..)" "\\100" value "${value}")
      string(LENGTH "${text}" units)
      math(EXPR units "${units} + 1")
      _zelmora_version_node(node "${key}" 1 ${units} "${value}0000")
      list(APPEND strings "${node}")
    endif()
  endforeach()
  set(hex4 "[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]")
  if(NOT table MATCHES "^(${hex4})(${hex4})$" OR NOT strings)
    message(FATAL_ERROR "${rc} has no string table that cmake/VersionResource.cmake can read.")
  endif()
  set(language "0x${CMAKE_MATCH_1}")
  set(code_page "0x${CMAKE_MATCH_2}")
  _zelmora_version_node(table "${table}" 1 0 "" ${strings})
  _zelmora_version_node(string_info StringFileInfo 1 0 "" "${table}")
  # The translation the table is named after: its language, then its code page.
  _zelmora_version_le(language ${language} 2)
  _zelmora_version_le(code_page ${code_page} 2)
  _zelmora_version_node(translation Translation 0 4 "${language}${code_page}")
  _zelmora_version_node(var_info VarFileInfo 1 0 "" "${translation}")

  # VS_FIXEDFILEINFO: the signature, the layout's version 1.0, the file's and the product's
  # version (major.minor, patch.0), VS_FFI_FILEFLAGSMASK, no flags, VOS_NT_WINDOWS32, VFT_APP,
  # no subtype and no date, as the template sets them.
  math(EXPR version_ms "(${PROJECT_VERSION_MAJOR} << 16) | ${PROJECT_VERSION_MINOR}")
  math(EXPR version_ls "${PROJECT_VERSION_PATCH} << 16")
  set(fixed "")
  foreach(field IN ITEMS 0xFEEF04BD 0x10000 ${version_ms} ${version_ls} ${version_ms}
                         ${version_ls} 0x3F 0 0x40004 1 0 0 0)
    _zelmora_version_le(field ${field} 4)
    string(APPEND fixed "${field}")
  endforeach()
  _zelmora_version_node(block VS_VERSION_INFO 0 52 "${fixed}" "${string_info}" "${var_info}")
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

function(zelmora_version_resource target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;DESCRIPTION;ORIGINAL_FILENAME" "")
  if(NOT arg_ORIGINAL_FILENAME)
    set(arg_ORIGINAL_FILENAME "${arg_NAME}${CMAKE_EXECUTABLE_SUFFIX}")
  endif()
  zelmora_linked_site(${target} site)
  set(arg_DESCRIPTION "${arg_DESCRIPTION} (${site_SERVER})")
  set(arg_IDENTITY "${site_IDENTITY}")
  foreach(setting IN ITEMS NAME DESCRIPTION ORIGINAL_FILENAME IDENTITY)
    if(NOT arg_${setting} MATCHES "^[] !#-[^-~]+$")
      message(FATAL_ERROR "zelmora_version_resource(${target}): ${setting} is \
\"${arg_${setting}}\"; it must be printable ASCII without quotes or backslashes.")
    endif()
  endforeach()

  set(ZELMORA_MANIFEST ${PROJECT_SOURCE_DIR}/app/zelmora-setup.manifest)
  set(ZELMORA_VERSION_NAME "${arg_NAME}")
  set(ZELMORA_VERSION_DESCRIPTION "${arg_DESCRIPTION}")
  set(ZELMORA_VERSION_FILE_NAME "${arg_ORIGINAL_FILENAME}")
  set(ZELMORA_VERSION_IDENTITY "${arg_IDENTITY}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/app/Release.rc.in ${rc} @ONLY)
  set_property(TARGET ${target} PROPERTY ZELMORA_VERSION_RC ${rc})
  if(WIN32)
    target_sources(${target} PRIVATE ${rc})
    set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${ZELMORA_MANIFEST})
    return()
  endif()

  _zelmora_version_block(block ${rc})
  string(REGEX REPLACE "(..)" "0x\\1, " block "${block}")
  string(REPEAT "0x.., " 11 line)
  string(REGEX REPLACE "(${line}0x..,) " "\\1\n  " block "${block}")
  string(STRIP "${block}" block)
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.cpp CONTENT "\
// The version resource of ${arg_ORIGINAL_FILENAME}, from ${target}.rc:
// the block that a Windows program keeps as a resource, here in the program's own file, where
// the launcher reads it. Made by cmake/VersionResource.cmake; nothing in the program refers to it.
#include <cstdint>

namespace {

[[gnu::used]] alignas(4) const std::uint8_t kVersionResource[] = {
  ${block}
};

}  // namespace
")
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.cpp)
endfunction()
