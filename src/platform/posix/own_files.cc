// POSIX files of the program's own, such as its log and its manifest: made
// or replaced only when ours, held while open, written front to back.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/posix/posix.h"

namespace plenvar::platform {

namespace {

// The first bytes of the open file `fd`, up to kOwnHead of them; false when
// it is not a regular file or cannot be read.
bool ReadHead(int fd, std::string* head) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  head->assign(kOwnHead, '\0');
  std::size_t have = 0;
  while (have < head->size()) {
    const ssize_t n =
        ::pread(fd, head->data() + have, head->size() - have, static_cast<off_t>(have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  head->resize(have);
  return true;
}

// Whether `fd` is still the file at `native`: a run that held it may have
// renamed it away or removed it before it let go.
bool StillNamed(int fd, const std::string& native) {
  struct stat open, named;
  return ::fstat(fd, &open) == 0 && open.st_nlink > 0 && ::stat(native.c_str(), &named) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace

OwnFile CreateOrReplaceOwn(const std::string& path, OwnTest ours, OutputFile* file, bool madeName) {
  const std::string native = NativePath(path);
  // A dangling link makes both opens fail for ever: give up after a few.
  for (int attempt = 0;; ++attempt) {
    // O_EXCL: the name is ours only if nothing had it.
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const bool made = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
      // O_NONBLOCK: a FIFO at the name must not stall the run; it is refused below.
      fd = ::open(native.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | (madeName ? O_NOFOLLOW : 0));
      if (fd < 0 && errno == ENOENT && attempt < 3) continue;  // removed since: create it again
      if (fd < 0 && errno == ELOOP && madeName) return OwnFile::kForeign;
    }
    if (fd < 0) throw SystemError(path, errno);
    // The lock before anything is read or emptied: a file another run holds
    // is theirs, whatever it holds.
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    const int error = locked == 0 ? 0 : errno;
    if (error != 0) ::close(fd);
    if (error == EWOULDBLOCK) return OwnFile::kHeld;
    if (error != 0) throw SystemError(path, error);
    if (!StillNamed(fd, native)) {
      ::close(fd);
      if (attempt < 3) continue;
      throw Error(path, "replaced while it was being opened");
    }
    // The file checked is the file emptied: the same descriptor does both.
    if (!made) {
      std::string head;
      struct stat st;
      if (!ReadHead(fd, &head) || !ours(head) ||
          (madeName && (::fstat(fd, &st) != 0 || st.st_nlink != 1))) {
        ::close(fd);
        return OwnFile::kForeign;
      }
      if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        const int failed = errno;
        ::close(fd);
        throw SystemError(path, failed);
      }
    }
    file->handle = fd;
    file->path = path;
    return OwnFile::kOpened;
  }
}

bool ForeignFileAt(const std::string& path, OwnTest ours) {
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;  // nothing there, or nothing that can be read: creating it tells why
  struct stat st;
  std::string head;
  const bool foreign =
      ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && (!ReadHead(fd, &head) || !ours(head));
  ::close(fd);
  return foreign;
}

void RemoveAndClose(OutputFile& file) {
  if (file.handle < 0) return;
  ::unlink(NativePath(file.path).c_str());
  Close(file);
}

bool RenameAndClose(OutputFile& file, const std::string& to, std::string* why) {
  if (file.handle < 0) return true;
  const int failed =
      ::rename(NativePath(file.path).c_str(), NativePath(to).c_str()) == 0 ? 0 : errno;
  if (failed != 0) ::unlink(NativePath(file.path).c_str());
  Close(file);
  if (failed != 0) *why = std::strerror(failed);
  return failed == 0;
}

bool StillAtItsPath(const OutputFile& file, bool* removed) {
  struct stat open, named;
  const bool opened = ::fstat(static_cast<int>(file.handle), &open) == 0;
  if (removed != nullptr) *removed = !opened || open.st_nlink == 0;
  return opened && open.st_nlink > 0 && ::stat(NativePath(file.path).c_str(), &named) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool Append(OutputFile& file, std::string_view data, std::string* why) {
  const int error = WriteAll(static_cast<int>(file.handle), data.data(), data.size());
  if (error != 0) *why = std::strerror(error);
  return error == 0;
}

bool FlushToDisk(OutputFile& file, std::string* why) {
  if (::fsync(static_cast<int>(file.handle)) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

void Close(OutputFile& file) {
  if (file.handle >= 0) ::close(static_cast<int>(file.handle));
  file.handle = -1;
}

}  // namespace plenvar::platform
