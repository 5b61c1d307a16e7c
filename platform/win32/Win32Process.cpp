// Starting a program with its output in a pipe, waiting for it and ending it, on Windows.
#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"

namespace zelmora::platform {
namespace {

constexpr ::DWORD kPipeCapacity = 64 * 1024;

// Keeps the error of the failed call while the clean-up after it makes calls of its own.
class KeptError {
 public:
  KeptError() : error_(::GetLastError()) {}
  ~KeptError() { ::SetLastError(error_); }
  KeptError(const KeptError&) = delete;
  KeptError& operator=(const KeptError&) = delete;

 private:
  ::DWORD error_;
};

// The attribute list that names the only handles a child inherits.
class InheritedHandles {
 public:
  // handles must outlive the list.
  InheritedHandles(::HANDLE* handles, std::size_t count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    list_ = list;
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                     count * sizeof *handles, nullptr, nullptr)) {
      KeptError kept;
      ::DeleteProcThreadAttributeList(list_);
      list_ = nullptr;
    }
  }
  ~InheritedHandles() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

 private:
  std::vector<unsigned char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

BOOL Win32Platform::CreateProcessW(HANDLE, const char16_t* applicationName,
                                   const char16_t* commandLine, HANDLE* output, HANDLE* process) {
  // The held file needs nothing here: it shares no write or delete access, so the name still
  // leads to it.
  if (applicationName == nullptr || commandLine == nullptr || output == nullptr ||
      process == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ::HANDLE readEnd = nullptr;
  ::HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, nullptr, kPipeCapacity)) return 0;
  // Input from the null device, which reads as at its end at once: with no handle at all, a
  // console program may be given its new console's input, and wait on it for ever.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const ::HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, OPEN_EXISTING, 0, nullptr);
  // Only these two are inheritable, and the handle list keeps every other inheritable handle of
  // the process (another thread's, a library's) from the child too.
  BOOL started = input != ToNative(kInvalidHandle) &&
                 ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION info{};
  if (started) {
    ::HANDLE handles[] = {writeEnd, input};
    InheritedHandles inherited(handles, 2);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = writeEnd;
    startup.StartupInfo.hStdError = writeEnd;
    startup.lpAttributeList = inherited.Get();
    // CreateProcessW may write into the command line it is given.
    std::vector<wchar_t> line(Wide(commandLine),
                              Wide(commandLine) + std::char_traits<char16_t>::length(commandLine));
    line.push_back(L'\0');
    // No console at all, so no window: its handles are the pipe and the null device. A console
    // without a window (CREATE_NO_WINDOW) would start a console host process for every run.
    started = inherited.Get() != nullptr &&
              ::CreateProcessW(Wide(applicationName), line.data(), nullptr, nullptr, TRUE,
                               DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                               &startup.StartupInfo, &info);
  }
  KeptError kept;
  // Once the child holds its copies, the parent's go, so that the pipe ends with the child.
  if (input != ToNative(kInvalidHandle)) ::CloseHandle(input);
  ::CloseHandle(writeEnd);
  if (!started) {
    ::CloseHandle(readEnd);
    return 0;
  }
  ::CloseHandle(info.hThread);
  *output = FromNative(readEnd);
  *process = FromNative(info.hProcess);
  return 1;
}

DWORD Win32Platform::WaitForSingleObject(HANDLE process, DWORD milliseconds) {
  return ::WaitForSingleObject(ToNative(process), milliseconds);
}

BOOL Win32Platform::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  DwordParam code(exitCode);
  return ::GetExitCodeProcess(ToNative(process), code.get());
}

BOOL Win32Platform::TerminateProcess(HANDLE process, UINT exitCode) {
  return ::TerminateProcess(ToNative(process), exitCode);
}

const char16_t* Win32Platform::GetCommandLineW() {
  return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

}  // namespace zelmora::platform
