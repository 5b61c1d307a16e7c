// The effective user's entry in the password database. The environment (USER, LOGNAME) is not
// consulted: anyone can set it, and it need not name the account the process runs as.
#pragma once

#include <pwd.h>

#include <vector>

namespace zelmora::platform {

class EffectiveUserEntry {
 public:
  // Looks the entry up, growing the buffer for its strings as far as the database needs.
  EffectiveUserEntry();
  EffectiveUserEntry(const EffectiveUserEntry&) = delete;
  EffectiveUserEntry& operator=(const EffectiveUserEntry&) = delete;

  // The entry, valid while this object lives; null when there is none or it cannot be read.
  const passwd* Get() const { return found_; }

 private:
  std::vector<char> storage_;
  passwd entry_{};
  passwd* found_ = nullptr;
};

}  // namespace zelmora::platform
