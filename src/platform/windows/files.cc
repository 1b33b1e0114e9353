// Windows files.
#include "platform/files.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/folders.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

Error SystemError(const std::string& path, unsigned long error) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason =
      n > 0 ? Narrow(std::wstring_view(text, n)) : "error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() &&
         (reason.back() == '\r' || reason.back() == '\n' || reason.back() == ' ')) {
    reason.pop_back();
  }
  return Error(path, reason);
}

namespace {

std::uint64_t SizeOf(HANDLE handle) {
  LARGE_INTEGER size;
  return GetFileSizeEx(handle, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::int64_t ModifiedOf(HANDLE handle) {
  FILETIME written;
  if (!GetFileTime(handle, nullptr, nullptr, &written)) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                   written.dwLowDateTime);
}

// 100 ns units from 1601 to 1970.
constexpr std::int64_t kEpochTicks = 116444736000000000;

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

std::int64_t ModifiedSeconds(const InputFile& file) {
  const std::int64_t since = file.modified - kEpochTicks;
  return since >= 0 ? since / 10000000 : -((-since + 9999999) / 10000000);
}

namespace {

// A mail server holds a mailbox exclusively only while it delivers into it,
// so an open that meets another program's exclusive hold is tried again,
// twice, half a second apart. A server that holds every mailbox for as long
// as it runs would cost that second per file: once ten files in a run stayed
// held, held files fail at once.
constexpr int kHeldRetries = 2;
constexpr DWORD kHeldWaitMs = 500;
constexpr int kHeldFilesWaitedFor = 10;
std::atomic<int> stillHeld{0};

}  // namespace

namespace {

// Whether the file open as itself is a link: a reparse point that names
// another entry (a symbolic link, a junction). Others (deduplicated or
// tiered files) are files whose content their driver supplies.
bool IsLink(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
         (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(tag.ReparseTag);
}

HANDLE OpenShared(const std::string& path, const std::wstring& name, DWORD flags) {
  for (int attempt = 0;; ++attempt) {
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) throw SystemError(path, error);
    if (attempt == kHeldRetries || stillHeld.load() >= kHeldFilesWaitedFor) {
      if (attempt == kHeldRetries) ++stillHeld;
      throw Error(path, "another program has it open");
    }
    Sleep(kHeldWaitMs);
  }
}

}  // namespace

void OpenForReading(const std::string& path, InputFile* file, bool followLinks) {
  // Sharing writing and deletion: a live server goes on delivering into a
  // mailbox while it is read (ChangedSinceOpened tells), and may hold it
  // open for writing all the time.
  const std::wstring name = SystemPath(path);
  HANDLE handle = OpenShared(
      path, name, FILE_FLAG_SEQUENTIAL_SCAN | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT));
  BY_HANDLE_FILE_INFORMATION info;
  bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                 GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (regular && !followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Opened as itself: a link is refused, any other is opened for its content.
    regular = !IsLink(handle);
    CloseHandle(handle);
    if (!regular) throw Error(path, "not a regular file (a link)");
    handle = OpenShared(path, name, FILE_FLAG_SEQUENTIAL_SCAN);
    regular = GetFileInformationByHandle(handle, &info) != 0;
  }
  if (!regular) {
    CloseHandle(handle);
    throw Error(path, "not a regular file");
  }
  file->handle = reinterpret_cast<std::intptr_t>(handle);
  file->path = path;
  file->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  file->modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  file->bytesRead = 0;
}

std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size) {
  DWORD n = 0;
  const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), buffer, want, &n, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION)
      throw Error(file.path, "another program has locked part of it");
    throw SystemError(file.path, error);
  }
  file.bytesRead += n;
  return n;
}

// Windows offers no way to drop one file's cached pages without opening it
// unbuffered, which needs sector-aligned reads: a verify reads through the cache.
void DropCachedPages(const InputFile&) {}

void Close(InputFile& file) {
  if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
}

bool ChangedSinceOpened(const InputFile& file) {
  const HANDLE handle = reinterpret_cast<HANDLE>(file.handle);
  return SizeOf(handle) != file.size || ModifiedOf(handle) != file.modified ||
         file.bytesRead != file.size;
}

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

bool ModifiedSecondsOf(const std::string& path, std::int64_t* seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  InputFile file;
  file.modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime);
  *seconds = ModifiedSeconds(file);
  return true;
}

void RemoveEntry(const std::string& path) {
  if (const DWORD error = RemoveAt(SystemPath(path))) throw SystemError(path, error);
}

