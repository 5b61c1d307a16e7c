// The two ways an escaped failure is told: the report on standard error and, when no reporter is
// installed yet or any more, the fallback line on standard output; each ends the process with
// the program's status for it (the tool's 1 and 217).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "platform/Platform.h"

namespace zelmora {

// How the process ends once a failure is told: through ShutDown, or at once, without finishing
// the services -- after a processor fault, which may have struck inside one of them and leaves
// only what is safe in a signal handler (finishing them frees memory).
enum class Ending { ShutDown, AtOnce };

// Writes the report of an escaped failure to standard error and ends the process with the
// report's status.
[[noreturn]] void ReportFailure(const std::exception_ptr& failure, const void* failurePoint);

// The same for a processor fault, allocating nothing; the process ends at once.
[[noreturn]] void ReportProcessorFault(const platform::ProcessorFault& fault);

// The report's text, at most kReportCapacity units, into out; returns its length.
constexpr std::size_t kReportCapacity = 1024;
std::size_t FailureReportText(const std::exception_ptr& failure, const void* failurePoint,
                              char16_t* out);
// A processor fault's: its class name and message by its kind, at the faulting instruction.
std::size_t FaultReportText(const platform::ProcessorFault& fault, char16_t* out);

// Writes "Runtime error <number> at <address>" to standard output and ends the process with
// that number as its status.
[[noreturn]] void WriteFallbackLine(std::int32_t number, const void* failurePoint,
                                    Ending ending = Ending::ShutDown);

}  // namespace zelmora
