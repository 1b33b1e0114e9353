// Windows files: those read, and what the program asks of a file by its path.
#include "platform/files.h"

#include <windows.h>

#include <atomic>

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

// The file opened for reading, or INVALID_HANDLE_VALUE with why.
HANDLE OpenShared(const std::wstring& name, DWORD flags, std::string* why) {
  for (int attempt = 0;; ++attempt) {
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION) {
      *why = SystemError("", error).reason;
      return handle;
    }
    if (attempt == kHeldRetries || stillHeld.load() >= kHeldFilesWaitedFor) {
      if (attempt == kHeldRetries) ++stillHeld;
      *why = "another program has it open";
      return handle;
    }
    Sleep(kHeldWaitMs);
  }
}

}  // namespace

bool OpenToRead(const std::string& path, InputFile* file, bool followLinks, std::string* why) {
  // Sharing writing and deletion: a live server goes on delivering into a
  // mailbox while it is read (ChangedSinceOpened tells), and may hold it
  // open for writing all the time.
  const std::wstring name = SystemPath(path);
  HANDLE handle = OpenShared(
      name, FILE_FLAG_SEQUENTIAL_SCAN | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), why);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                 GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (regular && !followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Opened as itself: a link is refused, any other is opened for its content.
    regular = !IsLink(handle);
    CloseHandle(handle);
    if (!regular) {
      *why = "not a regular file (a link)";
      return false;
    }
    handle = OpenShared(name, FILE_FLAG_SEQUENTIAL_SCAN, why);
    if (handle == INVALID_HANDLE_VALUE) return false;
    regular = GetFileInformationByHandle(handle, &info) != 0;
  }
  if (!regular) {
    CloseHandle(handle);
    *why = "not a regular file";
    return false;
  }
  Close(*file);
  file->handle = reinterpret_cast<std::intptr_t>(handle);
  file->path = path;
  file->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  file->modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  file->bytesRead = 0;
  return true;
}

bool ReadSome(InputFile& file, char* buffer, std::size_t size, std::size_t* got, std::string* why) {
  DWORD n = 0;
  const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
  if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), buffer, want, &n, nullptr)) {
    const DWORD error = GetLastError();
    *why = error == ERROR_LOCK_VIOLATION ? "another program has locked part of it"
                                         : SystemError("", error).reason;
    return false;
  }
  file.bytesRead += n;
  *got = n;
  return true;
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

bool FileSizeOf(const std::string& path, std::uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

}  // namespace plenvar::platform
