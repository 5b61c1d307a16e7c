// The POSIX file operations the registry store is built from. Each returns kErrorSuccess or the
// Windows code for the errno of the call that failed.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace zelmora::platform {

// The folder of a path: what comes before its last slash ("/" for a name at the root, "." for a
// bare name).
std::string FolderOf(const std::string& path);

// Closes the descriptor it owns.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// What tells one version of a file from another: a replaced file has another inode, a file
// changed in place another size or time stamp.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedNs = 0;
  std::int64_t changedNs = 0;

  static FileIdentity Of(const struct stat& status);
  bool operator==(const FileIdentity&) const = default;
};

// Creates the folder and its missing parents, each created one mode 0700 whatever the umask.
// Folders that exist are left as they are.
[[nodiscard]] LONG CreateFolders(const std::string& folder);

// Opens a file to read, refusing anything but a regular file, and a symbolic link (not
// followed) unless followLink.
[[nodiscard]] LONG OpenRegularFile(const std::string& path, UniqueFd& fd, struct stat& status,
                                   bool followLink = false);

// Reads from fd to its end.
[[nodiscard]] LONG ReadToEnd(int fd, std::size_t sizeHint, std::vector<std::uint8_t>& bytes);

// Creates a new file of mode 0600 whatever the umask; fails if the name exists.
[[nodiscard]] LONG CreateExclusive(const std::string& path, UniqueFd& fd);

// Writes every piece, in order, retrying short writes.
[[nodiscard]] LONG WritePieces(int fd, const std::vector<std::span<const std::uint8_t>>& pieces);

// Puts the file at replacement in target's place in one atomic step. Where the system can swap
// the two names it does, and the old version is left at replacement for the caller to remove.
[[nodiscard]] LONG ReplaceFile(const std::string& replacement, const std::string& target);

// Opens (creating it 0600 when missing) and locks exclusively a lock file; the lock goes with
// the descriptor. A symbolic link or anything but a regular file in its place is refused.
[[nodiscard]] LONG LockFile(const std::string& path, UniqueFd& fd);

}  // namespace zelmora::platform
