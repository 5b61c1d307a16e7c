// Wrapped around three Windows calls of the back-end (ld --wrap) in a test build of the tool:
// with ZELMORA_FAULT_AT set to stops <call>:<n>:<how>, separated by commas, the nth call of
// <call> causes the processor fault <how> (see InjectedFaults.h), as a system library gone wrong
// would. RegSetValueExW is called in the middle of the run, FindResourceW in start-up (the
// string table) and VirtualQuery only while a failure report is made. The shipped tool links
// none of this.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/InjectedFaults.h"

// The native call that raises an exception as the processor would: the record's address is the
// caller's, where RaiseException would give its own.
extern "C" __declspec(dllimport) VOID NTAPI RtlRaiseException(PEXCEPTION_RECORD record);

namespace {

// The faults that need a page of their own, at 0x40000000 so that the report's text is known:
// "readonly", a write to a read-only page, and "execute", a call into data, which Windows tells
// apart as an access of kind 8. A page that cannot be had leaves the call unharmed.
void CausePageFault(const char* how) {
  const bool execute = std::strcmp(how, "execute") == 0;
  if (!execute && std::strcmp(how, "readonly") != 0) return;
  auto* page = static_cast<volatile unsigned char*>(
      VirtualAlloc(reinterpret_cast<void*>(0x40000000), 4096, MEM_RESERVE | MEM_COMMIT,
                   execute ? PAGE_READWRITE : PAGE_READONLY));
  if (page == nullptr) return;
  if (!execute) {
    *page = 1;
    return;
  }
  *page = 0xC3;  // a return: should the data run after all, the call comes back
  reinterpret_cast<void (*)()>(const_cast<unsigned char*>(page))();
}

// "overflow": the integer-overflow exception, which Windows raises for the smallest integer
// divided by -1 and Wine, which sees only the processor's division fault, reports as a division
// by zero. Raised here as Windows would, at this module's own address.
void CauseIntegerOverflow(const char* how) {
  if (std::strcmp(how, "overflow") != 0) return;
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_INT_OVERFLOW;
  RtlRaiseException(&record);
}

void BeforeCall(const char* call, long& calls) {
  char how[16];
  if (zelmora::testing::StopsAt(std::getenv("ZELMORA_FAULT_AT"), call, ++calls, how)) {
    CausePageFault(how);
    CauseIntegerOverflow(how);
    zelmora::testing::CauseFault(how);
  }
}

long valueWrites = 0;
long resourceLookups = 0;
long memoryQueries = 0;

}  // namespace

extern "C" {

extern decltype(&::RegSetValueExW) __real___imp_RegSetValueExW;
extern decltype(&::FindResourceW) __real___imp_FindResourceW;
extern decltype(&::VirtualQuery) __real___imp_VirtualQuery;

LSTATUS WINAPI FaultingRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                      const BYTE* data, DWORD size) {
  BeforeCall("RegSetValueExW", valueWrites);
  return __real___imp_RegSetValueExW(key, name, reserved, type, data, size);
}

HRSRC WINAPI FaultingFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  BeforeCall("FindResourceW", resourceLookups);
  return __real___imp_FindResourceW(module, name, type);
}

SIZE_T WINAPI FaultingVirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T size) {
  BeforeCall("VirtualQuery", memoryQueries);
  return __real___imp_VirtualQuery(address, info, size);
}

decltype(&::RegSetValueExW) __wrap___imp_RegSetValueExW = &FaultingRegSetValueExW;
decltype(&::FindResourceW) __wrap___imp_FindResourceW = &FaultingFindResourceW;
decltype(&::VirtualQuery) __wrap___imp_VirtualQuery = &FaultingVirtualQuery;

}  // extern "C"
