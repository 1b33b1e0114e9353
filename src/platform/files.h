// Files: read, written, renamed and removed. Part of the one seam between the
// program and the operating system (files.h, folders.h, process.h, each
// behind one .cc per OS); the rest of the program never includes an OS
// header. Paths are the program's own text: separated by "\", as bytes on
// POSIX and as UTF-8 on Windows.
//
// Errors: a failure throws Error with "path: reason". A call that returns bool
// answers a question, and false is an answer, not a failure; the few that
// clean up stay quiet, since there is nothing left to do when they cannot.
#ifndef PLENVAR_PLATFORM_FILES_H_
#define PLENVAR_PLATFORM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"

namespace plenvar::platform {

// An open file for reading; `handle` is the OS's own (a descriptor or a HANDLE).
// Move-only; closes itself.
struct InputFile {
  std::intptr_t handle = -1;
  std::string path;
  std::uint64_t size = 0;     // when it was opened
  std::int64_t modified = 0;  // last write time when it was opened, in OS units
  std::uint64_t bytesRead = 0;
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  ~InputFile();
};

// `followLinks` false: a file the program itself names, where a link (a
// symbolic link, or a reparse point on Windows) is never what it looks for,
// and fails as "not a regular file".
void OpenForReading(const std::string& path, InputFile* file, bool followLinks = true);
// The open file's last write time, in whole seconds since 1970-01-01 UTC
// (rounded down). Throws Error.
std::int64_t ModifiedSeconds(const InputFile& file);
// Reads up to `size` bytes into `buffer`; returns 0 only at end of file.
std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size);
// The same two for a caller to whom a failure is an answer, not an error:
// false, with the reason an Error would carry in *why.
bool OpenToRead(const std::string& path, InputFile* file, bool followLinks, std::string* why);
bool ReadSome(InputFile& file, char* buffer, std::size_t size, std::size_t* got, std::string* why);
// Asks that what follows be read from the disk, not from the system's cache
// of the file (POSIX: its cached pages are dropped). Advice only.
void DropCachedPages(const InputFile& file);
// Safe to call on a file that is not open.
void Close(InputFile& file);
// True when the open file was written to since it was opened, or when what was
// read differs in length from what it held then: a live store changed under us.
bool ChangedSinceOpened(const InputFile& file);

// A file's time as the program gives it: whole seconds since 1970-01-01 UTC;
// kSystemTime leaves the system's own (and costs no call).
constexpr std::int64_t kSystemTime = INT64_MIN;

// Writes `data` to the file `temporary` (in the same folder), then renames
// it to `path`, replacing an existing file. On failure no file is left behind.
// `time`, unless kSystemTime, becomes the file's modification time (Windows:
// and creation time), set on the open file before it is closed.
void WriteFileAtomically(const std::string& path, const std::string& temporary,
                         std::string_view data, std::int64_t time = kSystemTime);
// The temporary file is always a new file: whatever entry had its name (a
// file, a link, a FIFO, an empty folder) is removed first, never opened or
// written through; one that cannot be removed fails the write.
// The two halves of that, for writers that learn a file's final name later:
// WriteNewFile makes `path` a new file so and writes `data` (on failure no
// file is left); RenameReplacing renames `from` to `to`, replacing a file there.
void WriteNewFile(const std::string& path, std::string_view data, std::int64_t time = kSystemTime);
void RenameReplacing(const std::string& from, const std::string& to);
// Removes a file; quiet when there is none.
void RemoveFile(const std::string& path);
// Removes whatever entry is at `path`, without following a link: a file, a
// link, a FIFO or an empty folder; quiet when there is none. Throws Error.
void RemoveEntry(const std::string& path);

// Gives the file at `path` (a link itself, never what it leads to) `time` as
// its modification time (Windows: and creation time), its data and
// attributes untouched, a read-only file's too. Throws Error.
void SetModifiedTime(const std::string& path, std::int64_t time);
// The modification time, in whole seconds, of the file at `path` (links
// followed); false when it has none.
bool ModifiedSecondsOf(const std::string& path, std::int64_t* seconds);

