#include "host/ProcessEntry.h"

#include <array>
#include <new>
#include <string_view>

#include "host/Exceptions.h"
#include "host/InOutMessages.h"
#include "host/OutOfMemory.h"
#include "host/TextFormat.h"
#include "installer/InstallationRun.h"
#include "installer/StdOutChannel.h"
#include "platform/Platform.h"

namespace zelmora {

std::int32_t ExitStatus = 0;

namespace {

using platform::Host;

constexpr platform::UINT kReportFormat = 65516;
constexpr std::size_t kFormatCapacity = 256;
constexpr std::size_t kModulePathCapacity = 261;
constexpr std::size_t kModuleNameCapacity = 260;
constexpr std::int32_t kEscapedStartUpFailure = 217;
constexpr std::uintptr_t kImageHeaderSize = 4096;

// The report never needs more: 1024 units at most 4 bytes each in any code page.
constexpr std::size_t kReportByteCapacity = 4 * kReportCapacity;

bool reporterInstalled = false;

// The host services, in the order they start.
struct Service {
  void (*start)();
  void (*finish)();
};
constexpr std::array<Service, 4> kServices = {{
    {[] { StdOut().SetUp(); }, [] { StdOut().Close(); }},
    {&CreateOutOfMemoryInstance, &ReleaseOutOfMemoryInstance},
    {[] { reporterInstalled = true; }, [] { reporterInstalled = false; }},
    {&LoadInOutMessages, &ReleaseInOutMessages},
}};
std::size_t startedServices = 0;

void FinishServices() {
  while (startedServices > 0) kServices[--startedServices].finish();
}

void WriteToStandardStream(platform::DWORD which, const void* bytes, std::size_t size) {
  platform::DWORD written = 0;
  Host().WriteFile(Host().GetStdHandle(which), bytes, static_cast<platform::DWORD>(size), &written,
                   nullptr);
}

// The failure a guard caught, with the failure point it carries. A memory failure of the
// C++ run-time that did not come through the instance is reported as the instance.
struct CaughtFailure {
  std::exception_ptr failure;
  const void* failurePoint = nullptr;
};

CaughtFailure Identify(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& exception) {
    return {failure, exception.FailurePoint()};
  } catch (const std::bad_alloc&) {
    if (OutOfMemoryInstance()) return {OutOfMemoryInstance(), nullptr};
  } catch (...) {
  }
  return {failure, nullptr};
}

std::size_t ModuleFileName(const void* failurePoint, char16_t* name, std::uintptr_t* address) {
  std::array<char16_t, kModulePathCapacity> path{};
  platform::DWORD length = 0;
  platform::MemoryBasicInformation info;
  const auto point = reinterpret_cast<std::uintptr_t>(failurePoint);
  if (Host().VirtualQuery(failurePoint, &info, sizeof info) == sizeof info &&
      info.State == platform::kMemCommit) {
    const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    length = Host().GetModuleFileNameW(static_cast<platform::HMODULE>(base), path.data(),
                                       static_cast<platform::DWORD>(path.size()));
    *address = point - base;
  }
  if (length == 0) {
    length = Host().GetModuleFileNameW(platform::kExecutableModule, path.data(),
                                       static_cast<platform::DWORD>(path.size()));
    *address = failurePoint != nullptr ? point - kImageHeaderSize : 0;
  }
  if (length > path.size() - 1) length = static_cast<platform::DWORD>(path.size() - 1);
  // The name is what follows the last separator; a POSIX path uses slashes.
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] == u'\\' || path[i] == u'/') start = i + 1;
  }
  std::size_t count = 0;
  for (std::size_t i = start; i < length && count < kModuleNameCapacity; ++i)
    name[count++] = path[i];
  return count;
}

}  // namespace

bool FailureReporterInstalled() { return reporterInstalled; }

