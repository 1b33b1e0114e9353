// Windows files written whole: a new file, or one renamed into place
// atomically, on its way to the disk; entries removed.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

namespace {

FILETIME FileTimeOf(std::int64_t seconds) {
  const auto ticks = static_cast<std::uint64_t>(seconds * 10000000 + kEpochTicks);
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The modification and creation time of the open file; true when set.
bool SetTimes(HANDLE handle, std::int64_t seconds) {
  const FILETIME time = FileTimeOf(seconds);
  return ::SetFileTime(handle, &time, nullptr, &time) != 0;
}

}  // namespace

// Durability as git's batch mode has it: each message file's data is written
// out to the disk without flushing the disk's cache, its rename is not
// written through, and before the run says it is done one full flush per
// target volume (FlushFileSystem) commits the file system's journal, with
// every rename and folder in it, and flushes the disk's cache, with every
// file's data in it. A full flush costs a disk-cache flush (1-30 ms on a real
// disk): once per volume instead of once per message. Where the system has no
// write-out call, each file gets a full flush of its own, as git does.
namespace {

// IO_STATUS_BLOCK: a status and a count, each as wide as a pointer.
struct IoStatus {
  ULONG_PTR words[2];
};
using WriteOutCall = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, IoStatus*);
constexpr ULONG kFlushFileDataOnly = 1;  // FLUSH_FLAGS_FILE_DATA_ONLY

// Looked up at run time: NtFlushBuffersFileEx came with Windows 8, and a
// missing import would keep the program from starting on Windows 7.
WriteOutCall LookUpWriteOut() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  FARPROC call = ntdll == nullptr ? nullptr : GetProcAddress(ntdll, "NtFlushBuffersFileEx");
  return reinterpret_cast<WriteOutCall>(reinterpret_cast<void (*)()>(call));
}

WriteOutCall writeOutCall = LookUpWriteOut();

bool WriteOut(void* handle) {
  IoStatus status{};
  return writeOutCall(handle, kFlushFileDataOnly, nullptr, 0, &status) >= 0;
}

bool FlushAll(void* handle) { return FlushFileBuffers(handle) != 0; }

// Puts a written file's data on its way to the disk; 0 or an error code.
DWORD PutOnDisk(HANDLE handle) {
  const DiskCalls& disk = Disk();
  // A file system that refuses the write-out gets the full flush.
  if (disk.writeOut != nullptr && disk.writeOut(handle)) return 0;
  return disk.flush(handle) ? 0 : GetLastError();
}

// Removes the file open as `handle` and closes it.
void DeleteAndClose(HANDLE handle, const std::wstring& path) {
  FILE_DISPOSITION_INFO dispose{TRUE};
  const bool deleted =
      SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose) != 0;
  CloseHandle(handle);
  if (!deleted) DeleteFileW(path.c_str());
}

// Removes the entry at `path` as itself (a link, not what it leads to), a
// folder only if it is empty; 0 or an error code.
DWORD RemoveAt(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
  }
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? RemoveDirectoryW(path.c_str()) != 0
                           : DeleteFileW(path.c_str()) != 0;
  return removed || GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : GetLastError();
}

// Makes `path` a new file, writes data and puts it on disk; 0 with the file
// left open as *handle, or an error code with no file left. CREATE_NEW first,
// so that the usual case costs one call: an entry there (a link, a hard link
// to another file) is removed, never opened, and the name created afresh.
DWORD WriteNew(const std::wstring& path, std::string_view data, HANDLE* handle, std::int64_t time,
               bool* notRemoved) {
  const auto create = [&path] {
    return CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  *handle = create();
  for (int attempt = 0; *handle == INVALID_HANDLE_VALUE && attempt < 3; ++attempt) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
    if (const DWORD removal = RemoveAt(path)) {
      *notRemoved = true;
      return removal;
    }
    *handle = create();
  }
  if (*handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = 0;
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0 && error == 0) {
    DWORD n = 0;
    const DWORD want = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!WriteFile(*handle, p, want, &n, nullptr)) {
      error = GetLastError();
    } else if (n == 0) {
      error = ERROR_WRITE_FAULT;
    }
    p += n;
    left -= n;
  }
  // After the last write, which would set it again; the rename keeps it.
  if (error == 0 && time != kSystemTime && !SetTimes(*handle, time)) error = GetLastError();
  if (error == 0) error = PutOnDisk(*handle);
  if (error != 0) DeleteAndClose(*handle, path);
  return error;
}

// Renames the open file to `to`, replacing a file there: one call on the
// handle instead of opening the file again by name.
DWORD RenameOpen(HANDLE handle, const std::wstring& to) {
  const std::size_t bytes = to.size() * sizeof(wchar_t);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::copy(to.begin(), to.end(), info->FileName);
  return SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))
             ? 0
             : GetLastError();
}

}  // namespace

DiskCalls& Disk() {
  static DiskCalls calls{writeOutCall != nullptr ? WriteOut : nullptr, FlushAll};
  return calls;
}

namespace {

Error WriteError(const std::string& path, const std::string& temporary, DWORD error,
                 bool notRemoved) {
  if (!notRemoved) return SystemError(path, error);
  return Error(path, "what is at its temporary name " +
                         temporary.substr(temporary.rfind('\\') + 1) +
                         " could not be removed: " + SystemError(path, error).reason);
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& temporaryPath,
                         std::string_view data, std::int64_t time) {
  const std::wstring temporary = SystemPath(temporaryPath);
  HANDLE handle;
  bool notRemoved = false;
  DWORD error = WriteNew(temporary, data, &handle, time, &notRemoved);
  if (error == 0) {
    error = RenameOpen(handle, SystemPath(path));
    if (error != 0) {
      DeleteAndClose(handle, temporary);
    } else if (!CloseHandle(handle)) {
      error = GetLastError();
    }
  }
  if (error != 0) throw WriteError(path, temporaryPath, error, notRemoved);
}

void WriteNewFile(const std::string& path, std::string_view data, std::int64_t time) {
  const std::wstring name = SystemPath(path);
  HANDLE handle;
  bool notRemoved = false;
  DWORD error = WriteNew(name, data, &handle, time, &notRemoved);
  // The file must be closed before it can be renamed or deleted.
  if (error == 0 && !CloseHandle(handle)) {
    error = GetLastError();
    DeleteFileW(name.c_str());
  }
  if (error != 0) throw WriteError(path, path, error, notRemoved);
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (!MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING))
    throw SystemError(to, GetLastError());
}

void RemoveFile(const std::string& path) { DeleteFileW(SystemPath(path).c_str()); }

void SetModifiedTime(const std::string& path, std::int64_t time) {
  // The attributes' right alone, which a read-only file grants too; the link
  // itself, never what it leads to.
  HANDLE handle = CreateFileW(SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw SystemError(path, GetLastError());
  const DWORD error = SetTimes(handle, time) ? 0 : GetLastError();
  CloseHandle(handle);
  if (error != 0) throw SystemError(path, error);
}

bool RemoveEntry(const std::string& path, std::string* why) {
  const DWORD error = RemoveAt(SystemPath(path));
  if (error != 0) *why = SystemError(path, error).reason;
  return error == 0;
}

}  // namespace plenvar::platform
