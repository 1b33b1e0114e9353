// POSIX files and folders. The program's "\" separators become "/" here.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
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

// Makes `call` (a system call: below 0 is a failure, with errno) on the file
// at `path`, in its held folder (`open`: holding its folder if it is asked
// for again) or by the whole path. A call in a held folder that found no
// such file is made again by the whole path: the folder may have been
// removed since it was opened, and another made at its path.
template <typename Call>
int AtPath(const std::string& path, bool open, Call call) {
  std::string native;
  const Place place = open ? PlaceOf(path, &native) : HeldPlaceOf(path, &native);
  const int result = call(place);
  if (result >= 0 || place.folder == AT_FDCWD || errno != ENOENT) return result;
  ForgetHeldFolder();
  native = NativePath(path);
  return call(Place{AT_FDCWD, native.c_str()});
}

}  // namespace

void OpenForReading(const std::string& path, InputFile* file, bool followLinks) {
  // O_NONBLOCK so that a FIFO named like a mail file cannot stall the run
  // before the check below turns it away.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
  const int fd =
      AtPath(path, true, [flags](const Place& at) { return ::openat(at.folder, at.name, flags); });
  if (fd < 0 && errno == ELOOP && !followLinks) throw Error(path, "not a regular file (a link)");
  if (fd < 0) throw SystemError(path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int error = errno;
    ::close(fd);
    throw SystemError(path, error);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(path, "not a regular file");
  }
  file->handle = fd;
  file->path = path;
  file->size = static_cast<std::uint64_t>(st.st_size);
  file->modified = ModifiedNs(st);
  file->bytesRead = 0;
}

std::int64_t ModifiedSeconds(const InputFile& file) {
  // Asked again: `modified`, in nanoseconds, cannot hold a time after 2262,
  // which a message's date may name. tv_sec is already rounded down.
  struct stat st;
  if (::fstat(static_cast<int>(file.handle), &st) != 0) throw SystemError(file.path, errno);
  return static_cast<std::int64_t>(st.st_mtim.tv_sec);
}

std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(file.handle), buffer, size);
    if (n >= 0) {
      file.bytesRead += static_cast<std::uint64_t>(n);
      return static_cast<std::size_t>(n);
    }
    if (errno != EINTR) throw SystemError(file.path, errno);
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

namespace {

// Writes all of data, going on after short writes; returns 0 or an errno.
int WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// The modification time `time` for utimensat and futimens; the access time
// is left as the system keeps it.
struct FileTimes {
  struct timespec times[2];
  explicit FileTimes(std::int64_t time) {
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(time);
    times[1].tv_nsec = 0;
  }
};

// Removes the entry at the place, a folder only if it is empty; 0 or an errno.
int RemoveAt(const Place& at) {
  if (::unlinkat(at.folder, at.name, 0) == 0 || errno == ENOENT) return 0;
  if (errno != EISDIR && errno != EPERM) return errno;
  const int error = errno;
  if (::unlinkat(at.folder, at.name, AT_REMOVEDIR) == 0 || errno == ENOENT) return 0;
  return errno == ENOTDIR ? error : errno;
}

// Makes `path` a new file and writes data; 0, or an errno with no file left.
// O_EXCL first, so that the usual case costs one call: an entry there (a
// link, a hard link to another file, a FIFO that would block the open) is
// removed, never opened, and the name created afresh.
int WriteNew(const std::string& path, std::string_view data, std::int64_t time, bool* notRemoved) {
  const auto create = [](const Place& at) {
    return ::openat(at.folder, at.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  };
  int fd = AtPath(path, true, create);
  for (int attempt = 0; fd < 0 && errno == EEXIST && attempt < 3; ++attempt) {
    if (const int error = AtPath(path, false, [](const Place& at) { return -RemoveAt(at); })) {
      *notRemoved = true;
      return -error;
    }
    fd = AtPath(path, true, create);
  }
  if (fd < 0) return errno;
  int error = WriteAll(fd, data.data(), data.size());
  // After the last write, which would set it again; the rename keeps it.
  if (error == 0 && time != kSystemTime && ::futimens(fd, FileTimes(time).times) != 0)
    error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) RemoveFile(path);
  return error;
}

// Renames `from` to `to`; 0 or an errno.
int Rename(const std::string& from, const std::string& to) {
  const auto renameAt = [&to](const Place& source) {
    std::string native;
    const Place target = HeldPlaceOf(to, &native);
    return ::renameat(source.folder, source.name, target.folder, target.name);
  };
  return AtPath(from, false, renameAt) == 0 ? 0 : errno;
}

}  // namespace