std::size_t FailureReportText(const std::exception_ptr& failure, const void* failurePoint,
                              char16_t* out) {
  std::array<char16_t, kModuleNameCapacity> moduleName{};
  std::uintptr_t address = 0;
  const std::size_t moduleLength = ModuleFileName(failurePoint, moduleName.data(), &address);

  std::u16string_view className = u"Exception";
  std::u16string_view message;
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& exception) {
    className = exception.ClassName();
    message = exception.Message();
  } catch (...) {
  }
  const std::u16string_view period = !message.empty() && message.back() != u'.' ? u"." : u"";

  std::array<char16_t, kFormatCapacity> format{};
  const std::size_t formatLength = LoadMessage(kReportFormat, format.data(), format.size());
  return FormatText(
      std::u16string_view(format.data(), formatLength),
      {className, std::u16string_view(moduleName.data(), moduleLength), address, message, period},
      out, kReportCapacity);
}

void ReportFailure(const std::exception_ptr& failure, const void* failurePoint) {
  static std::array<char16_t, kReportCapacity> text;
  const std::size_t length = FailureReportText(failure, failurePoint, text.data());

  // What the run printed reaches its destination before the report. If it cannot, there is
  // nobody left to tell but standard error, which is about to get the report anyway.
  StdOut().Flush();
  StdOut().TakePendingIoCode();

  static std::array<char, kReportByteCapacity> bytes;
  const int units = static_cast<int>(length);
  int size = Host().WideCharToMultiByte(platform::kCodePageOem, 0, text.data(), units, nullptr, 0,
                                        nullptr, nullptr);
  if (size > static_cast<int>(bytes.size())) size = static_cast<int>(bytes.size());
  if (size > 0) {
    size = Host().WideCharToMultiByte(platform::kCodePageOem, 0, text.data(), units, bytes.data(),
                                      size, nullptr, nullptr);
  }
  if (size > 0) WriteToStandardStream(platform::kStdErrorHandle, bytes.data(), size);
  WriteToStandardStream(platform::kStdErrorHandle, "\r\n", 2);

  ExitStatus = 1;
  ShutDown();
}

void WriteFallbackLine(std::int32_t number, const void* failurePoint) {
  ExitStatus = number;
  std::array<char, 37> line;
  constexpr std::string_view kTemplate = "Runtime error     at 0000000000000000";
  kTemplate.copy(line.data(), line.size());
  // The number ends at the 17th character and the address at the 37th, each growing leftwards.
  auto value = static_cast<std::uint32_t>(number);
  std::size_t at = 16;
  do {
    line[at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && at-- > 0);
  auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(failurePoint));
  at = 36;
  do {
    line[at] = "0123456789ABCDEF"[address & 0xF];
    address >>= 4;
  } while (address != 0 && at-- > 0);

  if (StdOut().IsOpen() && StdOut().BufferedByteCount() > 0) StdOut().Flush();
  WriteToStandardStream(platform::kStdOutputHandle, line.data(), line.size());
  WriteToStandardStream(platform::kStdOutputHandle, "\r\n", 2);
  ShutDown();
}

void StartUp() {
  try {
    for (const Service& service : kServices) {
      ++startedServices;  // a service that fails to start is finalised too
      service.start();
    }
  } catch (...) {
    FinishServices();
    throw;
  }
}

void ShutDown() {
  FinishServices();
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));
}

void ProcessEntry() {
  // The tool is linked as a console program, so reports and fallback lines always reach the
  // standard streams and no dialog is ever shown.
  try {
    StartUp();
    RunInstallation();
    ShutDown();
  } catch (const platform::ProcessExit&) {
    throw;  // the process is ending already
  } catch (...) {
    const CaughtFailure caught = Identify(std::current_exception());
    if (reporterInstalled) ReportFailure(caught.failure, caught.failurePoint);
    WriteFallbackLine(kEscapedStartUpFailure, caught.failurePoint);
  }
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));  // not reached: each path ends
}

}  // namespace zelmora
