// The one seam between the program and the operating system. Everything the
// OS does for us goes through these plain functions; the rest of the program
// never includes an OS header. Paths are the program's own text: separated by
// "\", as bytes on POSIX and as UTF-8 on Windows.
//
// One error convention: every failure throws Error with "path: reason". A
// function that returns bool answers a question (is there a folder, is the
// lock free, is this file ours), and false is an answer, not a failure; the
// few that clean up (RemoveFile, RemoveFolder, Close) stay quiet, since there
// is nothing left to do when they cannot.
#ifndef PLENVAR_PLATFORM_PLATFORM_H_
#define PLENVAR_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plenvar {

// A failure: what it concerns (a path in the program's own text) and why.
struct Error : std::runtime_error {
  std::string path;
  std::string reason;
  Error(std::string failed, std::string why)
      : std::runtime_error(failed + ": " + why), path(std::move(failed)), reason(std::move(why)) {}
};

namespace platform {

// An open file for reading; `handle` is the OS's own (a descriptor or a HANDLE).
struct InputFile {
  std::intptr_t handle = -1;
  std::string path;
  std::uint64_t size = 0;     // when it was opened
  std::int64_t modified = 0;  // last write time when it was opened, in OS units
  std::uint64_t bytes_read = 0;
};

void OpenForReading(const std::string& path, InputFile* file);
// Reads up to `size` bytes into `buffer`; returns 0 only at end of file.
std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size);
// Asks that what follows be read from the disk, not from the system's cache
// of the file (POSIX: its cached pages are dropped). Advice only.
void DropCachedPages(const InputFile& file);
// Safe to call on a file that is not open.
void Close(InputFile& file);
// True when the open file was written to since it was opened, or when what was
// read differs in length from what it held then: a live store changed under us.
bool ChangedSinceOpened(const InputFile& file);

// Writes `data` to the file `temporary` (in the same folder), then renames
// it to `path`, replacing an existing file. On failure no file is left behind.
void WriteFileAtomically(const std::string& path, const std::string& temporary,
                         std::string_view data);
// The two halves of that, for writers that learn a file's final name later:
// WriteNewFile creates or empties `path` and writes `data` (on failure no
// file is left); RenameReplacing renames `from` to `to`, replacing a file there.
void WriteNewFile(const std::string& path, std::string_view data);
void RenameReplacing(const std::string& from, const std::string& to);
// Removes a file; quiet when there is none.
void RemoveFile(const std::string& path);
// A file a run keeps as it found it, which a run killed before its flush may
// have written: puts its data on its way to stable storage as a written
// file's is, so that FlushFileSystem covers it too; false when it cannot.
bool WriteOutKept(const std::string& path);

// A file written front to back, such as a log.
struct OutputFile {
  std::intptr_t handle = -1;
  std::string path;
};
// Creates `path`, or empties a file there whose text begins with `signature`,
// in one step: no other file can take the name between the check and the
// creation. Returns false, leaving an existing file of any other text as it
// is, and opening nothing.
bool CreateOrReplaceOwn(const std::string& path, std::string_view signature, OutputFile* file);
// Whether a file exists at `path` whose text does not begin with `signature`:
// what CreateOrReplaceOwn would refuse, asked without creating anything.
bool ForeignFileAt(const std::string& path, std::string_view signature);
// False once `file` is no longer the file at its path: removed, or another
// file renamed over it.
bool StillAtItsPath(const OutputFile& file);
void Append(OutputFile& file, std::string_view data);
// Safe to call on a file that is not open.
void Close(OutputFile& file);

// What a folder listing holds. Files are regular files and links to them;
// folders are directories and links to them; anything else (FIFO, socket,
// device, dangling link) is Other and must never be opened.
enum class EntryKind { kFolder, kFile, kOther };

struct Entry {
  std::string name;  // no folder part
  std::string path;  // the folder's path text + "\" + name
  EntryKind kind;
};

// Tells folders apart whatever path leads to them, so that a walk through
// links can notice a folder it is already inside.
struct FolderId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FolderId& other) const {
    return volume == other.volume && index == other.index;
  }
};

struct Folder {
  FolderId id;
  std::vector<Entry> folders;  // in listing order
  std::vector<Entry> files;    // in listing order, Other entries among them
};

