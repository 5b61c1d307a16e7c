// A whole file written anew, for the log and the reports.
#pragma once

#include <string>
#include <string_view>

namespace zelmora::launcher {

// Creates the file at path (or empties it) and writes bytes to it. False when either fails; a
// file that could not be written whole may be left behind.
bool WriteWholeFile(const std::u16string& path, std::string_view bytes);

}  // namespace zelmora::launcher
