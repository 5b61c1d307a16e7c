#include "platform/common/CommandLine.h"

namespace zelmora::platform {
namespace {

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> arguments;
  std::size_t at = 0;
  std::u16string program;
  if (!line.empty() && line.front() == u'"') {
    const std::size_t close = line.find(u'"', 1);
    program = line.substr(1, close == std::u16string_view::npos ? close : close - 1);
    at = close == std::u16string_view::npos ? line.size() : close + 1;
  } else {
    while (at < line.size() && !IsBlank(line[at])) program.push_back(line[at++]);
  }
  arguments.push_back(std::move(program));

  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size()) break;
    std::u16string argument;
    bool quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
      std::size_t backslashes = 0;
      while (at < line.size() && line[at] == u'\\') {
        ++backslashes;
        ++at;
      }
      if (at < line.size() && line[at] == u'"') {
        argument.append(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          argument.push_back(u'"');
        } else if (quoted && at + 1 < line.size() && line[at + 1] == u'"') {
          argument.push_back(u'"');  // a doubled quote inside quotes, which stay open
          ++at;
        } else {
          quoted = !quoted;
        }
        ++at;
      } else {
        argument.append(backslashes, u'\\');
        if (at < line.size() && (quoted || !IsBlank(line[at]))) argument.push_back(line[at++]);
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::u16string QuoteArgument(std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
    return std::u16string(argument);
  }
  std::u16string quoted(1, u'"');
  std::size_t backslashes = 0;
  for (const char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and the quote escaped.
    quoted.append(unit == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    quoted.push_back(unit);
  }
  // Before the closing quote as well.
  quoted.append(2 * backslashes, u'\\');
  quoted.push_back(u'"');
  return quoted;
}

std::u16string JoinCommandLine(std::u16string_view programName,
                               std::span<const std::u16string> arguments) {
  std::u16string line(1, u'"');
  for (const char16_t unit : programName) {
    if (unit != u'"') line.push_back(unit);
  }
  line.push_back(u'"');
  for (const std::u16string& argument : arguments) {
    line.push_back(u' ');
    line += QuoteArgument(argument);
  }
  return line;
}

}  // namespace zelmora::platform
