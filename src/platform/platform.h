// The one seam between the program and the operating system. Everything the
// OS does for us goes through these plain functions; the rest of the program
// never includes an OS header. Paths are the program's own text: separated by
// "\" and in the platform's 8-bit code page. Every failure throws Error with
// "path: reason".
#ifndef PLENVAR_PLATFORM_PLATFORM_H_
#define PLENVAR_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace plenvar {

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

namespace platform {

// An open file for reading; `handle` is the OS's own (a descriptor or a HANDLE).
struct InputFile {
  std::intptr_t handle = -1;
  std::string path;
};

void OpenForReading(const std::string& path, InputFile* file);
// Reads up to `size` bytes into `buffer`; returns 0 only at end of file.
std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size);
// Safe to call on a file that is not open.
void Close(InputFile& file);

// Writes `data` to a temporary file beside `path` (a name that does not end in
// ".MAI"), then renames it to `path`, replacing an existing file. On failure no
// file is left behind.
void WriteFileAtomically(const std::string& path, std::string_view data);

// Makes one folder level; fails when it exists or its parent is missing.
void MakeFolder(const std::string& path);
// True when a folder is at `path`; a trailing "\" is accepted.
bool FolderExists(const std::string& path);

}  // namespace platform
}  // namespace plenvar

#endif  // PLENVAR_PLATFORM_PLATFORM_H_
