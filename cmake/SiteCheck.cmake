# Checks one site's two settings, the file server's host name and the company text, each
# against its rule, so that no build writes a broken path. Inputs: the two texts as given, UTF-8.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/Utf8Decoder.cmake)

# Sets <out> to what is wrong with SERVER or COMPANY, as a message that names the setting, shows
# the value and states the rule, or to nothing; and <out>_SERVER_UNITS and <out>_COMPANY_UNITS.
function(zelmora_site_problem server company out)
  zelmora_decode_utf8("${server}" server)
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
    set(problem
        "it holds a character other than a letter, a digit, a hyphen, an underscore or a dot")
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

  zelmora_decode_utf8("${company}" company)
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
  zelmora_site_problem("${server}" "${company}" problem)
  if(problem)
    message(FATAL_ERROR "${problem}")
  endif()
  set(${out}_SERVER_UNITS "${problem_SERVER_UNITS}" PARENT_SCOPE)
  set(${out}_COMPANY_UNITS "${problem_COMPANY_UNITS}" PARENT_SCOPE)
endfunction()
