# A site library: the texts that site/SiteTexts.h declares, defined for one site, so that a
# program is built for a site by the one site library it links. Inputs: the library's name, the
# folder for its generated files (cmake/SiteTexts.cmake writes them), the file server and the
# company text. The library carries what a program's build says of its site, as properties:
#   ZELMORA_SITE_SERVER    the file server
#   ZELMORA_SITE_COMPANY   the company text
#   ZELMORA_SITE_IDENTITY  the build's identity for that site (cmake/BuildIdentity.cmake)
# cmake/VersionResource.cmake reads the server and the identity of the site library that a
# program links (zelmora_linked_site), so that no program states them beside it.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/BuildIdentity.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SiteTexts.cmake)

function(zelmora_site_library target folder server company)
  zelmora_site_texts(${folder} "${server}" "${company}")
  zelmora_build_identity(identity "${PROJECT_VERSION}" "${server}" "${company}")
  add_library(${target} STATIC ${folder}/SiteTexts.cpp)
  target_link_libraries(${target} PUBLIC zelmora_site)
  zelmora_warnings(${target})
  set_target_properties(${target} PROPERTIES ZELMORA_SITE_SERVER "${server}"
    ZELMORA_SITE_COMPANY "${company}" ZELMORA_SITE_IDENTITY "${identity}")
endfunction()

# Sets <out>_SERVER and <out>_IDENTITY to those of the one site library that TARGET links, and
# fails the configure when it links none or more than one: a program belongs to one site's build.
function(zelmora_linked_site target out)
  get_target_property(links ${target} LINK_LIBRARIES)
  set(sites "")
  foreach(link IN LISTS links)
    if(TARGET ${link})
      get_target_property(identity ${link} ZELMORA_SITE_IDENTITY)
      if(identity)
        list(APPEND sites ${link})
      endif()
    endif()
  endforeach()
  list(LENGTH sites count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${target} links ${count} site libraries (${sites}); a program links \
exactly one (cmake/SiteLibrary.cmake), after which its version resource is made.")
  endif()
  get_target_property(server ${sites} ZELMORA_SITE_SERVER)
  get_target_property(identity ${sites} ZELMORA_SITE_IDENTITY)
  set(${out}_SERVER "${server}" PARENT_SCOPE)
  set(${out}_IDENTITY "${identity}" PARENT_SCOPE)
endfunction()
