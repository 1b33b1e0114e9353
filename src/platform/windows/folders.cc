// Windows folder listing.
#include "platform/folders.h"

#include <windows.h>

#include "base/text.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

namespace {

// Volume serial number and file index: the same folder through any junction
// or link gives the same pair.
// 0, or an error code.
DWORD IdOf(const std::string& path, FolderId* id) {
  HANDLE handle = CreateFileW(SystemPath(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!ok) return error;
  *id = {info.dwVolumeSerialNumber,
         (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

}  // namespace

std::size_t RootLength(std::string_view path) { return RootOfPath(path); }

const bool kWindowsNames = true;
const std::size_t kLongestPath = 32767 * 3;

bool EntryIdOf(const std::string& path, FolderId* id) {
  return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES &&
         IdOf(path, id) == 0;
}

bool FolderIdOf(const std::string& path, FolderId* id) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         IdOf(path, id) == 0;
}

namespace {

// Lists the folder into *folder; 0, or an error code.
DWORD List(const std::string& path, Folder* listed) {
  Folder& folder = *listed;
  const std::string prefix = !path.empty() && path.back() == '\\' ? path : path + "\\";
  std::wstring pattern = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(pattern.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
  if (const DWORD error = IdOf(path, &folder.id)) return error;
  pattern += pattern.back() == L'\\' ? L"*" : L"\\*";
  // The basic information only (no 8.3 names), fetched in larger batches.
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  DWORD error = 0;
  for (;;) {
    const std::string name = Narrow(data.cFileName);
    // A link or junction to a folder carries the folder attribute and is
    // followed; a dangling file link fails when it is opened.
    if (name != "." && name != "..") {
      const bool is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      (is_folder ? folder.folders : folder.files)
          .push_back({name, prefix + name, is_folder ? EntryKind::kFolder : EntryKind::kFile});
    }
    if (!FindNextFileW(find, &data)) {
      error = GetLastError();
      break;
    }
  }
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return error;
  SortListing(&folder.folders);
  SortListing(&folder.files);
  return 0;
}

}  // namespace

bool OpenFolder(const std::string& path, Folder* folder, std::string* why) {
  *folder = Folder();
  const DWORD error = List(path, folder);
  if (error != 0) *why = SystemError(path, error).reason;
  return error == 0;
}

// A named mutex rather than a lock file: nothing is left in the target, and
// the system drops it with the process however it ends. The name comes from
// the folder's identity, so that every path to the folder meets the same one.
// A writer holds a named mutex, each reader a handle to a named event: a
// named object lasts while any handle to it is open, and the system closes
// them when the process ends, however it ends. Each run makes its own object
// first and then looks for the other kind, so of two runs that start at once
// at least one sees the other.
Lock LockFolder(const std::string& path, bool shared, FolderLock* lock) {
  FolderId id;
  if (!FolderIdOf(path, &id)) throw Error(path, "not a folder");
  const std::string key = std::to_string(id.volume) + "-" + std::to_string(id.index);
  const std::wstring writer = Wide("Global\\plenvar-" + key);
  const std::wstring readers = Wide("Global\\plenvar-read-" + key);
  // Whether a named object exists; access denied: another user's run made it.
  const auto exists = [](HANDLE handle) {
    const bool there = handle != nullptr || GetLastError() == ERROR_ACCESS_DENIED;
    if (handle != nullptr) CloseHandle(handle);
    return there;
  };
  HANDLE own = shared ? CreateEventW(nullptr, TRUE, FALSE, readers.c_str())
                      : CreateMutexW(nullptr, FALSE, writer.c_str());
  const DWORD error = GetLastError();
  if (own == nullptr && error != ERROR_ACCESS_DENIED) throw SystemError(path, error);
  if (own == nullptr) return shared ? Lock::kHeldByReaders : Lock::kHeldByWriter;
  if (!shared && error == ERROR_ALREADY_EXISTS) {
    CloseHandle(own);
    return Lock::kHeldByWriter;
  }
  if (exists(shared ? OpenMutexW(SYNCHRONIZE, FALSE, writer.c_str())
                    : OpenEventW(SYNCHRONIZE, FALSE, readers.c_str()))) {
    CloseHandle(own);
    return shared ? Lock::kHeldByWriter : Lock::kHeldByReaders;
  }
  lock->handle = reinterpret_cast<std::intptr_t>(own);
  return Lock::kTaken;
}

FolderLock::~FolderLock() {
  if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool MakeFolder(const std::string& path, std::string* why) {
  if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return true;
  *why = SystemError(path, GetLastError()).reason;
  return false;
}

bool RemoveFolder(const std::string& path) {
  return RemoveDirectoryW(SystemPath(path).c_str()) != 0;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const std::string& path) {
  const std::wstring name = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return false;
  // The listing of the entry itself gives its reparse tag: a link names
  // another entry; others (deduplicated or tiered files) hold their own.
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(name.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  FindClose(search);
  return IsReparseTagNameSurrogate(found.dwReserved0);
}

// The full flush of the volume that holds `folder`: of a file made there for
// it, since flushing the volume itself needs administrator rights. On NTFS
// flushing any one file commits the journal and flushes the disk's cache.
// The file is gone when its handle closes, however the process ends, and a
// file of that name that is not ours is left alone.
// Committing the volume's journal makes every rename on it durable.
bool FlushFolder(const std::string& folder, std::string* why) {
  return FlushFileSystem(folder, why);
}

bool FlushFileSystem(const std::string& folder, std::string* why) {
  const std::string base =
      folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + "plenvar-flush";
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; handle == INVALID_HANDLE_VALUE; ++attempt) {
    const std::string path = base + (attempt == 0 ? "" : "-" + std::to_string(attempt)) + ".tmp";
    handle = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || attempt == 9)) {
      *why = SystemError(folder, GetLastError()).reason;
      return false;
    }
  }
  const bool flushed = Disk().flush(handle);
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!flushed) *why = SystemError(folder, error).reason;
  return flushed;
}

}  // namespace plenvar::platform
