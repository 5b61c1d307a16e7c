// The two ways an escaped failure is told: the report on standard error (status 1) and, when no
// reporter is installed yet or any more, the fallback line on standard output (status 217).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

namespace zelmora {

// Writes the report of an escaped failure to standard error and ends the process with status 1.
[[noreturn]] void ReportFailure(const std::exception_ptr& failure, const void* failurePoint);

// The report's text, at most kReportCapacity units, into out; returns its length.
constexpr std::size_t kReportCapacity = 1024;
std::size_t FailureReportText(const std::exception_ptr& failure, const void* failurePoint,
                              char16_t* out);

// Writes "Runtime error <number> at <address>" to standard output and ends the process with
// that number as its status.
[[noreturn]] void WriteFallbackLine(std::int32_t number, const void* failurePoint);

}  // namespace zelmora
