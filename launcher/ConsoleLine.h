// The one line the launcher prints, saying what it did, so that whoever runs it by hand sees it;
// under a route with no console it goes nowhere. A line that cannot be written changes nothing.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace zelmora::launcher {

// What a run came to, as its line tells it.
struct RunSummary {
  platform::UINT status = 0;
  bool skipped = false;  // the record named this build and TEMP: nothing ran
  std::u16string_view identity;
  std::string_view captured;  // what the tool printed, whose first line a failure quotes
};

std::u16string RunLine(const RunSummary& summary);
std::u16string UninstallLine(platform::UINT status);

// Prints the line on standard output.
void PrintLine(std::u16string_view line);
// Prints the line on standard error, for a command line it did not take.
void PrintErrorLine(std::u16string_view line);

}  // namespace zelmora::launcher
