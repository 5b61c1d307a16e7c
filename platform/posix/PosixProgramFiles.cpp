// A program file's version resource on POSIX: the block the build put into the program's file,
// found in the bytes of the file the caller holds open, whatever its name now holds.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <vector>

#include "platform/common/VersionInfo.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/PosixPlatform.h"

namespace zelmora::platform {
namespace {

// Larger than any build of the tool, symbols included; a larger file is no program of ours, and
// is not read whole.
constexpr off_t kMaxProgramBytes = 64 * 1024 * 1024;

}  // namespace

BOOL PosixPlatform::GetFileVersionInfoW(HANDLE file, const char16_t*, DWORD* size, void* data) {
  const int fd = DescriptorOfHandle(file);
  struct stat status {};
  if (fd < 0 || size == nullptr || (data == nullptr && *size != 0)) {
    Fail(kErrorInvalidParameter);
    return 0;
  }
  if (fstat(fd, &status) != 0) {
    Fail(Win32ErrorFromErrno(errno));
    return 0;
  }
  if (!S_ISREG(status.st_mode) || status.st_size > kMaxProgramBytes) {
    Fail(kErrorBadExeFormat);
    return 0;
  }
  // Read from the start whatever the handle's position, and only up to the size seen: a file
  // that grows meanwhile is not followed.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
  std::size_t have = 0;
  while (have < bytes.size()) {
    const ssize_t count =
        pread(fd, bytes.data() + have, bytes.size() - have, static_cast<off_t>(have));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      Fail(Win32ErrorFromErrno(errno));
      return 0;
    }
    if (count == 0) break;  // the file shrank
    have += static_cast<std::size_t>(count);
  }
  const std::span<const std::uint8_t> block =
      FindVersionBlock(std::span<const std::uint8_t>(bytes.data(), have));
  if (block.empty()) {
    Fail(kErrorBadExeFormat);
    return 0;
  }
  if (block.size() > *size) {
    *size = static_cast<DWORD>(block.size());
    Fail(kErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(data, block.data(), block.size());
  *size = static_cast<DWORD>(block.size());
  return 1;
}

}  // namespace zelmora::platform
