// POSIX files written whole: a new file, or one renamed into place
// atomically, and entries removed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/posix/posix.h"

namespace plenvar::platform {

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

namespace {

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

void RemoveFile(const std::string& path) {
  AtPath(path, false, [](const Place& at) { return ::unlinkat(at.folder, at.name, 0); });
}

bool RemoveEntry(const std::string& path, std::string* why) {
  const int error = AtPath(path, false, [](const Place& at) { return -RemoveAt(at); });
  if (error != 0) *why = std::strerror(-error);
  return error == 0;
}

}  // namespace plenvar::platform
