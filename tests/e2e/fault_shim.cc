// Preloaded into the program under test (LD_PRELOAD) to make a fault happen
// at one exact moment that a real file system cannot be timed to hit:
//
//   PLENVAR_FAULT=vanish:PATH  PATH is deleted just before it is opened
//   PLENVAR_FAULT=folder:PATH  PATH is replaced by a folder just before it is opened
//   PLENVAR_FAULT=grow:PATH    a message is appended to PATH after its first read
//   PLENVAR_FAULT=syncfs       flushing a file system fails with EIO
//   PLENVAR_FAULT=term:PATH    SIGTERM arrives (in the opening thread) just before PATH is opened
//   PLENVAR_FAULT=term:PATH@BEFORE  the same, once the file BEFORE was opened and closed:
//                              with workers, a mail file another thread cuts has been read to
//                              its end, so the stop cannot cut it short
//   PLENVAR_FAULT=term2:PATH   two SIGTERMs arrive then (@BEFORE as for term)
//   PLENVAR_FAULT=late-rename  renames are slow, and one after a flush aborts
//   PLENVAR_FAULT=move-log:PATH  run.log (in the working folder) is renamed to moved.log
//                              just before PATH is opened
//   PLENVAR_FAULT=nomem        growing a mapping fails (mremap: ENOMEM)
//
// Beside any fault, PLENVAR_RECORD=FILE appends a line to FILE for each call
// that decides what survives a power cut, in the order they were made:
// "syncfs", "fsync PATH", "rename FROM TO".
//
// PATH is compared with the end of the path the program opens (for openat,
// the folder's path and the name).
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

int grow_fd = -1;

// The file a stop waits for: its descriptor while it is open, and whether
// it was closed.
std::atomic<int> before_fd{-1};
std::atomic<bool> before_closed{false};

std::string_view Fault() {
  const char* fault = std::getenv("PLENVAR_FAULT");
  return fault == nullptr ? "" : fault;
}

bool EndsWith(std::string_view have, std::string_view want) {
  return have.size() >= want.size() && have.substr(have.size() - want.size()) == want;
}

bool Is(std::string_view action, const char* path) {
  std::string_view fault = Fault();
  if (fault.substr(0, action.size()) != action || fault.size() <= action.size() ||
      fault[action.size()] != ':')
    return false;
  const std::string_view want = fault.substr(action.size() + 1);
  return EndsWith(path, want.substr(0, want.find('@')));
}

// The BEFORE of a fault, if any.
std::string_view Before() {
  const std::string_view fault = Fault();
  const std::size_t at = fault.find('@');
  return at == std::string_view::npos ? "" : fault.substr(at + 1);
}

// Waits, up to 10 s, until BEFORE was closed.
void AwaitBefore() {
  for (int waited = 0; waited < 10000 && !Before().empty() && !before_closed; ++waited)
    usleep(1000);
}

template <typename F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The whole path of `name` in the folder `folder` (a descriptor or AT_FDCWD).
const char* WholePath(int folder, const char* name, char (&buffer)[4096]) {
  if (folder == AT_FDCWD || name[0] == '/') return name;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
  const ssize_t n = readlink(link, buffer, sizeof buffer - 1);
  if (n < 0) std::abort();
  std::snprintf(buffer + n, sizeof buffer - static_cast<size_t>(n), "/%s", name);
  return buffer;
}

// The program opens mail files and message files with openat.
int OpenAt(int folder, const char* name, int flags, mode_t mode) {
  using OpenAtFn = int (*)(int, const char*, int, ...);
  static OpenAtFn next = Next<OpenAtFn>("openat");
  char buffer[4096];
  const char* path = WholePath(folder, name, buffer);
  if (Is("vanish", path)) unlink(path);
  if (Is("move-log", path)) rename("run.log", "moved.log");
  if (Is("term", path) || Is("term2", path)) {
    AwaitBefore();
    raise(SIGTERM);
  }
  if (Is("term2", path)) raise(SIGTERM);
  if (Is("folder", path)) {
    unlink(path);
    mkdir(path, 0700);
  }
  const int fd = next(folder, name, flags, mode);
  if (fd >= 0 && Is("grow", path)) grow_fd = fd;
  if (fd >= 0 && !Before().empty() && EndsWith(path, Before())) before_fd = fd;
  return fd;
}

}  // namespace

