# The site that deploys the tool, given when the build is configured:
#   ZELMORA_FILE_SERVER  the central file server's host name
#   ZELMORA_COMPANY      the company text, UTF-8
# This module takes the two settings in: it gives them their defaults and has them checked before
# anything is set up (cmake/SiteCheck.cmake); site/ makes this build's site library of them
# (cmake/SiteLibrary.cmake). Run as a script, it only checks two values, the defaults for any not
# given, or a list of sites (cmake/SiteListCheck.cmake):
#   cmake -DZELMORA_FILE_SERVER=<host> -DZELMORA_COMPANY=<text> -P cmake/SiteSettings.cmake
#   cmake -DZELMORA_SITES=<list> [-DZELMORA_SITES_OUT=<folder>] -P cmake/SiteSettings.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(ZELMORA_FILE_SERVER QVZELFS01 CACHE STRING
    "Host name of the site's central file server: a NetBIOS name, a DNS name or an IPv4 address")
set(ZELMORA_COMPANY "נבדרון" CACHE STRING "The site's company text (UTF-8)")

include(${CMAKE_CURRENT_LIST_DIR}/SiteCheck.cmake)
# The site's name in file names: the script prints it, and the release names its package by it.
include(${CMAKE_CURRENT_LIST_DIR}/SiteFileName.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SiteListCheck.cmake)

# As a script with ZELMORA_SITES, checks that list (ZELMORA_SITES_OUT is its OUT folder);
# otherwise checks the two settings, and as a script prints the site's file name.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ZELMORA_SITES)
  zelmora_check_site_list("${ZELMORA_SITES}" "${ZELMORA_SITES_OUT}")
else()
  zelmora_check_site("${ZELMORA_FILE_SERVER}" "${ZELMORA_COMPANY}" site)
  if(CMAKE_SCRIPT_MODE_FILE)
    zelmora_site_file_name("${ZELMORA_FILE_SERVER}" name)
    message(STATUS "file name: ${name}")
  endif()
endif()
