# The site that deploys the tool, given when the build is configured:
#   ZELMORA_FILE_SERVER  the central file server's host name
#   ZELMORA_COMPANY      the company text, UTF-8
# Both are checked before anything is built, so that no build writes a broken path, and reach
# the installer's layout as a generated header of UTF-16 units. Run as a script, the module only
# checks two values, the defaults for any not given, or a list of sites:
#   cmake -DZELMORA_FILE_SERVER=<host> -DZELMORA_COMPANY=<text> -P cmake/SiteSettings.cmake
#   cmake -DZELMORA_SITES=<list> [-DZELMORA_SITES_OUT=<folder>] -P cmake/SiteSettings.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.25)
endif()

set(ZELMORA_FILE_SERVER QVZELFS01 CACHE STRING
    "Host name of the site's central file server: a NetBIOS name, a DNS name or an IPv4 address")
set(ZELMORA_COMPANY "נבדרון" CACHE STRING "The site's company text (UTF-8)")

# Decodes the UTF-8 TEXT into <out>_UNITS, its UTF-16 units as C++ \x escapes, <out>_COUNT, how
# many there are, <out>_SHOWN, the text for a message (control characters and bytes that are not
# UTF-8 as \x escapes), and <out>_PROBLEM, the first fault found, or nothing.
function(_zelmora_decode_utf8 text out)
  string(HEX "${text}" hex)
  string(LENGTH "${text}" size)
  set(units "")
  set(count 0)
  set(shown "")
  set(problem "")
  set(at 0)
  while(at LESS size)
    math(EXPR start "${at} * 2")
    string(SUBSTRING "${hex}" ${start} 2 lead_hex)
    math(EXPR lead "0x${lead_hex}")
    # The sequence's length, the lead byte's bits of the code point, and the least code point of
    # that length: anything less is an overlong form.
    set(fault "")
    if(lead LESS 128)
      set(length 1)
      set(point ${lead})
      set(least 0)
    elseif(lead LESS 192 OR lead GREATER_EQUAL 248)
      set(length 1)
      set(fault "a byte that starts no UTF-8 character")
    else()
      if(lead LESS 224)
        set(length 2)
        set(least 128)
      elseif(lead LESS 240)
        set(length 3)
        set(least 2048)
      else()
        set(length 4)
        set(least 65536)
      endif()
      math(EXPR point "${lead} & (127 >> ${length})")
      set(next 1)
      while(next LESS length AND NOT fault)
        math(EXPR digit "(${at} + ${next}) * 2")
        string(SUBSTRING "${hex}" ${digit} 2 byte_hex)
        if(byte_hex STREQUAL "")
          set(byte 0)
        else()
          math(EXPR byte "0x${byte_hex}")
        endif()
        if(byte LESS 128 OR byte GREATER_EQUAL 192)
          set(fault "a UTF-8 character cut short")
        endif()
        math(EXPR point "(${point} << 6) | (${byte} & 63)")
        math(EXPR next "${next} + 1")
      endwhile()
      if(fault)
        # cut short: nothing more to tell
      elseif(point LESS least)
        set(fault "an overlong UTF-8 form")
      elseif(point GREATER_EQUAL 55296 AND point LESS 57344)
        set(fault "a UTF-16 surrogate in UTF-8")
      elseif(point GREATER 1114111)
        set(fault "a code point beyond U+10FFFF")
      endif()
      if(fault)
        set(length 1)  # only the lead byte is taken; what follows is read anew
      endif()
    endif()
    if(NOT fault AND (point LESS 32 OR (point GREATER_EQUAL 127 AND point LESS 160)))
      set(fault "a control character")
    endif()
    math(EXPR position "${at} + 1")
    if(fault AND NOT problem)
      set(problem "${fault} at byte ${position}")
    endif()

    string(SUBSTRING "${text}" ${at} ${length} raw)
    math(EXPR digits "${length} * 2")
    string(SUBSTRING "${hex}" ${start} ${digits} raw_hex)
    if(fault)
      string(REGEX REPLACE "(..)" "\\\\x\\1" raw "${raw_hex}")
    endif()
    string(APPEND shown "${raw}")
    if(NOT fault)
      if(point GREATER_EQUAL 65536)
        # A surrogate pair: the high ten bits, then the low ten.
        math(EXPR high "0xD800 + ((${point} - 65536) >> 10)" OUTPUT_FORMAT HEXADECIMAL)
        math(EXPR low "0xDC00 + ((${point} - 65536) & 1023)" OUTPUT_FORMAT HEXADECIMAL)
        set(point_units ${high} ${low})
      else()
        math(EXPR point_units "${point}" OUTPUT_FORMAT HEXADECIMAL)
      endif()
      foreach(unit IN LISTS point_units)
        string(REPLACE "0x" "\\x" unit "${unit}")
        string(APPEND units "${unit}")
        math(EXPR count "${count} + 1")
      endforeach()
    endif()
    math(EXPR at "${at} + ${length}")
  endwhile()
  foreach(result IN ITEMS units count shown problem)
    set(${out}_${result} "${${result}}" PARENT_SCOPE)
  endforeach()
endfunction()

