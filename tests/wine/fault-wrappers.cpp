// Wrapped around three Windows calls of the back-end (ld --wrap) in a test build of the tool:
// with ZELMORA_FAULT_AT set to stops <call>:<n>:<how>, separated by commas, the nth call of
// <call> causes the processor fault <how> (see InjectedFaults.h), as a system library gone wrong
// would. RegSetValueExW is called in the middle of the run, FindResourceW in start-up (the
// string table) and VirtualQuery only while a failure report is made. The shipped tool links
// none of this.
#include <windows.h>

#include <cstdlib>

#include "tests/support/InjectedFaults.h"

namespace {

void BeforeCall(const char* call, long& calls) {
  char how[16];
  if (zelmora::testing::StopsAt(std::getenv("ZELMORA_FAULT_AT"), call, ++calls, how)) {
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
