// The process's command line on POSIX: main's arguments, quoted as a Windows command line, so
// that the one parser of platform/common serves every build.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/NativePlatform.h"
#include "platform/common/CommandLine.h"
#include "platform/common/Utf.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

std::u16string& CommandLineText() {
  static std::u16string text;
  return text;
}
bool argumentsGiven = false;

std::u16string Join(const std::vector<std::string>& arguments) {
  std::vector<std::u16string> rest;
  for (std::size_t i = 1; i < arguments.size(); ++i) rest.push_back(Utf8ToUtf16(arguments[i]));
  return JoinCommandLine(arguments.empty() ? u"" : Utf8ToUtf16(arguments[0]), rest);
}

// Without SetNativeArguments (a test's own main), the system's record of them where it keeps one.
std::vector<std::string> SystemArguments() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<std::string> arguments;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find('\0', at);
    arguments.push_back(bytes.substr(at, end - at));
    at = end == std::string::npos ? bytes.size() : end + 1;
  }
  return arguments;
}

}  // namespace

void SetNativeArguments(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  CommandLineText() = Join(arguments);
  argumentsGiven = true;
}

const char16_t* PosixPlatform::GetCommandLineW() {
  if (!argumentsGiven) {
    CommandLineText() = Join(SystemArguments());
    argumentsGiven = true;
  }
  return CommandLineText().c_str();
}

}  // namespace zelmora::platform
