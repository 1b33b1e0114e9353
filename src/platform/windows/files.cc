// Windows files and folders, through the ANSI functions so that 8-bit names
// read from a listing open again as they are.
#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

Error SystemError(const std::string& path, unsigned long error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = n > 0 ? std::string(text, n) : "error " + std::to_string(error);
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

}  // namespace

std::string DisplayPath(std::string path) { return path; }

void OpenForReading(const std::string& path, InputFile* file) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw SystemError(path, GetLastError());
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    throw Error(path, "not a regular file");
  }
  file->handle = reinterpret_cast<std::intptr_t>(handle);
  file->path = path;
  file->size = SizeOf(handle);
  file->modified = ModifiedOf(handle);
  file->bytes_read = 0;
}

std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size) {
  DWORD n = 0;
  const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), buffer, want, &n, nullptr)) {
    throw SystemError(file.path, GetLastError());
  }
  file.bytes_read += n;
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
         file.bytes_read != file.size;
}

namespace {

// Windows offers no batched flush without administrator rights (flushing a
// volume handle needs them), so each message file is flushed before it is
// closed, and the rename is written through: once a message file has its
// final name, it and its name are on disk.

// Creates or empties `path`, writes data and flushes it to disk; 0, or an
// error code with no file left.
DWORD WriteNew(const std::string& path, std::string_view data) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = 0;
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0 && error == 0) {
    DWORD n = 0;
    const DWORD want = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!WriteFile(handle, p, want, &n, nullptr)) {
      error = GetLastError();
    } else if (n == 0) {
      error = ERROR_WRITE_FAULT;
    }
    p += n;
    left -= n;
  }
  if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
  // The file must be closed before it can be renamed or deleted.
  if (!CloseHandle(handle) && error == 0) error = GetLastError();
  if (error != 0) DeleteFileA(path.c_str());
  return error;
}

DWORD Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : GetLastError();
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view data) {
  const std::string temporary = path + ".tmp";
  DWORD error = WriteNew(temporary, data);
  if (error == 0 && (error = Replace(temporary, path)) != 0) DeleteFileA(temporary.c_str());
  if (error != 0) throw SystemError(path, error);
}

void WriteNewFile(const std::string& path, std::string_view data) {
  if (const DWORD error = WriteNew(path, data)) throw SystemError(path, error);
}

void RenameReplacing(const std::string& from, const std::string& to) {
  if (const DWORD error = Replace(from, to)) throw SystemError(to, error);
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

namespace {

// Whether the open file begins with `signature`.
bool BeginsWith(HANDLE handle, std::string_view signature) {
  std::string head(signature.size(), '\0');
  std::size_t have = 0;
  while (have < head.size()) {
    DWORD n = 0;
    if (!ReadFile(handle, head.data() + have, static_cast<DWORD>(head.size() - have), &n,
                  nullptr) ||
        n == 0)
      return false;
    have += n;
  }
  return head == signature;
}

// FILE_SHARE_READ only: nothing can rename over the log or remove it while
// the run has it open.
HANDLE OpenLog(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool CreateOrReplaceOwn(const std::string& path, std::string_view signature, OutputFile* file) {
  for (int attempt = 0;; ++attempt) {
    // CREATE_NEW: the name is ours only if nothing had it.
    HANDLE handle = OpenLog(path, GENERIC_WRITE, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
      handle = OpenLog(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
      if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND && attempt < 3)
        continue;  // removed since: create it again
      if (handle != INVALID_HANDLE_VALUE && !BeginsWith(handle, signature)) {
        CloseHandle(handle);
        return false;
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
    return true;
  }
}

bool ForeignFileAt(const std::string& path, std::string_view signature) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;  // creating it tells why
  const bool foreign = !BeginsWith(handle, signature);
  CloseHandle(handle);
  return foreign;
}

bool StillAtItsPath(const OutputFile& file) {
  BY_HANDLE_FILE_INFORMATION open;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.handle), &open) ||
      open.nNumberOfLinks == 0)
    return false;
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

void Close(OutputFile& file) {
  if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
}

// Large pages on Windows need a privilege a migration tool should not ask for.
void AdviseLargeBuffer(char*, std::size_t) {}

void MakeFolder(const std::string& path) {
  if (!CreateDirectoryA(path.c_str(), nullptr)) throw SystemError(path, GetLastError());
}

bool FileSizeOf(const std::string& path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool RemoveFolder(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Nothing is left to do: every message file was flushed before its rename,
// which was written through (WriteNew, Replace), and the folders the run
// made are in the file system's journal, which those flushes commit.
void FlushFileSystem(const std::string&) {}

}  // namespace plenvar::platform
