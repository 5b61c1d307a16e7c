// Checks the parts of the Windows back-end that the programs' own runs do not show from outside:
// the string-table resource against the texts it is built from, the module lookups of the
// failure report, the in/out parameters that the back-end copies across types, and the calls
// that start a program (this one again, as a child told what to do), read a version resource,
// write and delete files, name the account and delete a key tree.
// Run under Wine with USER=tester and the key Software\Quorvane\BackendCheck absent.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/NativePlatform.h"
#include "platform/common/CommandLine.h"
#include "platform/common/Utf.h"

int ReferenceLoadString(unsigned id, char16_t* buffer, int capacity);

namespace {

using namespace zelmora::platform;
// The portable types, not the Windows header's of the same names.
using zelmora::platform::BOOL, zelmora::platform::DWORD, zelmora::platform::HANDLE,
    zelmora::platform::HKEY, zelmora::platform::HMODULE, zelmora::platform::LONG,
    zelmora::platform::UINT;

struct Message {
  UINT id;
  std::u16string_view text;
};

constexpr Message kMessages[] = {
#define MESSAGE(id, text) {id, u"" text},
#include "platform/common/MessageTable.inc"
#undef MESSAGE
};

int failures = 0;

void Expect(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what);
  ++failures;
}

std::u16string ModulePath(HMODULE module) {
  char16_t buffer[261] = {};
  const DWORD length = NativePlatform().GetModuleFileNameW(module, buffer, 261);
  return std::u16string(buffer, length);
}

// The back-end reads the string table itself; user32's LoadStringW is the reference it must
// match, for every id of the table, ids beside them that are not there, and every cut.
void CheckStringTable() {
  Platform& platform = NativePlatform();
  for (const Message& message : kMessages) {
    char16_t buffer[256] = {};
    const int length = platform.LoadStringW(kExecutableModule, message.id, buffer, 256);
    if (std::u16string_view(buffer, length > 0 ? length : 0) != message.text) {
      std::fprintf(stderr, "FAILED: string %u differs from the message table\n", message.id);
      ++failures;
    }
  }
  for (UINT id :
       {1u, 15u, 16u, 65504u, 65515u, 65516u, 65517u, 65524u, 65525u, 65533u, 65534u, 65535u}) {
    for (int capacity : {1, 2, 7, 256}) {
      char16_t ours[256];
      char16_t reference[256];
      std::fill_n(ours, 256, u'#');
      std::fill_n(reference, 256, u'#');
      const int ourLength = platform.LoadStringW(kExecutableModule, id, ours, capacity);
      const int referenceLength = ReferenceLoadString(id, reference, capacity);
      // What LoadStringW leaves in the buffer when it copies nothing is not part of its contract.
      const int compared = referenceLength > 0 ? referenceLength + 1 : 0;
      if (ourLength != referenceLength || !std::equal(ours, ours + compared, reference)) {
        std::fprintf(stderr, "FAILED: string %u, capacity %d: %d units, LoadStringW %d\n", id,
                     capacity, ourLength, referenceLength);
        ++failures;
      }
    }
  }
}

void CheckModuleLookup() {
  const std::u16string path = ModulePath(kExecutableModule);
  const std::u16string_view name = u"\\wine-backend-check.exe";
  Expect(path.size() > name.size() && path.ends_with(name), "executable path names this program");

  // As the failure report does: from a code address to the module that holds it.
  MemoryBasicInformation info;
  const auto code = reinterpret_cast<const void*>(&CheckModuleLookup);
  Expect(NativePlatform().VirtualQuery(code, &info, sizeof info) == sizeof info,
         "VirtualQuery describes the code");
  Expect(info.State == kMemCommit, "code is committed memory");
  const auto base = static_cast<HMODULE>(reinterpret_cast<std::uintptr_t>(info.AllocationBase));
  Expect(ModulePath(base) == path, "allocation base of the code is the executable");
}

void CheckCopiedParameters() {
  Platform& platform = NativePlatform();
  char16_t name[256] = {};
  DWORD size = 256;
  Expect(platform.GetUserNameW(name, &size) != 0, "GetUserNameW succeeds");
  Expect(std::u16string_view(name) == u"tester" && size == 7, "user name and its count");

  const char16_t* path = u"Software\\Quorvane\\BackendCheck";
  for (const DWORD expected : {kRegCreatedNewKey, kRegOpenedExistingKey}) {
    HKEY key = kNoKey;
    DWORD disposition = 0;
    Expect(platform.RegCreateKeyExW(kHkeyCurrentUser, path, 0, nullptr, kRegOptionNonVolatile,
                                    kKeyAllAccess, nullptr, &key, &disposition) == kErrorSuccess,
           "RegCreateKeyExW succeeds");
    Expect(key != kNoKey && disposition == expected, "key handle and disposition");
    platform.RegCloseKey(key);
  }

  const char bytes[] = "";
  DWORD written = 12345;
  Expect(platform.WriteFile(platform.GetStdHandle(kStdErrorHandle), bytes, 0, &written, nullptr) &&
             written == 0,
         "WriteFile reports the bytes written");
}