// A file written front to back, such as a log. Move-only. Like an atomic
// file, it is removed by its destructor unless it was renamed into place,
// closed by Close, or kept (Keep): a run that ends by a throw leaves no
// half-written temporary file.
struct OutputFile {
  std::intptr_t handle = -1;
  std::string path;
  bool kept = false;  // closed, not removed, by its destructor
  OutputFile() = default;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile();
};
// What CreateOrReplaceOwn found: the file is open (made, or one of ours
// emptied); another file is at the path; another run holds the file.
enum class OwnFile { kOpened, kForeign, kHeld };
// How far a file is read to tell whether it is one of ours.
constexpr std::size_t kOwnHead = std::size_t{64} << 10;
// Whether a file's first bytes (up to kOwnHead of them) are one of ours.
using OwnTest = bool (*)(std::string_view head);
// Creates `path`, or empties a regular file there whose first bytes pass
// `ours`, in one step: no other file can take the name between the check and
// the creation. The file is held exclusively (as the target is) until it is
// closed: a file another run holds is left as it is, as any other file is.
// `madeName`: the run chose the name (a temporary file's), so a link there,
// or a file with other names too, is never one of ours: emptying it would
// write over a file elsewhere.
OwnFile CreateOrReplaceOwn(const std::string& path, OwnTest ours, OutputFile* file,
                           bool madeName = false);
// Whether a file exists at `path` that `ours` does not pass: what
// CreateOrReplaceOwn would refuse, asked without creating anything.
bool ForeignFileAt(const std::string& path, OwnTest ours);
// Renames the open `file` to `to`, replacing a file there, and closes it
// (POSIX: while still held; Windows: just after, since a file open without
// delete sharing cannot be renamed). Throws Error, the file removed. Does
// nothing to a file no longer open, as do RemoveAndClose and Close.
void RenameAndClose(OutputFile& file, const std::string& to);
// Removes the open `file` and closes it, the same way round; quiet.
void RemoveAndClose(OutputFile& file);
// The file is one the run keeps, such as its log: its destructor closes it
// and leaves it.
inline void Keep(OutputFile& file) { file.kept = true; }
// False once `file` is no longer the file at its path: moved away, removed,
// or another file renamed over it; *removed then tells whether the file has
// no name left at all (its lines are lost) rather than one elsewhere.
bool StillAtItsPath(const OutputFile& file, bool* removed = nullptr);
void Append(OutputFile& file, std::string_view data);
// Puts what was appended on stable storage (POSIX fsync, Windows
// FlushFileBuffers): for a file outside the target's file systems.
void FlushToDisk(OutputFile& file);
// For a caller that counts and reports a failure itself: the same calls, a
// failure an answer (false, with the reason an Error would carry in *why).
bool RemoveEntry(const std::string& path, std::string* why);
bool Append(OutputFile& file, std::string_view data, std::string* why);
bool FlushToDisk(OutputFile& file, std::string* why);
bool RenameAndClose(OutputFile& file, const std::string& to, std::string* why);
// Closes the file and leaves it where it is. Safe to call on a file that is
// not open.
void Close(OutputFile& file);

inline InputFile::InputFile(InputFile&& other) noexcept
    : handle(other.handle),
      path(std::move(other.path)),
      size(other.size),
      modified(other.modified),
      bytesRead(other.bytesRead) {
  other.handle = -1;
}
inline InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close(*this);
    handle = std::exchange(other.handle, -1);
    path = std::move(other.path);
    size = other.size;
    modified = other.modified;
    bytesRead = other.bytesRead;
  }
  return *this;
}
inline InputFile::~InputFile() { Close(*this); }

inline OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle(std::exchange(other.handle, -1)), path(std::move(other.path)), kept(other.kept) {}
inline OutputFile::~OutputFile() {
  if (kept) {
    Close(*this);
  } else {
    RemoveAndClose(*this);
  }
}
inline OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (kept) {  // as its destructor leaves it
      Close(*this);
    } else {
      RemoveAndClose(*this);
    }
    handle = std::exchange(other.handle, -1);
    path = std::move(other.path);
    kept = other.kept;
  }
  return *this;
}

// The size of the file at `path` (links followed); false when it has none.
bool FileSizeOf(const std::string& path, std::uint64_t* size);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_FILES_H_
