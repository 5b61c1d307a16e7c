// The registry store of the POSIX back-end: one hive kept in one file in the registry editor's
// export format.
#pragma once

#include <memory>
#include <string>

#include "platform/common/RegistryCalls.h"

namespace zelmora::platform {

class FileKeyStore final : public KeyStore {
 public:
  enum class Access {
    // The user's own hive, read and written: a link or anything but a regular file in the
    // file's place is refused, never followed or replaced.
    ReadWrite,
    // A hive that is only read, such as the machine's, which configuration tools often keep
    // behind a link: a link is followed, and a file that cannot be read counts as an empty hive.
    ReadOnly,
  };

  // path: the hive's file, e.g. ".../zelmora/registry/HKEY_CURRENT_USER.reg". rootName names the
  // hive inside the file ("HKEY_CURRENT_USER"). Nothing is touched on disk until the first call.
  FileKeyStore(std::string path, std::u16string rootName, Access access = Access::ReadWrite);
  ~FileKeyStore() override;

  [[nodiscard]] LONG Update(const std::function<LONG(RegistryTree&)>& change) override;
  [[nodiscard]] LONG Read(const std::function<LONG(const RegistryTree&)>& look) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zelmora::platform
