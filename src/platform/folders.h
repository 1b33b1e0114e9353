// Folders: listed, made, removed, known by identity, flushed and locked. See
// files.h for the seam and its conventions; here a listing failure throws,
// and the questions (FolderExists, FolderIdOf, EntryIdOf) answer false for
// what the walk simply passes by.
#ifndef PLENVAR_PLATFORM_FOLDERS_H_
#define PLENVAR_PLATFORM_FOLDERS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace plenvar::platform {

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

// How much of `path` names where a tree starts rather than a folder in it,
// which is never tested or made: the leading "\" run on POSIX; on Windows
// also "C:\", "\\server\share\" and "\\?\" forms of them.
std::size_t RootLength(std::string_view path);

// How this system names files: Windows has drives, reserved characters
// ("<>:\"|?*" and controls) and device names, and trims a name's trailing
// dots and spaces; POSIX forbids only NUL. And the longest path it opens, in
// the program's bytes (Windows: 32,767 UTF-16 units, up to 3 bytes each).
extern const bool kWindowsNames;
extern const std::size_t kLongestPath;

// Makes one folder level; fails when it exists or its parent is missing.
void MakeFolder(const std::string& path);
// Removes an empty folder; false when it cannot (not empty, not there).
bool RemoveFolder(const std::string& path);
// True when a folder is at `path`; a trailing "\" is accepted.
bool FolderExists(const std::string& path);
// True when the entry at `path` is itself a link (a symbolic link; on Windows
// a reparse point that names another entry), which is not followed.
bool IsLink(const std::string& path);
// The identity of the folder at `path` (links followed); false when there is
// no folder there.
bool FolderIdOf(const std::string& path, FolderId* id);
// The identity of whatever is at `path`, a file or a folder; false when none.
bool EntryIdOf(const std::string& path, FolderId* id);
// Puts every file and folder written on the file system that holds `folder`
// on stable storage, before the run may say it is done.
void FlushFileSystem(const std::string& folder);
// Puts the entries of `folder` (a rename into it) on stable storage.
void FlushFolder(const std::string& folder);
// For a caller to whom a failure is an answer, or that counts and reports it
// itself: the same calls, false with the reason an Error would carry.
bool OpenFolder(const std::string& path, Folder* folder, std::string* why);
bool MakeFolder(const std::string& path, std::string* why);
bool FlushFileSystem(const std::string& folder, std::string* why);
bool FlushFolder(const std::string& folder, std::string* why);

// A lock on a folder that one process at a time may hold, released when it
// ends however it ends, and that leaves no file behind.
struct FolderLock {
  std::intptr_t handle = -1;
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();
};
// Takes the lock on the existing folder `path`: exclusive for a run that
// writes there, shared for one that only reads (any number of readers at
// once, but never with a writer). Says who holds it when it cannot be
// taken. Failures throw Error.
enum class Lock { kTaken, kHeldByWriter, kHeldByReaders };
Lock LockFolder(const std::string& path, bool shared, FolderLock* lock);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_FOLDERS_H_
