// Starts a program as a Windows parent process can and a shell under Wine cannot: with a null
// standard-output handle, or with an environment variable set exactly (empty, or longer than
// Wine takes from the registry), or removed. Ends with the program's exit status.
//   run-child [--null-stdout] [--set NAME=VALUE] [--unset NAME] PROGRAM
#include <windows.h>

#include <string>

namespace {
constexpr int kUsage = 120;
constexpr int kCannotStart = 121;
}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool nullStdout = false;
  int arg = 1;
  for (; arg + 1 < argc; ++arg) {
    const std::wstring option = argv[arg];
    if (option == L"--null-stdout") {
      nullStdout = true;
    } else if (option == L"--set" || option == L"--unset") {
      const std::wstring setting = argv[++arg];
      const auto equals = setting.find(L'=');
      const bool set = option == L"--set";
      if (set == (equals == std::wstring::npos)) return kUsage;
      const std::wstring name = setting.substr(0, equals);
      const std::wstring value = set ? setting.substr(equals + 1) : L"";
      if (!SetEnvironmentVariableW(name.c_str(), set ? value.c_str() : nullptr) && set) {
        return kUsage;
      }
    } else {
      break;
    }
  }
  if (arg + 1 != argc) return kUsage;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = nullStdout ? nullptr : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[arg], nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return kCannotStart;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = kCannotStart;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
