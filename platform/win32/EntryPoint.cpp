// The executable's entry point, ahead of the C runtime's own: before the runtime starts, before
// any static initialiser and before main, the process asks Windows to load DLLs from System32
// only. A DLL planted beside the executable (in Downloads, on a share) or in the current folder
// is then never loaded, whoever asks for it by name later. The DLLs the executable imports are
// system DLLs that Windows takes from System32 in any case.
#include <windows.h>

extern "C" int mainCRTStartup();

extern "C" int ZelmoraEntryPoint() {
  // Looked up rather than imported: Windows 7 has the call only with its update KB2533623, and
  // an import it lacks would stop the executable from starting at all. Without it, the current
  // folder at least leaves the search order.
  using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories == nullptr ||
      !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ::SetDllDirectoryW(L"");
  }
  return mainCRTStartup();
}
