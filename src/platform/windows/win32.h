// Helpers shared by the Windows implementation files. The program's text is
// UTF-8; the system is called through its wide ("W") functions only, so that
// no name depends on the system's code page, and every path goes to it in
// its "\\?\" form, so that no limit below 32,767 characters applies.
#ifndef PLENVAR_PLATFORM_WINDOWS_WIN32_H_
#define PLENVAR_PLATFORM_WINDOWS_WIN32_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"

namespace plenvar::platform {

// UTF-8 to UTF-16 and back. A name may hold a UTF-16 surrogate without its
// other half, which Windows allows: it is carried as its three-byte form
// (WTF-8), so that every listed name opens again.
std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);

// `path` made absolute against `current` (the current folder, used only for
// a relative path or one that begins with a single "\"), with "." and ".."
// resolved, "/" read as "\", and no trailing "\" but after a drive:
// "\\?\C:\Mail\anna" or "\\?\UNC\server\share\anna". A path already in
// "\\?\" or "\\.\" form is the user's exact wish and is kept as it is.
std::wstring ExtendedPath(std::wstring_view path, std::wstring_view current);
// The path the system is given for the program's path text.
std::wstring SystemPath(const std::string& path);
// How long the root of a path is ("C:\", "\\server\share\", "\\?\C:\"), see RootLength.
std::size_t RootOfPath(std::string_view path);

// A FILETIME's 100 ns units from 1601 to 1970.
constexpr std::int64_t kEpochTicks = 116444736000000000;

// "path: reason", with the system's message text for the error code.
Error SystemError(const std::string& path, unsigned long error);

// How a written file reaches the disk; tests put counting fakes in their place.
struct DiskCalls {
  // Writes the open file's data out of the system's cache to the disk,
  // without asking the disk to flush its own cache; null where the system
  // has no such call (before Windows 8; Wine). False when it failed.
  bool (*writeOut)(void* handle);
  // Writes the open file out and flushes the disk's cache; false when it
  // failed, with the reason in GetLastError.
  bool (*flush)(void* handle);
};
DiskCalls& Disk();

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_WINDOWS_WIN32_H_
