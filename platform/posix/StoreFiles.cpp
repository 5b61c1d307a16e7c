#include "platform/posix/StoreFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/posix/ErrnoCodes.h"

namespace zelmora::platform {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

LONG LastError() { return Win32ErrorFromErrno(errno); }

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Creates one folder; a folder made here is 0700 even under a umask that would narrow it.
LONG CreateFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) != 0) return errno == EEXIST ? kErrorSuccess : LastError();
  const UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.Valid() || fchmod(fd.Get(), 0700) != 0) return LastError();
  return kErrorSuccess;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

FileIdentity FileIdentity::Of(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_size, Nanoseconds(status.st_mtim),
          Nanoseconds(status.st_ctim)};
}

LONG CreateFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    if (folder[slash - 1] == '/') continue;
    if (const LONG error = CreateFolder(folder.substr(0, slash)); error != kErrorSuccess) {
      return error;
    }
  }
  return folder.empty() || folder.back() == '/' ? kErrorSuccess : CreateFolder(folder);
}

LONG OpenRegularFile(const std::string& path, UniqueFd& fd, struct stat& status, bool followLink) {
  // Non-blocking so that a FIFO put in the file's place cannot hang the open.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  fd = UniqueFd(open(path.c_str(), flags));
  if (!fd.Valid() || fstat(fd.Get(), &status) != 0) return LastError();
  if (!S_ISREG(status.st_mode)) return kErrorAccessDenied;
  return kErrorSuccess;
}

LONG ReadToEnd(int fd, std::size_t sizeHint, std::vector<std::uint8_t>& bytes) {
  bytes.resize(sizeHint + 1);  // one more, to see the end without a second pass
  std::size_t used = 0;
  while (true) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t count = read(fd, bytes.data() + used, bytes.size() - used);
    if (count < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (count == 0) break;
    used += static_cast<std::size_t>(count);
  }
  bytes.resize(used);
  return kErrorSuccess;
}

LONG CreateExclusive(const std::string& path, UniqueFd& fd) {
  fd = UniqueFd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.Valid() || fchmod(fd.Get(), 0600) != 0) return LastError();
  return kErrorSuccess;
}

LONG WritePieces(int fd, const std::vector<std::span<const std::uint8_t>>& pieces) {
  std::size_t index = 0;
  std::size_t offset = 0;  // bytes of pieces[index] already written
  std::vector<iovec> batch;
  while (true) {
    while (index < pieces.size() && offset == pieces[index].size()) ++index, offset = 0;
    if (index == pieces.size()) return kErrorSuccess;
    batch.clear();
    for (std::size_t i = index; i < pieces.size() && batch.size() < IOV_MAX; ++i) {
      const std::size_t skip = i == index ? offset : 0;
      batch.push_back(
          {const_cast<std::uint8_t*>(pieces[i].data()) + skip, pieces[i].size() - skip});
    }
    const ssize_t written = writev(fd, batch.data(), static_cast<int>(batch.size()));
    if (written < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    for (auto left = static_cast<std::size_t>(written); left > 0;) {
      const std::size_t step = std::min(left, pieces[index].size() - offset);
      left -= step;
      offset += step;
      if (offset == pieces[index].size()) ++index, offset = 0;
    }
  }
}

LONG ReplaceFile(const std::string& replacement, const std::string& target) {
#ifdef RENAME_EXCHANGE
  // Swapping spares ext4 what it does on a rename over an existing file: it allocates and
  // starts writing the new file's blocks at once, which costs milliseconds on every write.
  // The guarantee wanted here is against a killed process, which both ways give.
  if (renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    return kErrorSuccess;
  }
  // Not there yet (the first write), or a file system that cannot swap: rename as usual.
#endif
  if (rename(replacement.c_str(), target.c_str()) != 0) return LastError();
  return kErrorSuccess;
}

LONG LockFile(const std::string& path, UniqueFd& fd) {
  // Non-blocking, as for the store, so that a FIFO put in the lock's place cannot hang the open
  // (and the run with it); flock still waits, and anything but a regular file is refused.
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  fd = UniqueFd(open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
  if (fd.Valid()) {
    if (fchmod(fd.Get(), 0600) != 0) return LastError();
  } else if (errno == EEXIST) {
    fd = UniqueFd(open(path.c_str(), kFlags));
  }
  struct stat status {};
  if (!fd.Valid() || fstat(fd.Get(), &status) != 0) return LastError();
  if (!S_ISREG(status.st_mode)) return kErrorAccessDenied;
  while (flock(fd.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return LastError();
  }
  return kErrorSuccess;
}

}  // namespace zelmora::platform
