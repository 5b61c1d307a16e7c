#include "launcher/LaunchOptions.h"

#include <vector>

#include "platform/Platform.h"
#include "platform/common/CommandLine.h"

namespace zelmora::launcher {
namespace {

enum class Option { Reports, Uninstall, Usage, Unknown };

char16_t AsciiLower(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool SameName(std::u16string_view name, std::u16string_view lowerCase) {
  if (name.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (AsciiLower(name[i]) != lowerCase[i]) return false;
  }
  return true;
}

Option OptionOf(std::u16string_view argument) {
  if (argument.size() < 2 || (argument.front() != u'/' && argument.front() != u'-')) {
    return Option::Unknown;
  }
  const std::u16string_view name = argument.substr(1);
  if (SameName(name, u"reports")) return Option::Reports;
  if (SameName(name, u"uninstall")) return Option::Uninstall;
  if (name == u"?" || SameName(name, u"help")) return Option::Usage;
  return Option::Unknown;
}

}  // namespace

std::optional<LaunchOptions> ParseOptions(std::span<const std::u16string> arguments,
                                          std::u16string* problem) {
  LaunchOptions options;
  bool uninstall = false;
  bool usage = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& argument = arguments[i];
    const Option option = OptionOf(argument);
    const bool twice = (option == Option::Reports && options.reportsFolder) ||
                       (option == Option::Uninstall && uninstall) ||
                       (option == Option::Usage && usage);
    if (option == Option::Unknown || twice) {
      *problem = (twice ? u"option given twice: " : u"unknown argument: ") + argument;
      return std::nullopt;
    }
    if (option == Option::Reports) {
      // An empty folder is a variable left unset in a logon script, never a folder.
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        *problem = argument + u" needs a folder";
        return std::nullopt;
      }
      options.reportsFolder = arguments[++i];
    }
    uninstall = uninstall || option == Option::Uninstall;
    usage = usage || option == Option::Usage;
  }
  // Asked for the usage, it does nothing else.
  if (usage) {
    options.action = LaunchOptions::Action::Usage;
  } else if (uninstall) {
    options.action = LaunchOptions::Action::Uninstall;
  }
  return options;
}

std::optional<LaunchOptions> ReadOptions(std::u16string* problem) {
  const char16_t* commandLine = platform::System().GetCommandLineW();
  const std::vector<std::u16string> words =
      platform::SplitCommandLine(commandLine != nullptr ? commandLine : u"");
  const std::span<const std::u16string> arguments(words);
  return ParseOptions(arguments.empty() ? arguments : arguments.subspan(1), problem);
}

std::u16string_view UsageLine() {
  return u"Usage: zelmora-launch [/reports FOLDER] | /uninstall | /?  (runs zelmora-setup once "
         u"per user, build and TEMP)";
}

}  // namespace zelmora::launcher
