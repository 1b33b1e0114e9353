// Windows files of the program's own, such as its log and its manifest: made
// or replaced only when ours, held while open, written front to back.
#include <windows.h>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/windows/win32.h"

namespace plenvar::platform {

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

bool RenameAndClose(OutputFile& file, const std::string& to, std::string* why) {
  if (file.handle == -1) return true;
  Close(file);
  if (MoveFileExW(SystemPath(file.path).c_str(), SystemPath(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  const DWORD error = GetLastError();
  DeleteFileW(SystemPath(file.path).c_str());
  *why = SystemError(to, error).reason;
  return false;
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

bool Append(OutputFile& file, std::string_view data, std::string* why) {
  const HANDLE handle = reinterpret_cast<HANDLE>(file.handle);
  while (!data.empty()) {
    DWORD n = 0;
    const DWORD want = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
    const DWORD error = !WriteFile(handle, data.data(), want, &n, nullptr) ? GetLastError()
                        : n == 0                                           ? ERROR_WRITE_FAULT
                                                                           : 0;
    if (error != 0) {
      *why = SystemError(file.path, error).reason;
      return false;
    }
    data.remove_prefix(n);
  }
  return true;
}

bool FlushToDisk(OutputFile& file, std::string* why) {
  if (FlushFileBuffers(reinterpret_cast<HANDLE>(file.handle))) return true;
  *why = SystemError(file.path, GetLastError()).reason;
  return false;
}

void Close(OutputFile& file) {
  if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = -1;
}

}  // namespace plenvar::platform
