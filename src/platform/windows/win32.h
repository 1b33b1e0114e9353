// Helpers shared by the Windows implementation files.
#ifndef PLENVAR_PLATFORM_WINDOWS_WIN32_H_
#define PLENVAR_PLATFORM_WINDOWS_WIN32_H_

#include <string>

#include "platform/platform.h"

namespace plenvar::platform {

// "path: reason", with the system's message text for the error code.
Error SystemError(const std::string& path, unsigned long error);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_WINDOWS_WIN32_H_