# Sets <out> to what is wrong with SERVER or COMPANY, as a message that names the setting, shows
# the value and states the rule, or to nothing; and <out>_SERVER_UNITS and <out>_COMPANY_UNITS.
function(_zelmora_site_problem server company out)
  _zelmora_decode_utf8("${server}" server)
  string(LENGTH "${server}" length)
  string(REPEAT "[^.]" 64 long_label)
  # A name of numbers alone is an IPv4 address to Windows, which reads 010 as octal and 0x10 as
  # hexadecimal and takes three numbers or one as a whole address: only the plain form is taken.
  set(number "(0[xX][0-9A-Fa-f]*|[0-9]+)")
  set(octet "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9][0-9]|[0-9])")
  set(problem "")
  if(length EQUAL 0)
    set(problem "it is empty")
  elseif(NOT server MATCHES "^[A-Za-z0-9_.-]+$")
    set(problem "it holds a character other than a letter, a digit, a hyphen, an underscore or a dot")
  elseif(length GREATER 253)
    set(problem "it is ${length} characters long")
  elseif(server MATCHES "^\\.|\\.\\.|\\.$")
    set(problem "it has an empty label")
  elseif(server MATCHES "${long_label}")
    set(problem "it has a label longer than 63 characters")
  elseif(server MATCHES "^-|-\\.|\\.-|-$")
    set(problem "it has a label that starts or ends with a hyphen")
  elseif(server MATCHES "^(${number}\\.)*${number}$"
         AND NOT server MATCHES "^${octet}\\.${octet}\\.${octet}\\.${octet}$")
    set(problem "its labels are all numbers, but not four of 0 to 255 without leading zeros")
  endif()
  if(problem)
    set(${out} "ZELMORA_FILE_SERVER is \"${server_shown}\": ${problem}. The file server's host \
name must be labels separated by dots, each of 1 to 63 letters, digits, hyphens or underscores \
and neither starting nor ending with a hyphen, 253 characters at most in all: a NetBIOS name, a \
DNS name or an IPv4 address (four numbers of 0 to 255, written without leading zeros)."
        PARENT_SCOPE)
    return()
  endif()

  _zelmora_decode_utf8("${company}" company)
  set(problem "${company_problem}")
  if(problem)
  elseif(company_count EQUAL 0)
    set(problem "it is empty")
  elseif(company_count GREATER 255)
    set(problem "it is ${company_count} UTF-16 units long")
  endif()
  if(problem)
    set(${out} "ZELMORA_COMPANY is \"${company_shown}\": ${problem}. The company text must be \
UTF-8 of 1 to 255 UTF-16 units, without control characters (U+0000 to U+001F and U+007F to \
U+009F); quotes and every Hebrew character are allowed." PARENT_SCOPE)
    return()
  endif()
  set(${out} "" PARENT_SCOPE)
  set(${out}_SERVER_UNITS "${server_units}" PARENT_SCOPE)
  set(${out}_COMPANY_UNITS "${company_units}" PARENT_SCOPE)
endfunction()

# Fails the configure when SERVER or COMPANY breaks its rule; otherwise sets <out>_SERVER_UNITS
# and <out>_COMPANY_UNITS.
function(zelmora_check_site server company out)
  _zelmora_site_problem("${server}" "${company}" problem)
  if(problem)
    message(FATAL_ERROR "${problem}")
  endif()
  set(${out}_SERVER_UNITS "${problem_SERVER_UNITS}" PARENT_SCOPE)
  set(${out}_COMPANY_UNITS "${problem_COMPANY_UNITS}" PARENT_SCOPE)
endfunction()

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

# Checks the two texts and writes, into FOLDER, SiteTexts.h for the installer's layout (which
# takes FOLDER as an include directory), and settings.txt, the two texts as given, one a line,
# for the tests. Nothing in either depends on where the build is, so that the tool does not.
function(zelmora_site_texts folder server company)
  zelmora_check_site("${server}" "${company}" site)
  configure_file(${PROJECT_SOURCE_DIR}/installer/SiteTexts.h.in ${folder}/SiteTexts.h @ONLY)
  file(WRITE ${folder}/settings.txt "${server}\n${company}\n")
endfunction()

# Checks a list of sites, the file LIST, before any of them is built: UTF-8 text, one site a
# line, its server, a tab and its company text; blank lines and lines starting with "#" are
# skipped; LF or CR LF line ends. Each site is held to the rules above, and no server may be
# listed twice (in any case of its letters, as Windows names are). Every refused line is shown,
# naming its number, and the check fails. Otherwise, with an OUT folder, each site gets
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
      _zelmora_decode_utf8("${line}" line)
      set(problem "\"${line_shown}\" has no tab: a site is its server, a tab and its company text.")
    else()
      string(SUBSTRING "${line}" 0 ${tab} server)
      math(EXPR tab "${tab} + 1")
      string(SUBSTRING "${line}" ${tab} -1 company)
      _zelmora_site_problem("${server}" "${company}" problem)
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

# As a script: with ZELMORA_SITES, checks that list (ZELMORA_SITES_OUT is its OUT folder);
# otherwise checks the two settings and prints the site's file name.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED ZELMORA_SITES)
  zelmora_check_site_list("${ZELMORA_SITES}" "${ZELMORA_SITES_OUT}")
elseif(CMAKE_SCRIPT_MODE_FILE)
  zelmora_check_site("${ZELMORA_FILE_SERVER}" "${ZELMORA_COMPANY}" site)
  zelmora_site_file_name("${ZELMORA_FILE_SERVER}" name)
  message(STATUS "file name: ${name}")
else()
  zelmora_site_texts(${PROJECT_BINARY_DIR}/site "${ZELMORA_FILE_SERVER}" "${ZELMORA_COMPANY}")
endif()