// Lists a folder; fails when it does not exist or cannot be read.
Folder OpenFolder(const std::string& path);

// The one letter-case folding of the program: ASCII a-z to A-Z, all else kept.
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The listing order on every platform: names compared with ASCII a-z folded to
// upper case, byte by byte; ties broken by plain byte order.
bool ListsBefore(const std::string& a, const std::string& b);
void SortListing(std::vector<Entry>* entries);

// Tells the OS that a buffer will be filled front to back and kept: where it
// helps, it asks for huge pages, so that a message of hundreds of MB does not
// pay a page fault per 4 KiB. Does nothing for small buffers.
void AdviseLargeBuffer(char* data, std::size_t size);

// How much of `path` names where a tree starts rather than a folder in it,
// which is never tested or made: the leading "\" run on POSIX; on Windows
// also "C:\", "\\server\share\" and "\\?\" forms of them.
std::size_t RootLength(std::string_view path);

// Makes one folder level; fails when it exists or its parent is missing.
void MakeFolder(const std::string& path);
// Removes an empty folder; false when it cannot (not empty, not there).
bool RemoveFolder(const std::string& path);
// True when a folder is at `path`; a trailing "\" is accepted.
bool FolderExists(const std::string& path);
// The identity of the folder at `path` (links followed); false when there is
// no folder there.
bool FolderIdOf(const std::string& path, FolderId* id);
// The identity of whatever is at `path`, a file or a folder; false when none.
bool EntryIdOf(const std::string& path, FolderId* id);
// The size of the file at `path` (links followed); false when it has none.
bool FileSizeOf(const std::string& path, std::uint64_t* size);

// Puts every file and folder written on the file system that holds `folder`
// on stable storage, before the run may say it is done.
void FlushFileSystem(const std::string& folder);

// A lock on a folder that one process at a time may hold, released when it
// ends however it ends, and that leaves no file behind.
struct FolderLock {
  std::intptr_t handle = -1;
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();
};
// Takes the lock on the existing folder `path`; false when another holder has
// it. Failures throw Error.
bool LockFolder(const std::string& path, FolderLock* lock);

// SIGINT, SIGTERM and SIGHUP (POSIX): the first asks the run to stop at the
// next safe point, a second ends the process at once. Nothing on Windows,
// where the program has no console to be interrupted from.
void CatchInterrupts();
// The number of the signal that asked the run to stop; 0 while none did.
int Interruption();
// What the calling thread is working on, as a number of the caller's (0:
// nothing); and that of the thread the first stop signal arrived in, so that
// the run can stop where the signal found it.
void SetThreadWork(std::int64_t work);
std::int64_t InterruptedWork();
// "SIGINT" for SIGINT.
std::string SignalName(int signal);

// The program's argument text after its name.
std::string CommandLine(int argc, char** argv);
// A path that begins with "~\" (or is "~") with the home folder in its place,
// as a shell would have it (POSIX); any other path as it is. Throws Error
// when there is no home folder to put there.
std::string ExpandHome(std::string path);

enum NoticeStyle { kIconError = 0x10, kIconWarning = 0x30, kIconInformation = 0x40 };

struct Notice {
  std::string text;  // lines separated by CR LF
  std::string title;
  int style;
};

// Shows a notice and returns once the user has seen it.
void ShowNotice(const Notice& notice);

// A line of progress, where someone watches: on POSIX when standard error is
// a terminal; never on Windows, where the program has no console.
bool ProgressWanted();
// The columns of the terminal the progress line is drawn on; 0 when unknown.
std::size_t TerminalWidth();
// Draws the line over the last one; ClearProgress removes it.
void ShowProgress(std::string_view line);
void ClearProgress();

// A path of the program's own text as the system writes it: with "/" on
// POSIX, as it is on Windows.
std::string DisplayPath(std::string path);

// Appends text with every control character (C0 and DEL) written as "\xHH":
// the escape of notices on a terminal and of the log's fields.
void AppendEscaped(std::string_view text, std::string* out);

// Text from the store (a name, a reason) as it may be shown: where notices go
// to a terminal, control characters become "\xHH" so that a name cannot move
// the cursor or forge a line; elsewhere the text is kept as it is.
std::string Printable(std::string_view text);

}  // namespace platform
}  // namespace plenvar

#endif  // PLENVAR_PLATFORM_PLATFORM_H_