extern "C" {

int openat(int folder, const char* name, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt(folder, name, flags, mode);
}

int openat64(int folder, const char* name, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt(folder, name, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t size) {
  using ReadFn = ssize_t (*)(int, void*, size_t);
  static ReadFn next = Next<ReadFn>("read");
  const ssize_t n = next(fd, buffer, size);
  if (n > 0 && fd == grow_fd) {
    grow_fd = -1;
    static const char kLate[] = "\r\nReceived: late\r\n";
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    using OpenFn = int (*)(const char*, int, ...);
    static OpenFn real_open = Next<OpenFn>("open");
    const int out = real_open(path, O_WRONLY | O_APPEND);
    if (out >= 0) {
      if (write(out, kLate, sizeof kLate - 1) < 0) std::abort();
      close(out);
    }
  }
  return n;
}

int close(int fd) {
  using CloseFn = int (*)(int);
  static CloseFn next = Next<CloseFn>("close");
  if (fd >= 0 && before_fd.load() == fd) {
    before_fd = -1;
    before_closed = true;
  }
  return next(fd);
}

bool synced = false;

void Record(const char* what, const char* path, const char* to = "") {
  const char* file = std::getenv("PLENVAR_RECORD");
  if (file == nullptr) return;
  using OpenFn = int (*)(const char*, int, ...);
  static OpenFn real_open = Next<OpenFn>("open");
  const int out = real_open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (out < 0) std::abort();
  char line[3 * 4096];
  const int n = std::snprintf(line, sizeof line, "%s%s%s%s%s\n", what, *path ? " " : "", path,
                              *to ? " " : "", to);
  if (write(out, line, static_cast<size_t>(n)) != n) std::abort();
  close(out);
}

// The path of the open descriptor `fd`.
const char* FdPath(int fd, char (&buffer)[4096]) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, buffer, sizeof buffer - 1);
  buffer[n < 0 ? 0 : n] = '\0';
  return buffer;
}

// A message file renamed into place after the flush may not be on disk.
void BeforeRename() {
  if (Fault() == "late-rename") {
    if (synced) std::abort();
    usleep(20000);
  }
}

int rename(const char* from, const char* to) {
  using RenameFn = int (*)(const char*, const char*);
  static RenameFn next = Next<RenameFn>("rename");
  BeforeRename();
  Record("rename", from, to);
  return next(from, to);
}

int renameat(int from_folder, const char* from, int to_folder, const char* to) {
  using RenameAtFn = int (*)(int, const char*, int, const char*);
  static RenameAtFn next = Next<RenameAtFn>("renameat");
  BeforeRename();
  char fromPath[4096], toPath[4096];
  Record("rename", WholePath(from_folder, from, fromPath), WholePath(to_folder, to, toPath));
  return next(from_folder, from, to_folder, to);
}

int fsync(int fd) {
  using SyncFn = int (*)(int);
  static SyncFn next = Next<SyncFn>("fsync");
  char path[4096];
  Record("fsync", FdPath(fd, path));
  return next(fd);
}

void* mremap(void* from, size_t size, size_t grown, int flags, ...) {
  using RemapFn = void* (*)(void*, size_t, size_t, int, ...);
  static RemapFn next = Next<RemapFn>("mremap");
  if (Fault() == "nomem") {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  va_list args;
  va_start(args, flags);
  void* const to = (flags & MREMAP_FIXED) != 0 ? va_arg(args, void*) : nullptr;
  va_end(args);
  return next(from, size, grown, flags, to);
}

int syncfs(int fd) {
  using SyncFn = int (*)(int);
  static SyncFn next = Next<SyncFn>("syncfs");
  synced = true;
  Record("syncfs", "");
  if (Fault() == "syncfs") {
    errno = EIO;
    return -1;
  }
  return next(fd);
}

}  // extern "C"
