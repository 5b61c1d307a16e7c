# Writes a site's texts, once they are checked, where its site library and the tests take them.
# Inputs: the folder to write into, the server and the company text.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/SiteCheck.cmake)

# Checks the two texts and writes, into FOLDER, SiteTexts.cpp, which defines what
# site/SiteTexts.h declares, and settings.txt, the two texts as given, one a line, for the tests.
# Nothing in either depends on where the build is, so that the tool does not.
function(zelmora_site_texts folder server company)
  zelmora_check_site("${server}" "${company}" site)
  configure_file(${PROJECT_SOURCE_DIR}/site/SiteTexts.cpp.in ${folder}/SiteTexts.cpp @ONLY)
  file(WRITE ${folder}/settings.txt "${server}\n${company}\n")
endfunction()