namespace {

// The first bytes of the open file, up to kOwnHead of them; false when it
// cannot be read.
bool ReadHead(HANDLE handle, std::string* head) {
  head->assign(kOwnHead, '\0');
  std::size_t have = 0;
  while (have < head->size()) {
    DWORD n = 0;
    if (!ReadFile(handle, head->data() + have, static_cast<DWORD>(head->size() - have), &n,
                  nullptr))
      return false;
    if (n == 0) break;
    have += n;
  }
  head->resize(have);
  return true;
}

// FILE_SHARE_READ only: nothing can rename over the log or remove it while
// the run has it open.
HANDLE OpenLog(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
  return CreateFileW(SystemPath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// Whether the open file is a plain file under one name: no link, no
// reparse point.
bool AloneAtItsName(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && info.nNumberOfLinks == 1;
}

}  // namespace

// FILE_SHARE_READ is the lock: while a run has the file open for writing,
// another run's open for writing fails with a sharing violation.
OwnFile CreateOrReplaceOwn(const std::string& path, OwnTest ours, OutputFile* file, bool madeName) {
  for (int attempt = 0;; ++attempt) {
    // CREATE_NEW: the name is ours only if nothing had it.
    HANDLE handle = OpenLog(path, GENERIC_WRITE, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
      handle = OpenLog(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING,
                       madeName ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
      if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND && attempt < 3)
        continue;  // removed since: create it again
      if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
        return OwnFile::kHeld;
      std::string head;
      if (handle != INVALID_HANDLE_VALUE &&
          (!ReadHead(handle, &head) || !ours(head) || (madeName && !AloneAtItsName(handle)))) {
        CloseHandle(handle);
        return OwnFile::kForeign;
      }
      // The file checked is the file emptied: the same handle does both.
      if (handle != INVALID_HANDLE_VALUE &&
          (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
           !SetEndOfFile(handle))) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        throw SystemError(path, error);
      }
    }
    if (handle == INVALID_HANDLE_VALUE) throw SystemError(path, GetLastError());
    file->handle = reinterpret_cast<std::intptr_t>(handle);
    file->path = path;
    return OwnFile::kOpened;
  }
}

bool ForeignFileAt(const std::string& path, OwnTest ours) {
  HANDLE handle =
      CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;  // creating it tells why
  std::string head;
  const bool foreign = !ReadHead(handle, &head) || !ours(head);
  CloseHandle(handle);
  return foreign;
}

void RemoveAndClose(OutputFile& file) {
  if (file.handle == -1) return;
  Close(file);
  DeleteFileW(SystemPath(file.path).c_str());
}

void RenameAndClose(OutputFile& file, const std::string& to) {
  if (file.handle == -1) return;
  Close(file);
  if (!MoveFileExW(SystemPath(file.path).c_str(), SystemPath(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(SystemPath(file.path).c_str());
    throw SystemError(to, error);
  }
}

bool StillAtItsPath(const OutputFile& file, bool* removed) {
  BY_HANDLE_FILE_INFORMATION open;
  const bool opened = GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.handle), &open);
  if (removed != nullptr) *removed = !opened || open.nNumberOfLinks == 0;
  if (!opened || open.nNumberOfLinks == 0) return false;
  FolderId named;
  return EntryIdOf(file.path, &named) && named.volume == open.dwVolumeSerialNumber &&
         named.index ==
             ((static_cast<std::uint64_t>(open.nFileIndexHigh) << 32) | open.nFileIndexLow);
}

void Append(OutputFile& file, std::string_view data) {
  const HANDLE handle = reinterpret_cast<HANDLE>(file.handle);
  while (!data.empty()) {
    DWORD n = 0;
    const DWORD want = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
    if (!WriteFile(handle, data.data(), want, &n, nullptr))
      throw SystemError(file.path, GetLastError());
    if (n == 0) throw SystemError(file.path, ERROR_WRITE_FAULT);
    data.remove_prefix(n);
  }
}

void FlushToDisk(OutputFile& file) {
  if (!FlushFileBuffers(reinterpret_cast<HANDLE>(file.handle)))
    throw SystemError(file.path, GetLastError());
}

void Close(OutputFile& file) {
  if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
}

// Large pages on Windows need a privilege a migration tool should not ask for.
void AdviseLargeBuffer(char*, std::size_t) {}

bool FileSizeOf(const std::string& path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace plenvar::platform
