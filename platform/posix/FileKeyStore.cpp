#include "platform/posix/FileKeyStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/common/RegFileFormat.h"
#include "platform/posix/ErrnoCodes.h"
#include "platform/posix/StoreFiles.h"

namespace zelmora::platform {

struct FileKeyStore::Impl {
  std::string path;
  std::u16string rootName;
  Access access;
  std::string folder = FolderOf(path);
  // One fixed name, removed before each use under the lock, so that a killed writer's leftover
  // is cleaned up by the next write instead of piling up.
  std::string temporaryPath = path + ".tmp";
  std::string lockPath = path + ".lock";
  RegFileWriter writer{rootName};

  RegistryTree tree;
  bool loaded = false;
  // The version of the file that tree holds; nothing when the file was missing.
  std::optional<FileIdentity> identity;
  // Keeps that version's inode in use, so that its number cannot be given to a later version
  // and make a changed file look like the one already read.
  UniqueFd heldVersion;

  Impl(std::string storePath, std::u16string hiveName, Access use)
      : path(std::move(storePath)), rootName(std::move(hiveName)), access(use) {}

  void Adopt(RegistryTree fresh, std::optional<FileIdentity> version, UniqueFd held) {
    writer.Forget();
    tree = std::move(fresh);
    identity = version;
    heldVersion = std::move(held);
    loaded = true;
  }

  // Brings tree up to date with the file, reading it only when it is another version than the
  // one read or written last. On failure tree stays as it was.
  LONG Refresh() {
    struct stat status {};
    const bool followLink = access == Access::ReadOnly;
    if ((followLink ? stat(path.c_str(), &status) : lstat(path.c_str(), &status)) != 0) {
      if (errno != ENOENT) return Win32ErrorFromErrno(errno);
      if (!loaded || identity) Adopt(RegistryTree(), std::nullopt, UniqueFd());
      return kErrorSuccess;
    }
    // A folder or device in the file's place is refused, and so is a link that is not followed.
    if (!S_ISREG(status.st_mode)) return kErrorAccessDenied;
    if (loaded && identity == FileIdentity::Of(status)) return kErrorSuccess;

    UniqueFd file;
    if (const LONG error = OpenRegularFile(path, file, status, followLink);
        error != kErrorSuccess) {
      return error;
    }
    std::vector<std::uint8_t> bytes;
    const auto size = static_cast<std::size_t>(status.st_size);
    if (const LONG error = ReadToEnd(file.Get(), size, bytes); error != kErrorSuccess) {
      return error;
    }
    std::optional<RegistryTree> parsed = ParseRegFile(bytes, rootName);
    if (!parsed) return kErrorRegistryCorrupt;
    Adopt(std::move(*parsed), FileIdentity::Of(status), std::move(file));
    return kErrorSuccess;
  }

  // Replaces the file with tree's contents: a complete new file moved into the old one's place,
  // so that a process killed at any point leaves one version or the other, never a mix.
  LONG Write() {
    if (unlink(temporaryPath.c_str()) != 0 && errno != ENOENT) return Win32ErrorFromErrno(errno);
    UniqueFd out;
    LONG error = CreateExclusive(temporaryPath, out);
    struct stat written {};
    if (error == kErrorSuccess) error = WritePieces(out.Get(), writer.Format(tree));
    if (error == kErrorSuccess && fstat(out.Get(), &written) != 0) {
      error = Win32ErrorFromErrno(errno);
    }
    if (error == kErrorSuccess && close(out.Release()) != 0) error = Win32ErrorFromErrno(errno);
    if (error == kErrorSuccess) error = ReplaceFile(temporaryPath, path);
    // Either the failed attempt or, after a swap, the previous version.
    out.Reset();
    unlink(temporaryPath.c_str());
    if (error != kErrorSuccess) return error;
    // Moving the file changed its ctime, so its identity is taken afresh. Should that fail, the
    // next call reads the file back instead.
    UniqueFd current;
    struct stat status {};
    if (OpenRegularFile(path, current, status) == kErrorSuccess &&
        status.st_ino == written.st_ino && status.st_dev == written.st_dev) {
      identity = FileIdentity::Of(status);
      heldVersion = std::move(current);
    } else {
      loaded = false;
    }
    return kErrorSuccess;
  }
};

FileKeyStore::FileKeyStore(std::string path, std::u16string rootName, Access access)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(rootName), access)) {}

FileKeyStore::~FileKeyStore() = default;

LONG FileKeyStore::Update(const std::function<LONG(RegistryTree&)>& change) {
  Impl& store = *impl_;
  if (store.access == Access::ReadOnly) return kErrorAccessDenied;
  // Held for the whole read-change-write, so that two processes never both start from the same
  // version and one of them lose the other's write.
  UniqueFd lock;
  LONG error = LockFile(store.lockPath, lock);
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
    error = CreateFolders(store.folder);
    if (error == kErrorSuccess) error = LockFile(store.lockPath, lock);
  }
  if (error != kErrorSuccess) return error;
  if (error = store.Refresh(); error != kErrorSuccess) return error;

  // The change is kept only once the file holds it.
  return ChangeOrUndo(store.tree, [&](RegistryTree& tree) {
    const LONG result = change(tree);
    if (result == kErrorSuccess && tree.HasChanges()) return store.Write();
    return result;
  });
}

LONG FileKeyStore::Read(const std::function<LONG(const RegistryTree&)>& look) {
  // No lock: the file is only ever replaced whole, so any version read is a complete one.
  const LONG error = impl_->Refresh();
  if (error == kErrorSuccess) return look(impl_->tree);
  // An unreadable hive that is only read holds nothing for anyone, so its readers look further.
  if (impl_->access == Access::ReadOnly) return look(RegistryTree());
  return error;
}

}  // namespace zelmora::platform
