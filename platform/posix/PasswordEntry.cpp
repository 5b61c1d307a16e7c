#include "platform/posix/PasswordEntry.h"

#include <unistd.h>

#include <cerrno>

namespace zelmora::platform {
namespace {

// Far beyond any real entry; a database that asks for more is not believed.
constexpr std::size_t kMostStorage = std::size_t{1} << 20;

}  // namespace

EffectiveUserEntry::EffectiveUserEntry() {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  storage_.resize(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
  int error = 0;
  while ((error = getpwuid_r(geteuid(), &entry_, storage_.data(), storage_.size(), &found_)) ==
             ERANGE &&
         storage_.size() < kMostStorage) {
    storage_.resize(storage_.size() * 2);
  }
  if (error != 0) found_ = nullptr;
}

}  // namespace zelmora::platform
