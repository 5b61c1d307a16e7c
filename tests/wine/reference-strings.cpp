// user32's own LoadStringW on this program's string table: the reference for the back-end's
// reading of it. Kept apart because the Windows headers and the portable types share names.
#include <windows.h>

int ReferenceLoadString(unsigned id, char16_t* buffer, int capacity) {
  return ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(buffer),
                       capacity);
}
