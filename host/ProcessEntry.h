// How the process starts and ends: the entry sequence, the failure report and the exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

namespace zelmora {

// The status the process ends with: 0 unless a failure report (1) or the fallback line (217)
// set it.
extern std::int32_t ExitStatus;

// The process entry: console mode, then one guard around start-up, the installation run and
// shut-down. Ends the process through the platform and never returns.
[[noreturn]] void ProcessEntry();

// Starts the host services in their fixed order; when one fails, finalises what was started
// (the failing one included) in reverse and lets the failure go on.
void StartUp();
// Finalises the started services in reverse order and ends the process with ExitStatus.
[[noreturn]] void ShutDown();

// Whether the failure reporter is installed (from start-up to shut-down).
bool FailureReporterInstalled();

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
