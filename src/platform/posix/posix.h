// Helpers shared by the POSIX implementation files.
#ifndef PLENVAR_PLATFORM_POSIX_POSIX_H_
#define PLENVAR_PLATFORM_POSIX_POSIX_H_

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

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_POSIX_POSIX_H_