namespace {

Error WriteError(const std::string& path, const std::string& temporary, int error,
                 bool notRemoved) {
  if (!notRemoved) return SystemError(path, error);
  return Error(path, "what is at its temporary name " +
                         temporary.substr(temporary.rfind('\\') + 1) +
                         " could not be removed: " + std::strerror(error));
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& temporary,
                         std::string_view data, std::int64_t time) {
  bool notRemoved = false;
  int error = WriteNew(temporary, data, time, &notRemoved);
  if (error == 0 && (error = Rename(temporary, path)) != 0) RemoveFile(temporary);
  if (error != 0) throw WriteError(path, temporary, error, notRemoved);
}

void WriteNewFile(const std::string& path, std::string_view data, std::int64_t time) {
  bool notRemoved = false;
  if (const int error = WriteNew(path, data, time, &notRemoved))
    throw WriteError(path, path, error, notRemoved);
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (const int error = Rename(from, to)) throw SystemError(to, error);
}

void SetModifiedTime(const std::string& path, std::int64_t time) {
  const FileTimes times(time);
  const auto setAt = [&times](const Place& at) {
    return ::utimensat(at.folder, at.name, times.times, AT_SYMLINK_NOFOLLOW);
  };
  if (AtPath(path, false, setAt) != 0) throw SystemError(path, errno);
}

bool ModifiedSecondsOf(const std::string& path, std::int64_t* seconds) {
  struct stat st;
  const auto statAt = [&st](const Place& at) { return ::fstatat(at.folder, at.name, &st, 0); };
  if (AtPath(path, true, statAt) != 0) return false;
  *seconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  return true;
}

void RemoveFile(const std::string& path) {
  AtPath(path, false, [](const Place& at) { return ::unlinkat(at.folder, at.name, 0); });
}

void RemoveEntry(const std::string& path) {
  if (const int error = AtPath(path, false, [](const Place& at) { return -RemoveAt(at); }))
    throw SystemError(path, -error);
}

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

void RenameAndClose(OutputFile& file, const std::string& to) {
  if (file.handle < 0) return;
  const int failed =
      ::rename(NativePath(file.path).c_str(), NativePath(to).c_str()) == 0 ? 0 : errno;
  if (failed != 0) ::unlink(NativePath(file.path).c_str());
  Close(file);
  if (failed != 0) throw SystemError(to, failed);
}

bool StillAtItsPath(const OutputFile& file, bool* removed) {
  struct stat open, named;
  const bool opened = ::fstat(static_cast<int>(file.handle), &open) == 0;
  if (removed != nullptr) *removed = !opened || open.st_nlink == 0;
  return opened && open.st_nlink > 0 && ::stat(NativePath(file.path).c_str(), &named) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

void Append(OutputFile& file, std::string_view data) {
  if (const int error = WriteAll(static_cast<int>(file.handle), data.data(), data.size()))
    throw SystemError(file.path, error);
}

void FlushToDisk(OutputFile& file) {
  if (::fsync(static_cast<int>(file.handle)) != 0) throw SystemError(file.path, errno);
}

void Close(OutputFile& file) {
  if (file.handle >= 0) ::close(static_cast<int>(file.handle));
  file.handle = -1;
}

void AdviseLargeBuffer(char* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Only whole 2 MiB pages inside the buffer can be huge. Advice is advice: a
  // kernel without transparent huge pages refuses it and nothing changes.
  constexpr std::size_t kHuge = 2 << 20;
  const std::size_t skip = (kHuge - reinterpret_cast<std::uintptr_t>(data) % kHuge) % kHuge;
  if (size >= skip + 2 * kHuge) ::madvise(data + skip, (size - skip) & ~(kHuge - 1), MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

bool FileSizeOf(const std::string& path, std::uint64_t* size) {
  struct stat st;
  const auto statAt = [&st](const Place& at) { return ::fstatat(at.folder, at.name, &st, 0); };
  if (AtPath(path, true, statAt) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

}  // namespace plenvar::platform
