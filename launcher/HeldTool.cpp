#include "launcher/HeldTool.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/common/VersionInfo.h"

namespace zelmora::launcher {
namespace {

using platform::DWORD;
using platform::System;

// Enough for the block of any program of ours; a block's length is 16 bits, so none is larger
// than the second try's limit.
constexpr DWORD kFirstBlockSize = 4096;
constexpr DWORD kLargestBlock = 65536;

}  // namespace

HeldTool::HeldTool(std::u16string path) : path_(std::move(path)) {
  handle_ = System().CreateFileW(path_.c_str(), platform::kGenericRead, platform::kFileShareRead,
                                 nullptr, platform::kOpenExisting, platform::kFileAttributeNormal,
                                 platform::kNoHandle);
  if (handle_ == platform::kInvalidHandle) {
    const DWORD code = System().GetLastError();
    const bool absent =
        code == platform::kErrorFileNotFound || code == platform::kErrorPathNotFound;
    presence_ = absent ? ToolPresence::Absent : ToolPresence::NotStartable;
    return;
  }
  presence_ = ReadIdentity() ? ToolPresence::Held : ToolPresence::NotStartable;
}

HeldTool::~HeldTool() {
  if (handle_ != platform::kInvalidHandle) System().CloseHandle(handle_);
}

bool HeldTool::ReadIdentity() {
  std::vector<std::uint8_t> block(kFirstBlockSize);
  DWORD size = kFirstBlockSize;
  platform::BOOL read = System().GetFileVersionInfoW(handle_, path_.c_str(), &size, block.data());
  if (read == 0 && System().GetLastError() == platform::kErrorInsufficientBuffer &&
      size <= kLargestBlock) {
    block.resize(size);
    read = System().GetFileVersionInfoW(handle_, path_.c_str(), &size, block.data());
  }
  // Any failure leaves the file without an identity, and a file without one is not our tool.
  if (read == 0 || size > block.size()) return false;
  std::optional<std::u16string> identity =
      platform::VersionString(std::span(block.data(), size), u"ProductVersion");
  if (!identity) return false;
  identity_ = std::move(*identity);
  return true;
}

}  // namespace zelmora::launcher
