#include "launcher/FileWrite.h"

#include "platform/Platform.h"

namespace zelmora::launcher {

using platform::DWORD;
using platform::System;

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  const platform::HANDLE file = System().CreateFileW(
      path.c_str(), platform::kGenericWrite, 0, nullptr, platform::kCreateAlways,
      platform::kFileAttributeNormal, platform::kNoHandle);
  if (file == platform::kInvalidHandle) return false;
  bool written = true;
  while (written && !bytes.empty()) {
    DWORD count = 0;
    written = System().WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &count,
                                 nullptr) != 0 &&
              count > 0 && count <= bytes.size();
    if (written) bytes.remove_prefix(count);
  }
  System().CloseHandle(file);
  return written;
}

}  // namespace zelmora::launcher
