// The site's texts, fixed when a program is built: declared here, defined by the one site library
// that the program links (cmake/SiteLibrary.cmake makes one for given settings, this build's from
// ZELMORA_FILE_SERVER and ZELMORA_COMPANY), so that another site's program differs from this
// build's only by that library.
#pragma once

#include <string_view>

namespace zelmora::site {

// The central file and application server's host name.
extern const std::u16string_view kFileServerName;

extern const std::u16string_view kCompanyText;

}  // namespace zelmora::site
