// The folder a thread goes on opening files in, held open so that each file
// there is looked up by its name alone (openat, renameat) instead of by its
// whole path, one component after another. Mail files are read, and message
// files written, folder by folder, so a thread holds few folders.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/posix/posix.h"

namespace plenvar::platform {

namespace {

struct HeldFolder {
  std::string path;  // the program's text of a folder asked for
  int fd = -1;       // that folder, once it was asked for a second time
  ~HeldFolder() { Release(); }
  void Release() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// Two: with one writer the walking thread reads in a source folder and
// writes in its target folder by turns.
thread_local HeldFolder held[2];
thread_local int lastUsed = 0;

// Where the last name of `path` begins; npos when it has no folder part.
std::size_t NameStart(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? separator : separator + 1;
}

// The held folder that holds the file at `path`, whose name begins at `name`.
HeldFolder* HolderOf(const std::string& path, std::size_t name) {
  if (name == std::string::npos || name <= 1) return nullptr;  // no folder, or the root
  for (HeldFolder& folder : held) {
    if (folder.path.size() + 1 == name && path.compare(0, name - 1, folder.path) == 0)
      return &folder;
  }
  return nullptr;
}

}  // namespace

Place PlaceOf(const std::string& path, std::string* native) {
  const std::size_t name = NameStart(path);
  HeldFolder* folder = HolderOf(path, name);
  if (folder != nullptr) {
    lastUsed = static_cast<int>(folder - held);
    // A folder is opened the second time it is asked for, so that a store
    // of one mail file per folder costs no more calls than before.
    if (folder->fd < 0) {
#ifdef O_PATH
      folder->fd = ::open(NativePath(folder->path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
      folder->fd = ::open(NativePath(folder->path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    }
    // A folder that cannot be opened: the whole path's call says why.
    if (folder->fd >= 0) return {folder->fd, path.c_str() + name};
  } else if (name != std::string::npos && name > 1) {
    lastUsed = 1 - lastUsed;  // the other one goes
    held[lastUsed].Release();
    held[lastUsed].path.assign(path, 0, name - 1);
  }
  *native = NativePath(path);
  return {AT_FDCWD, native->c_str()};
}

Place HeldPlaceOf(const std::string& path, std::string* native) {
  const std::size_t name = NameStart(path);
  const HeldFolder* folder = HolderOf(path, name);
  if (folder != nullptr && folder->fd >= 0) return {folder->fd, path.c_str() + name};
  *native = NativePath(path);
  return {AT_FDCWD, native->c_str()};
}

void ForgetHeldFolder() {
  for (HeldFolder& folder : held) {
    folder.Release();
    folder.path.clear();
  }
}

}  // namespace plenvar::platform
