// Creates a volatile key below HKEY_CURRENT_USER. Windows refuses to create a lasting key below
// a volatile one, so this makes the tool's keys impossible to create, as a locked-down
// workstation would.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, argv[1], 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  RegCloseKey(key);
  return 0;
}