// The file whose inheritable handle the caller holds while it starts a child.
constexpr std::u16string_view kInheritedFileName = u"backend-check-inherited.tmp";

// What a child started by CheckProcesses does, by its first argument.
int RunChild(const std::u16string& mode, const std::u16string& argument) {
  Platform& platform = NativePlatform();
  const HANDLE out = platform.GetStdHandle(kStdOutputHandle);
  const HANDLE err = platform.GetStdHandle(kStdErrorHandle);
  DWORD written = 0;
  if (mode == u"child-output") {
    platform.WriteFile(out, "out", 3, &written, nullptr);
    platform.WriteFile(err, "err", 3, &written, nullptr);
    return 7;
  }
  if (mode == u"child-sleep") {
    ::Sleep(60000);
    return 0;
  }
  // child-handles: whether the handle named in the argument reached the child, and what its
  // input is.
  const auto handle = reinterpret_cast<::HANDLE>(std::stoull(Utf16ToUtf8(argument)));
  // A handle of the same number may stand for something else here: the file it leads to tells.
  wchar_t path[MAX_PATH] = {};
  const ::DWORD length = ::GetFinalPathNameByHandleW(handle, path, MAX_PATH, 0);
  const bool inherited = length > 0 && length < MAX_PATH &&
                         std::u16string(path, path + length).ends_with(kInheritedFileName);
  char byte = 0;
  ::DWORD read = 1;
  const ::HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  const bool empty = ::ReadFile(input, &byte, 1, &read, nullptr) && read == 0;
  const std::string report = std::string(inherited ? "inherited" : "kept") +
                             (empty ? ", input empty" : ", input not empty");
  platform.WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  return 0;
}

struct Child {
  BOOL started = 0;
  DWORD error = 0;
  HANDLE output = kNoHandle, process = kNoHandle;
};

Child Start(const std::u16string& path, const std::u16string& arguments) {
  Platform& platform = NativePlatform();
  Child child;
  const HANDLE file = platform.CreateFileW(path.c_str(), kGenericRead, kFileShareRead, nullptr,
                                           kOpenExisting, kFileAttributeNormal, kNoHandle);
  Expect(file != kInvalidHandle, "the program file opens");
  const std::u16string line = QuoteArgument(path) + u" " + arguments;
  child.started =
      platform.CreateProcessW(file, path.c_str(), line.c_str(), &child.output, &child.process);
  child.error = child.started ? 0 : platform.GetLastError();
  platform.CloseHandle(file);
  return child;
}

std::string ReadAll(HANDLE output) {
  std::string bytes;
  char buffer[256];
  DWORD count = 0;
  BOOL read = 0;
  while ((read = NativePlatform().ReadFile(output, buffer, sizeof buffer, &count, nullptr)) &&
         count > 0)
    bytes.append(buffer, count);
  Expect(read != 0, "a pipe at its end reads 0 bytes, not a failure");
  return bytes;
}

DWORD ExitCodeOf(const Child& child) {
  DWORD code = 12345;
  Expect(NativePlatform().GetExitCodeProcess(child.process, &code) != 0, "GetExitCodeProcess");
  return code;
}

void Close(const Child& child) {
  for (const HANDLE handle : {child.output, child.process}) NativePlatform().CloseHandle(handle);
}

std::u16string TempFolder() {
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  return std::u16string(folder, folder + std::wcslen(folder));
}

