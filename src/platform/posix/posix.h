// Helpers shared by the POSIX implementation files.
#ifndef PLENVAR_PLATFORM_POSIX_POSIX_H_
#define PLENVAR_PLATFORM_POSIX_POSIX_H_

#include <fcntl.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "base/error.h"

namespace plenvar::platform {

// The program's path text as the OS wants it: every "\" becomes "/".
std::string NativePath(std::string path);
// "path: reason", with the OS's own text for errno value `error`.
Error SystemError(const std::string& path, int error);

// A file for the *at calls: a folder's descriptor (or AT_FDCWD) and a path
// relative to it.
struct Place {
  int folder;
  const char* name;
};
// Where the file at `path` is. While a thread goes on asking for files in
// one folder, that folder is held open and the place is it and the file's
// name; otherwise the place is the whole path, converted into `native`.
Place PlaceOf(const std::string& path, std::string* native);
// The same, but never opening a folder: the held one or the whole path.
Place HeldPlaceOf(const std::string& path, std::string* native);
// Lets go of the held folder, so that files in a folder listed afresh are
// looked up in the folder that was listed.
void ForgetHeldFolder();

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

// Writes all of data to `fd`, going on after short writes; 0 or an errno.
int WriteAll(int fd, const char* data, std::size_t size);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_POSIX_POSIX_H_
