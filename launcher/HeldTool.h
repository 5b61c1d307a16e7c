// The tool's program file, opened so that nobody can replace it until the launcher lets it go,
// and its identity, read from that very file: the record then always names the build that ran,
// whatever launcher sits beside it and whatever a copy to the share does meanwhile.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace zelmora::launcher {

enum class ToolPresence {
  Held,          // open, with its identity read
  Absent,        // no such file or folder
  NotStartable,  // there, but it cannot be opened or is no program of ours (no identity)
};

class HeldTool {
 public:
  // Opens the file at path and reads its identity.
  explicit HeldTool(std::u16string path);
  // Lets the file go: only once the tool has ended.
  ~HeldTool();
  HeldTool(const HeldTool&) = delete;
  HeldTool& operator=(const HeldTool&) = delete;

  ToolPresence Presence() const { return presence_; }
  const std::u16string& Path() const { return path_; }
  platform::HANDLE Handle() const { return handle_; }
  // The ProductVersion of its version resource; empty unless held (and then possibly empty,
  // which never matches a record).
  const std::u16string& Identity() const { return identity_; }

 private:
  bool ReadIdentity();

  std::u16string path_;
  platform::HANDLE handle_ = platform::kInvalidHandle;
  ToolPresence presence_ = ToolPresence::NotStartable;
  std::u16string identity_;
};

}  // namespace zelmora::launcher
