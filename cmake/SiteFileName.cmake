# Shortens a site's file server into the site's name in file names. Input: the server, taken
# already by cmake/SiteCheck.cmake; the configure of a release and the check of a list of sites
# name their package and build folders with it.
include_guard(GLOBAL)

# The site's name in the names of its files (its build folder and its package): the server, or,
# past 45 characters, its first 36, a "~" and 8 hexadecimal digits of its SHA-256, so that the
# package's name stays short enough for every file system and archive tool and still tells the
# site (the "~" is no character of a server, so no other server's name looks the same).
function(zelmora_site_file_name server out)
  string(LENGTH "${server}" length)
  if(length GREATER 45)
    string(SHA256 hash "${server}")
    string(SUBSTRING "${server}" 0 36 server)
    string(SUBSTRING "${hash}" 0 8 hash)
    string(APPEND server "~${hash}")
  endif()
  set(${out} "${server}" PARENT_SCOPE)
endfunction()
