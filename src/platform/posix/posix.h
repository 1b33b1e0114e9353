// Helpers shared by the POSIX implementation files.
#ifndef PLENVAR_PLATFORM_POSIX_POSIX_H_
#define PLENVAR_PLATFORM_POSIX_POSIX_H_

#include <string>

#include "platform/platform.h"

namespace plenvar::platform {

// The program's path text as the OS wants it: every "\" becomes "/".
std::string NativePath(std::string path);
// "path: reason", with the OS's own text for errno value `error`.
Error SystemError(const std::string& path, int error);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_POSIX_POSIX_H_
