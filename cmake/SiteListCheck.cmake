# Checks a vendor's list of sites, the whole of it before any site is built, and writes each
# site's settings for its build folder. Inputs: the list's file and the folder that the sites are
# built in (tools/release-sites runs it through cmake/SiteSettings.cmake as a script).
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Utf8Decoder.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SiteCheck.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/SiteFileName.cmake)

# Checks a list of sites, the file LIST, before any of them is built: UTF-8 text, one site a
# line, its server, a tab and its company text; blank lines and lines starting with "#" are
# skipped; LF or CR LF line ends. Each site is held to the rules of SiteCheck.cmake, and no server
# may be listed twice (in any case of its letters, as Windows names are). Every refused line is
# shown, naming its number, and the check fails. Otherwise, with an OUT folder, each site gets
# OUT/<its file name>/site-settings.cmake, a cache script of its two settings for "cmake -C",
# which takes any text as it is (-D would drop white space at the end, or a pair of quotes), and
# its file name and server are printed, one site a line.
function(zelmora_check_site_list list out)
  file(READ "${list}" hex HEX)
  if(hex MATCHES "^(fffe|feff)" OR hex MATCHES "^(..)*00")
    message(FATAL_ERROR "${list} is not UTF-8 text: a NUL byte or a UTF-16 byte-order mark.")
  endif()
  file(READ "${list}" text)  # which reads CR LF as LF
  if(hex MATCHES "^efbbbf")  # a UTF-8 byte-order mark
    string(SUBSTRING "${text}" 3 -1 text)
  endif()
  set(number 0)
  set(refused 0)
  set(sites "")
  while(NOT text STREQUAL "")
    math(EXPR number "${number} + 1")
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
      set(line "${text}")
      set(text "")
    else()
      string(SUBSTRING "${text}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${text}" ${end} -1 text)
    endif()
    if(line MATCHES "^[ \t]*$" OR line MATCHES "^#")
      continue()
    endif()
    string(FIND "${line}" "\t" tab)
    set(problem "")
    if(tab EQUAL -1)
      zelmora_decode_utf8("${line}" line)
      set(problem "\"${line_shown}\" has no tab: a site is its server, a tab and its company text.")
    else()
      string(SUBSTRING "${line}" 0 ${tab} server)
      math(EXPR tab "${tab} + 1")
      string(SUBSTRING "${line}" ${tab} -1 company)
      zelmora_site_problem("${server}" "${company}" problem)
      # A server that is taken holds nothing but letters, digits, "_", "-" and ".": it can
      # name a variable.
      string(TOLOWER "${server}" key)
      if(problem)
      elseif(DEFINED seen_${key})
        set(problem "ZELMORA_FILE_SERVER is \"${server}\": it is listed already, on line \
${seen_${key}}; each site is built once, into its own folder.")
      else()
        set(seen_${key} ${number})
      endif()
    endif()
    if(problem)
      message("${list}:${number}: ${problem}")
      math(EXPR refused "${refused} + 1")
    else()
      set(server_${number} "${server}")
      set(company_${number} "${company}")
      list(APPEND sites ${number})
    endif()
  endwhile()
  if(refused)
    message(FATAL_ERROR "${list}: ${refused} of its lines refused.")
  elseif(NOT sites)
    message(FATAL_ERROR "${list} lists no site.")
  endif()
  if(out STREQUAL "")
    return()
  endif()
  foreach(site IN LISTS sites)
    zelmora_site_file_name("${server_${site}}" name)
    # A bracket argument takes the text as it is; its "=" are as many as it takes for its end
    # to be found nowhere in the text, nor where the text ends in a "]".
    set(equals "")
    set(probe "${company_${site}}]")
    while(probe MATCHES "]${equals}]")
      string(APPEND equals "=")
    endwhile()
    file(WRITE "${out}/${name}/site-settings.cmake"
      "set(ZELMORA_FILE_SERVER \"${server_${site}}\" CACHE STRING \"\" FORCE)\n"
      "set(ZELMORA_COMPANY [${equals}[${company_${site}}]${equals}] CACHE STRING \"\" FORCE)\n")
    message(STATUS "${name} ${server_${site}}")
  endforeach()
endfunction()
