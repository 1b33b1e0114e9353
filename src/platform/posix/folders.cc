// POSIX folder listing.
#include "platform/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "base/text.h"
#include "platform/posix/posix.h"

namespace plenvar::platform {

namespace {

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

EntryKind KindOf(int folder_fd, const dirent& entry) {
  // d_type spares a stat per entry on the file systems that fill it in.
  if (entry.d_type == DT_REG) return EntryKind::kFile;
  if (entry.d_type == DT_DIR) return EntryKind::kFolder;
  struct stat st;
  if (::fstatat(folder_fd, entry.d_name, &st, 0) != 0) return EntryKind::kOther;  // dangling
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  return EntryKind::kOther;
}

}  // namespace

// "/" is the only root; "//" names it too.
std::size_t RootLength(std::string_view path) {
  const std::size_t first = path.find_first_not_of('\\');
  return first == std::string_view::npos ? path.size() : first;
}

const bool kWindowsNames = false;
const std::size_t kLongestPath = PATH_MAX;

namespace {

// Lists the folder into *folder; 0, or an errno.
int List(const std::string& path, Folder* listed) {
  Folder& folder = *listed;
  ForgetHeldFolder();
  std::unique_ptr<DIR, CloseDir> dir(::opendir(NativePath(path).c_str()));
  if (!dir) return errno;
  const int fd = ::dirfd(dir.get());
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  folder.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  const std::string prefix = !path.empty() && path.back() == '\\' ? path : path + "\\";
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return errno;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const EntryKind kind = KindOf(fd, *entry);
    (kind == EntryKind::kFolder ? folder.folders : folder.files)
        .push_back({name, prefix + name, kind});
  }
  SortListing(&folder.folders);
  SortListing(&folder.files);
  return 0;
}

}  // namespace

bool OpenFolder(const std::string& path, Folder* folder, std::string* why) {
  *folder = Folder();
  const int error = List(path, folder);
  if (error != 0) *why = std::strerror(error);
  return error == 0;
}

// flock rather than a lock file: nothing is left in the target, and the
// kernel drops the lock with the process however it ends.
namespace {

// 0, or the error of flock without waiting.
int TryFlock(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

}  // namespace

Lock LockFolder(const std::string& path, bool shared, FolderLock* lock) {
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw SystemError(path, errno);
  int error = TryFlock(fd, shared ? LOCK_SH : LOCK_EX);
  if (error == 0) {
    lock->handle = fd;
    return Lock::kTaken;
  }
  // A writer refused: a shared lock tells readers from a writer, and is let
  // go at once with the descriptor.
  Lock held = Lock::kHeldByWriter;
  if (error == EWOULDBLOCK && !shared) {
    error = TryFlock(fd, LOCK_SH);
    if (error == 0) held = Lock::kHeldByReaders;
  }
  ::close(fd);
  if (error != 0 && error != EWOULDBLOCK) throw SystemError(path, error);
  return held;
}

FolderLock::~FolderLock() {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

bool MakeFolder(const std::string& path, std::string* why) {
  if (::mkdir(NativePath(path).c_str(), 0777) == 0) return true;
  *why = std::strerror(errno);
  return false;
}

bool RemoveFolder(const std::string& path) { return ::rmdir(NativePath(path).c_str()) == 0; }

bool FolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool EntryIdOf(const std::string& path, FolderId* id) {
  struct stat st;
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return false;
  *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

bool FolderIdOf(const std::string& path, FolderId* id) {
  struct stat st;
  if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return false;
  *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

// One syncfs for the whole file system rather than an fsync per message file:
// on this machine's disk, 200 MB of message files took 0.3 s to flush this
// way against several seconds file by file (bench/README.md). It writes out
// the renames and new folders too, and reports a write-back error that
// happened to any of them (Linux 5.8 and later).
bool FlushFileSystem(const std::string& folder, std::string* why) {
  const int fd = ::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
#ifdef __linux__
  const int error = ::syncfs(fd) == 0 ? 0 : errno;
#else
  ::sync();
  const int error = ::fsync(fd) == 0 ? 0 : errno;
#endif
  ::close(fd);
  if (error != 0) *why = std::strerror(error);
  return error == 0;
}

bool FlushFolder(const std::string& folder, std::string* why) {
  const int fd = ::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  if (error != 0) *why = std::strerror(error);
  return error == 0;
}

}  // namespace plenvar::platform
