#include "entry/FailureReport.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "entry/Lifecycle.h"
#include "platform/Platform.h"
#include "registry/Exceptions.h"
#include "registry/MessageTexts.h"
#include "registry/TextFormat.h"

namespace zelmora {
namespace {

using platform::System;

constexpr platform::UINT kReportFormat = 65516;
constexpr std::size_t kFormatCapacity = 256;
constexpr std::size_t kModulePathCapacity = 261;
constexpr std::size_t kModuleNameCapacity = 260;
constexpr std::uintptr_t kImageHeaderSize = 4096;

// The report never needs more: 1024 units at most 4 bytes each in any code page.
constexpr std::size_t kReportByteCapacity = 4 * kReportCapacity;

// The report is built in fixed buffers, never on the heap: memory may be exhausted, and after a
// processor fault the heap may be what broke.
std::array<char16_t, kReportCapacity> reportText;
std::array<char, kReportByteCapacity> reportBytes;

// The failure class a processor fault is reported as, and its message. No object of these
// classes is ever made: a fault is told where it strikes, since unwinding from it is unsafe.
struct FaultClass {
  std::u16string_view name;
  platform::UINT message;
};

FaultClass FaultClassOf(platform::FaultKind kind) {
  using enum platform::FaultKind;
  switch (kind) {
    case InvalidRead:
      return {u"EAccessViolation", 65517};
    case InvalidWrite:
      return {u"EAccessViolation", 65518};
    case InvalidAccess:
      break;
    case DivisionByZero:
      return {u"EDivisionByZero", 65520};
    case IntegerOverflow:
      return {u"EIntegerOverflow", 65521};
    case FloatingPoint:
      return {u"EFloatingPointFault", 65522};
    case StackOverflow:
      return {u"EStackOverflow", 65523};
    case IllegalInstruction:
      return {u"EIllegalInstruction", 65524};
  }
  return {u"EAccessViolation", 65519};
}

void WriteToStandardStream(platform::DWORD which, const void* bytes, std::size_t size) {
  platform::DWORD written = 0;
  System().WriteFile(System().GetStdHandle(which), bytes, static_cast<platform::DWORD>(size),
                     &written, nullptr);
}

std::size_t ModuleFileName(const void* failurePoint, char16_t* name, std::uintptr_t* address) {
  std::array<char16_t, kModulePathCapacity> path{};
  platform::DWORD length = 0;
  platform::MemoryBasicInformation info;
  const auto point = reinterpret_cast<std::uintptr_t>(failurePoint);
  if (System().VirtualQuery(failurePoint, &info, sizeof info) == sizeof info &&
      info.State == platform::kMemCommit) {
    const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    length = System().GetModuleFileNameW(static_cast<platform::HMODULE>(base), path.data(),
                                         static_cast<platform::DWORD>(path.size()));
    *address = point - base;
  }
  if (length == 0) {
    length = System().GetModuleFileNameW(platform::kExecutableModule, path.data(),
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

// The report of a failure of that class, with that message, at that failure point: for escaped
// failures and processor faults alike. Allocates nothing.
std::size_t ReportText(std::u16string_view className, std::u16string_view message,
                       const void* failurePoint, char16_t* out) {
  std::array<char16_t, kModuleNameCapacity> moduleName{};
  std::uintptr_t address = 0;
  const std::size_t moduleLength = ModuleFileName(failurePoint, moduleName.data(), &address);
  const std::u16string_view period = !message.empty() && message.back() != u'.' ? u"." : u"";

  std::array<char16_t, kFormatCapacity> format{};
  const std::size_t formatLength = LoadMessage(kReportFormat, format.data(), format.size());
  return FormatText(
      std::u16string_view(format.data(), formatLength),
      {className, std::u16string_view(moduleName.data(), moduleLength), address, message, period},
      out, kReportCapacity);
}

// Writes the report to standard error after what the run printed.
void WriteReport(std::size_t length) {
  // What the run printed reaches its destination before the report. If it cannot, there is
  // nobody left to tell but standard error, which is about to get the report anyway.
  Channel().Flush();
  Channel().TakePendingIoCode();

  const int units = static_cast<int>(length);
  int size = System().WideCharToMultiByte(platform::kCodePageOem, 0, reportText.data(), units,
                                          nullptr, 0, nullptr, nullptr);
  if (size > static_cast<int>(reportBytes.size())) size = static_cast<int>(reportBytes.size());
  if (size > 0) {
    size = System().WideCharToMultiByte(platform::kCodePageOem, 0, reportText.data(), units,
                                        reportBytes.data(), size, nullptr, nullptr);
  }
  if (size > 0) WriteToStandardStream(platform::kStdErrorHandle, reportBytes.data(), size);
  WriteToStandardStream(platform::kStdErrorHandle, "\r\n", 2);
}

[[noreturn]] void End(Ending ending) {
  if (ending == Ending::ShutDown) ShutDown();
  platform::EndProcess(static_cast<platform::UINT>(ExitStatus));
}

}  // namespace

std::size_t FailureReportText(const std::exception_ptr& failure, const void* failurePoint,
                              char16_t* out) {
  std::u16string_view className = u"Exception";
  std::u16string_view message;
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& exception) {
    className = exception.ClassName();
    message = exception.Message();
  } catch (...) {
  }
  return ReportText(className, message, failurePoint, out);
}

std::size_t FaultReportText(const platform::ProcessorFault& fault, char16_t* out) {
  const FaultClass faultClass = FaultClassOf(fault.kind);
  std::array<char16_t, kFormatCapacity> text{};
  const std::size_t textLength = LoadMessage(faultClass.message, text.data(), text.size());
  std::array<char16_t, kFormatCapacity> message{};
  const std::size_t messageLength = FormatText(std::u16string_view(text.data(), textLength),
                                               {reinterpret_cast<std::uintptr_t>(fault.accessed)},
                                               message.data(), message.size());
  return ReportText(faultClass.name, std::u16string_view(message.data(), messageLength),
                    fault.instruction, out);
}

// The status is set before the telling: a fault in it ends the process with that status.
void ReportFailure(const std::exception_ptr& failure, const void* failurePoint) {
  ExitStatus = Statuses().report;
  WriteReport(FailureReportText(failure, failurePoint, reportText.data()));
  End(Ending::ShutDown);
}

void ReportProcessorFault(const platform::ProcessorFault& fault) {
  ExitStatus = Statuses().report;
  WriteReport(FaultReportText(fault, reportText.data()));
  End(Ending::AtOnce);
}

void WriteFallbackLine(std::int32_t number, const void* failurePoint, Ending ending) {
  ExitStatus = number;
  constexpr std::string_view kTemplate = "Runtime error     at 0000000000000000";
  std::array<char, kTemplate.size()> line;
  kTemplate.copy(line.data(), line.size());
  // The number ends at the 17th character, growing leftwards; the address fills the last 16.
  std::array<char16_t, 16> digits;
  const std::size_t count = FormatText(u"%d", {number}, digits.data(), digits.size());
  for (std::size_t i = 0; i < count && i < 17; ++i)
    line[16 - i] = static_cast<char>(digits[count - 1 - i]);
  FormatText(u"%p", {reinterpret_cast<std::uintptr_t>(failurePoint)}, digits.data(), digits.size());
  std::copy(digits.begin(), digits.end(), line.end() - digits.size());

  if (Channel().IsOpen() && Channel().BufferedByteCount() > 0) Channel().Flush();
  WriteToStandardStream(platform::kStdOutputHandle, line.data(), line.size());
  WriteToStandardStream(platform::kStdOutputHandle, "\r\n", 2);
  End(ending);
}

}  // namespace zelmora
