// Reads an executable's release facts the way Windows does, one per line, for the suite to
// compare:
//   release-check version EXE    the version resource, through version.dll
//   release-check manifest EXE   the manifest's run level and supported systems, from the
//                                activation context Windows builds from it
//   release-check dll-search DLL whether DLL, which lies beside this program, loads by its name
//                                alone (it must not) and by its full path (it must)
// This program starts at the tool's entry point, so the last shows what the tool's process
// allows. Exit status 0 when every fact could be read.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 2;
constexpr int kUnreadable = 3;

std::wstring Hex(const void* bytes, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) {
    wchar_t digits[3];
    std::swprintf(digits, 3, L"%02x", static_cast<const unsigned char*>(bytes)[i]);
    text += digits;
  }
  return text;
}

std::wstring Guid(const GUID& id) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08lx-%04hx-%04hx-%02x%02x-%ls}", id.Data1, id.Data2, id.Data3,
                id.Data4[0], id.Data4[1], Hex(id.Data4 + 2, 6).c_str());
  return text;
}

std::wstring Version(DWORD high, DWORD low) {
  return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
         std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

int PrintVersion(const wchar_t* exe) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
  if (size == 0) return kUnreadable;
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(exe, 0, size, info.data())) return kUnreadable;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE) {
    return kUnreadable;
  }
  std::wprintf(L"fixed FileVersion=%ls\n",
               Version(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());
  std::wprintf(L"fixed ProductVersion=%ls\n",
               Version(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
  std::wprintf(L"fixed FileFlags=%lx FileOS=%lx FileType=%lx\n",
               fixed->dwFileFlags & fixed->dwFileFlagsMask, fixed->dwFileOS, fixed->dwFileType);

  struct Translation {
    WORD language;
    WORD codePage;
  }* translations = nullptr;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof *translations) {
    return kUnreadable;
  }
  for (UINT t = 0; t < length / sizeof *translations; ++t) {
    wchar_t block[9];
    std::swprintf(block, 9, L"%04x%04x", translations[t].language, translations[t].codePage);
    std::wprintf(L"translation %ls\n", block);
    for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
      const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
      wchar_t* value = nullptr;
      if (VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
        std::wprintf(L"%ls=%ls\n", name, value);
      } else {
        std::wprintf(L"%ls missing\n", name);
      }
    }
  }
  return 0;
}

int PrintManifest(const wchar_t* exe) {
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = exe;
  request.lpResourceName = MAKEINTRESOURCEW(1);  // the process manifest
  const HANDLE context = CreateActCtxW(&request);
  if (context == INVALID_HANDLE_VALUE) return kUnreadable;

  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
  SIZE_T written = 0;
  if (!QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                    sizeof runLevel, &written)) {
    return kUnreadable;
  }
  const wchar_t* levels[] = {L"unspecified", L"asInvoker", L"highestAvailable",
                             L"requireAdministrator"};
  std::wprintf(L"run level=%ls uiAccess=%lu\n",
               runLevel.RunLevel < 4 ? levels[runLevel.RunLevel] : L"unknown", runLevel.UiAccess);

  // The elements grew a field in later versions of Windows; their size follows from the byte
  // count, which is the count field, padding, and the elements.
  unsigned char buffer[1024] = {};
  if (!QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, buffer,
                    sizeof buffer, &written)) {
    return kUnreadable;
  }
  DWORD count = 0;
  std::memcpy(&count, buffer, sizeof count);
  std::size_t offset = 4;
  std::size_t element = 20;
  if (count > 0 && written == 8 + count * 32) {
    offset = 8;
    element = 32;
  } else if (written != 4 + count * 20) {
    return kUnreadable;
  }
  for (DWORD i = 0; i < count; ++i) {
    GUID id;
    DWORD type = 0;
    std::memcpy(&id, buffer + offset + i * element, sizeof id);
    std::memcpy(&type, buffer + offset + i * element + sizeof id, sizeof type);
    if (type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS) {
      std::wprintf(L"supportedOS %ls\n", Guid(id).c_str());
    }
  }
  ReleaseActCtx(context);
  return 0;
}

int PrintDllSearch(const wchar_t* dll) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return kUnreadable;
  std::wstring path = self;
  path.resize(path.rfind(L'\\') + 1);
  path += dll;

  const HMODULE byName = LoadLibraryW(dll);
  std::wprintf(L"by name: %ls\n", byName != nullptr ? L"loaded" : L"not loaded");
  const HMODULE byPath = LoadLibraryW(path.c_str());
  std::wprintf(L"by full path: %ls\n", byPath != nullptr ? L"loaded" : L"not loaded");
  return 0;
}

}  // namespace

// A narrow main, as the tool has: the entry point hands over to the runtime's start for it.
int main(int argc, char** argv) {
  if (argc != 3) return kUsage;
  const std::string command = argv[1];
  wchar_t argument[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, argv[2], -1, argument, MAX_PATH) == 0) return kUsage;
  if (command == "version") return PrintVersion(argument);
  if (command == "manifest") return PrintManifest(argument);
  if (command == "dll-search") return PrintDllSearch(argument);
  return kUsage;
}
