// Reads an executable's release facts the way Windows does and prints them, one per line, for
// the suite to compare:
//   release-check version EXE    the version resource, through version.dll
//   release-check manifest EXE   the run level and the supported systems of the activation
//                                context that Windows builds from the manifest
// Exit status 0 when every fact could be read.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 2;
constexpr int kUnreadable = 3;

int PrintVersion(const wchar_t* exe) {
  DWORD ignored = 0;
  std::vector<unsigned char> info(GetFileVersionInfoSizeW(exe, &ignored));
  VS_FIXEDFILEINFO* fixed = nullptr;
  WORD* translation = nullptr;
  UINT length = 0;
  if (info.empty() || !GetFileVersionInfoW(exe, 0, info.size(), info.data()) ||
      !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof *fixed ||
      !VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < 2 * sizeof(WORD)) {
    return kUnreadable;
  }
  std::wprintf(L"fixed FileVersion=%u.%u.%u.%u ProductVersion=%u.%u.%u.%u\n",
               HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
               HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
               HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  std::wprintf(L"fixed FileFlags=%lx FileOS=%lx FileType=%lx\n",
               fixed->dwFileFlags & fixed->dwFileFlagsMask, fixed->dwFileOS, fixed->dwFileType);

  wchar_t block[9];
  std::swprintf(block, 9, L"%04x%04x", translation[0], translation[1]);
  std::wprintf(L"translation %ls\n", block);
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                              L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
    wchar_t* value = nullptr;
    const bool found =
        VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length);
    std::wprintf(L"%ls=%ls\n", name, found ? value : L"(missing)");
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
  unsigned char compatibility[1024] = {};
  SIZE_T written = 0;
  if (!QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                    sizeof runLevel, nullptr) ||
      !QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, compatibility,
                    sizeof compatibility, &written)) {
    return kUnreadable;
  }
  const wchar_t* levels[] = {L"unspecified", L"asInvoker", L"highestAvailable",
                             L"requireAdministrator"};
  std::wprintf(L"run level=%ls uiAccess=%lu\n",
               runLevel.RunLevel < 4 ? levels[runLevel.RunLevel] : L"unknown", runLevel.UiAccess);

  // A count, then the elements: an identifier and a type, and in later versions of Windows a
  // tested version too (padded to 8 bytes). The byte count tells which.
  DWORD count = 0;
  std::memcpy(&count, compatibility, sizeof count);
  const bool longer = count > 0 && written == 8 + count * 32;
  if (!longer && written != 4 + count * 20) return kUnreadable;
  for (DWORD i = 0; i < count; ++i) {
    const unsigned char* element = compatibility + (longer ? 8 + i * 32 : 4 + i * 20);
    GUID id;
    DWORD type = 0;
    std::memcpy(&id, element, sizeof id);
    std::memcpy(&type, element + sizeof id, sizeof type);
    wchar_t text[40];
    if (type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS && StringFromGUID2(id, text, 40) > 0) {
      std::wprintf(L"supportedOS %ls\n", text);
    }
  }
  ReleaseActCtx(context);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return kUsage;
  const std::wstring command = argv[1];
  if (command == L"version") return PrintVersion(argv[2]);
  if (command == L"manifest") return PrintManifest(argv[2]);
  return kUsage;
}
