// Checks the parts of the Windows back-end that the tool's own runs do not show from outside:
// the string-table resource against the texts it is built from, the module lookups of the
// failure report, and the in/out parameters that the back-end copies across types.
// Run under Wine with USER=tester and the key Software\Quorvane\BackendCheck absent.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/NativePlatform.h"

int ReferenceLoadString(unsigned id, char16_t* buffer, int capacity);

namespace {

using namespace zelmora::platform;

struct Message {
  UINT id;
  std::u16string_view text;
};

constexpr Message kMessages[] = {
#define MESSAGE(id, text) {id, u"" text},
#include "platform/common/MessageTable.inc"
#undef MESSAGE
};

int failures = 0;

void Expect(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAILED: %s\n", what);
  ++failures;
}

std::u16string ModulePath(HMODULE module) {
  char16_t buffer[261] = {};
  const DWORD length = NativePlatform().GetModuleFileNameW(module, buffer, 261);
  return std::u16string(buffer, length);
}

// The back-end reads the string table itself; user32's LoadStringW is the reference it must
// match, for every id of the table, ids beside them that are not there, and every cut.
void CheckStringTable() {
  Platform& platform = NativePlatform();
  for (const Message& message : kMessages) {
    char16_t buffer[256] = {};
    const int length = platform.LoadStringW(kExecutableModule, message.id, buffer, 256);
    if (std::u16string_view(buffer, length > 0 ? length : 0) != message.text) {
      std::fprintf(stderr, "FAILED: string %u differs from the message table\n", message.id);
      ++failures;
    }
  }
  for (UINT id :
       {1u, 15u, 16u, 65504u, 65515u, 65516u, 65517u, 65524u, 65525u, 65533u, 65534u, 65535u}) {
    for (int capacity : {1, 2, 7, 256}) {
      char16_t ours[256];
      char16_t reference[256];
      std::fill_n(ours, 256, u'#');
      std::fill_n(reference, 256, u'#');
      const int ourLength = platform.LoadStringW(kExecutableModule, id, ours, capacity);
      const int referenceLength = ReferenceLoadString(id, reference, capacity);
      // What LoadStringW leaves in the buffer when it copies nothing is not part of its contract.
      const int compared = referenceLength > 0 ? referenceLength + 1 : 0;
      if (ourLength != referenceLength || !std::equal(ours, ours + compared, reference)) {
        std::fprintf(stderr, "FAILED: string %u, capacity %d: %d units, LoadStringW %d\n", id,
                     capacity, ourLength, referenceLength);
        ++failures;
      }
    }
  }
}

void CheckModuleLookup() {
  const std::u16string path = ModulePath(kExecutableModule);
  const std::u16string_view name = u"\\wine-backend-check.exe";
  Expect(path.size() > name.size() && path.ends_with(name), "executable path names this program");

  // As the failure report does: from a code address to the module that holds it.
  MemoryBasicInformation info;
  const auto code = reinterpret_cast<const void*>(&CheckModuleLookup);
  Expect(NativePlatform().VirtualQuery(code, &info, sizeof info) == sizeof info,
         "VirtualQuery describes the code");
  Expect(info.State == kMemCommit, "code is committed memory");
  const auto base = static_cast<HMODULE>(reinterpret_cast<std::uintptr_t>(info.AllocationBase));
  Expect(ModulePath(base) == path, "allocation base of the code is the executable");
}

void CheckCopiedParameters() {
  Platform& platform = NativePlatform();
  char16_t name[256] = {};
  DWORD size = 256;
  Expect(platform.GetUserNameW(name, &size) != 0, "GetUserNameW succeeds");
  Expect(std::u16string_view(name) == u"tester" && size == 7, "user name and its count");

  const char16_t* path = u"Software\\Quorvane\\BackendCheck";
  for (const DWORD expected : {kRegCreatedNewKey, kRegOpenedExistingKey}) {
    HKEY key = kNoKey;
    DWORD disposition = 0;
    Expect(platform.RegCreateKeyExW(kHkeyCurrentUser, path, 0, nullptr, kRegOptionNonVolatile,
                                    kKeyAllAccess, nullptr, &key, &disposition) == kErrorSuccess,
           "RegCreateKeyExW succeeds");
    Expect(key != kNoKey && disposition == expected, "key handle and disposition");
    platform.RegCloseKey(key);
  }

  const char bytes[] = "";
  DWORD written = 12345;
  Expect(platform.WriteFile(platform.GetStdHandle(kStdErrorHandle), bytes, 0, &written, nullptr) &&
             written == 0,
         "WriteFile reports the bytes written");
}

}  // namespace

int main() {
  CheckStringTable();
  CheckModuleLookup();
  CheckCopiedParameters();
  return failures == 0 ? 0 : 1;
}