void CheckProcesses() {
  Platform& platform = NativePlatform();
  const std::u16string self = ModulePath(kExecutableModule);

  Child child = Start(self, u"child-output");
  Expect(child.started != 0, "a program starts");
  Expect(platform.WaitForSingleObject(child.process, 30000) == kWaitObject0, "it ends");
  Expect(ExitCodeOf(child) == 7, "its exit status");
  Expect(ReadAll(child.output) == "outerr", "output and error in one pipe");
  Close(child);

  child = Start(self, u"child-sleep");
  Expect(platform.WaitForSingleObject(child.process, 200) == kWaitTimeout, "a wait runs out");
  Expect(ExitCodeOf(child) == STILL_ACTIVE, "a program still running");
  Expect(platform.TerminateProcess(child.process, 26) != 0, "TerminateProcess");
  Expect(platform.WaitForSingleObject(child.process, kInfinite) == kWaitObject0, "ended");
  Expect(ExitCodeOf(child) == 26, "the status TerminateProcess gave");
  Close(child);

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const std::u16string heldPath = TempFolder() + std::u16string(kInheritedFileName);
  const ::HANDLE held = ::CreateFileW(reinterpret_cast<const wchar_t*>(heldPath.c_str()),
                                      GENERIC_READ | GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  Expect(held != reinterpret_cast<::HANDLE>(~std::uintptr_t{0}), "an inheritable handle");
  child = Start(self, u"child-handles " +
                          Utf8ToUtf16(std::to_string(reinterpret_cast<std::uintptr_t>(held))));
  platform.WaitForSingleObject(child.process, 30000);
  const std::string report = ReadAll(child.output);
  Expect(report.ends_with(", input empty"), "the child's input is at its end at once");
  Expect(report.starts_with("kept"), "no inheritable handle of the caller");
  Close(child);
  ::CloseHandle(held);
}

void CheckProgramFiles() {
  Platform& platform = NativePlatform();
  const std::u16string path = TempFolder() + u"backend-check-not-a-program.exe";
  const HANDLE written = platform.CreateFileW(path.c_str(), kGenericWrite, 0, nullptr,
                                              kCreateAlways, kFileAttributeNormal, kNoHandle);
  DWORD count = 0;
  Expect(written != kInvalidHandle &&
             platform.WriteFile(written, "MZ no program", 13, &count, nullptr) != 0,
         "a file written anew");
  platform.CloseHandle(written);

  const Child child = Start(path, u"");
  Expect(!child.started && child.error == kErrorBadExeFormat, "a file that is no program");
  std::uint8_t block[4096];
  for (const auto& [file, error] :
       {std::pair{path, kErrorBadExeFormat},
        std::pair{ModulePath(kExecutableModule), kErrorResourceTypeNotFound}}) {
    const HANDLE held = platform.CreateFileW(file.c_str(), kGenericRead, kFileShareRead, nullptr,
                                             kOpenExisting, kFileAttributeNormal, kNoHandle);
    DWORD size = sizeof block;
    Expect(platform.GetFileVersionInfoW(held, file.c_str(), &size, block) == 0 &&
               platform.GetLastError() == static_cast<DWORD>(error),
           "no version resource, or no program");
    platform.CloseHandle(held);
  }
  Expect(platform.DeleteFileW(path.c_str()) != 0, "DeleteFileW");
  Expect(platform.DeleteFileW(path.c_str()) == 0 &&
             platform.GetLastError() == static_cast<DWORD>(kErrorFileNotFound),
         "a file deleted is gone");
}

void CheckNames() {
  Platform& platform = NativePlatform();
  char16_t computer[64] = {};
  DWORD size = 64;
  Expect(platform.GetComputerNameW(computer, &size) != 0 && size > 0, "GetComputerNameW");
  char16_t account[128] = {};
  size = 128;
  Expect(platform.GetUserNameExW(kNameSamCompatible, account, &size) != 0, "GetUserNameExW");
  const std::u16string_view name(account, size);
  Expect(name.ends_with(u"\\tester") && name.size() > 7, "the account's domain and name");
  const DWORD needed = size + 1;
  size = needed - 1;
  Expect(platform.GetUserNameExW(kNameSamCompatible, account, &size) == 0 &&
             platform.GetLastError() == static_cast<DWORD>(kErrorMoreData) && size == needed,
         "an account name that does not fit");
  const std::vector<std::u16string> arguments = SplitCommandLine(platform.GetCommandLineW());
  Expect(arguments.size() == 1 && arguments[0].ends_with(u"wine-backend-check.exe"),
         "the command line names this program");
}

void CheckKeyTreeDeleted() {
  Platform& platform = NativePlatform();
  const char16_t* path = u"Software\\Quorvane\\BackendCheck";
  Expect(platform.RegDeleteTreeW(kHkeyCurrentUser, path) == kErrorSuccess, "RegDeleteTreeW");
  Expect(platform.RegDeleteTreeW(kHkeyCurrentUser, path) == kErrorFileNotFound, "it is gone");
  Expect(platform.RegDeleteTreeW(kHkeyCurrentUser, u"") == kErrorInvalidParameter,
         "a whole hive is never deleted");
}

}  // namespace

int main() {
  const std::vector<std::u16string> arguments =
      SplitCommandLine(NativePlatform().GetCommandLineW());
  if (arguments.size() > 1)
    return RunChild(arguments[1], arguments.size() > 2 ? arguments[2] : u"");
  CheckStringTable();
  CheckModuleLookup();
  CheckCopiedParameters();
  CheckProcesses();
  CheckProgramFiles();
  CheckNames();
  CheckKeyTreeDeleted();
  return failures == 0 ? 0 : 1;
}
