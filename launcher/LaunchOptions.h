// The launcher's command line, read by Windows rules on every build: options start with "/" or
// "-", their names in any ASCII case.
//   /reports FOLDER   reports of runs that did not set up go to FOLDER
//   /uninstall        removes the settings and then the record (/reports is then ignored)
//   /?, -?, /help     the usage
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelmora::launcher {

struct LaunchOptions {
  enum class Action { Run, Uninstall, Usage };
  Action action = Action::Run;
  std::optional<std::u16string> reportsFolder;
  bool operator==(const LaunchOptions&) const = default;
};

// The options of these arguments (the program name left out), or none, with the problem in
// *problem, when they are not a command line of the launcher: an unknown option or argument, an
// option given twice, /reports without its folder.
std::optional<LaunchOptions> ParseOptions(std::span<const std::u16string> arguments,
                                          std::u16string* problem);

// The options of the process's own command line.
std::optional<LaunchOptions> ReadOptions(std::u16string* problem);

// The usage, one line.
std::u16string_view UsageLine();

}  // namespace zelmora::launcher
