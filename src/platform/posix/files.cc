// POSIX files: those read, and what the program asks of a file by its path.
// The program's "\" separators become "/" here.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix/posix.h"

namespace plenvar::platform {

std::string NativePath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

Error SystemError(const std::string& path, int error) { return Error(path, std::strerror(error)); }

namespace {

// Only ever compared for equality: a time after 2262 wraps, never overflows.
std::int64_t ModifiedNs(const struct stat& st) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                                   static_cast<std::uint64_t>(st.st_mtim.tv_nsec));
}

}  // namespace

bool OpenToRead(const std::string& path, InputFile* file, bool followLinks, std::string* why) {
  // O_NONBLOCK so that a FIFO named like a mail file cannot stall the run
  // before the check below turns it away.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
  const int fd =
      AtPath(path, true, [flags](const Place& at) { return ::openat(at.folder, at.name, flags); });
  if (fd < 0) {
    *why = errno == ELOOP && !followLinks ? "not a regular file (a link)" : std::strerror(errno);
    return false;
  }
  struct stat st;
  const int error = ::fstat(fd, &st) != 0 ? errno : 0;
  if (error != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *why = error != 0 ? std::strerror(error) : "not a regular file";
    return false;
  }
  Close(*file);
  file->handle = fd;
  file->path = path;
  file->size = static_cast<std::uint64_t>(st.st_size);
  file->modified = ModifiedNs(st);
  file->bytesRead = 0;
  return true;
}

std::int64_t ModifiedSeconds(const InputFile& file) {
  // Asked again: `modified`, in nanoseconds, cannot hold a time after 2262,
  // which a message's date may name. tv_sec is already rounded down.
  struct stat st;
  if (::fstat(static_cast<int>(file.handle), &st) != 0) throw SystemError(file.path, errno);
  return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

bool ReadSome(InputFile& file, char* buffer, std::size_t size, std::size_t* got, std::string* why) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(file.handle), buffer, size);
    if (n >= 0) {
      file.bytesRead += static_cast<std::uint64_t>(n);
      *got = static_cast<std::size_t>(n);
      return true;
    }
    if (errno != EINTR) {
      *why = std::strerror(errno);
      return false;
    }
  }
}

void DropCachedPages(const InputFile& file) {
  ::posix_fadvise(static_cast<int>(file.handle), 0, 0, POSIX_FADV_DONTNEED);
}

void Close(InputFile& file) {
  if (file.handle >= 0) ::close(static_cast<int>(file.handle));
  file.handle = -1;
}

bool ChangedSinceOpened(const InputFile& file) {
  struct stat st;
  if (::fstat(static_cast<int>(file.handle), &st) != 0) return true;
  return static_cast<std::uint64_t>(st.st_size) != file.size || ModifiedNs(st) != file.modified ||
         file.bytesRead != file.size;
}

bool ModifiedSecondsOf(const std::string& path, std::int64_t* seconds) {
  struct stat st;
  const auto statAt = [&st](const Place& at) { return ::fstatat(at.folder, at.name, &st, 0); };
  if (AtPath(path, true, statAt) != 0) return false;
  *seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  return true;
}

bool FileSizeOf(const std::string& path, std::uint64_t* size) {
  struct stat st;
  const auto statAt = [&st](const Place& at) { return ::fstatat(at.folder, at.name, &st, 0); };
  if (AtPath(path, true, statAt) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace plenvar::platform
