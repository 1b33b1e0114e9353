// The throwing forms of the calls that return their failure: the same on
// every system, over the per-OS calls.
#include "platform/files.h"
#include "platform/folders.h"

namespace plenvar::platform {

void OpenForReading(const std::string& path, InputFile* file, bool followLinks) {
  std::string why;
  if (!OpenToRead(path, file, followLinks, &why)) throw Error(path, why);
}

std::size_t ReadBlock(InputFile& file, char* buffer, std::size_t size) {
  std::size_t got = 0;
  std::string why;
  if (!ReadSome(file, buffer, size, &got, &why)) throw Error(file.path, why);
  return got;
}

Folder OpenFolder(const std::string& path) {
  Folder folder;
  std::string why;
  if (!OpenFolder(path, &folder, &why)) throw Error(path, why);
  return folder;
}

void MakeFolder(const std::string& path) {
  std::string why;
  if (!MakeFolder(path, &why)) throw Error(path, why);
}

void FlushFileSystem(const std::string& folder) {
  std::string why;
  if (!FlushFileSystem(folder, &why)) throw Error(folder, why);
}

void FlushFolder(const std::string& folder) {
  std::string why;
  if (!FlushFolder(folder, &why)) throw Error(folder, why);
}

void RemoveEntry(const std::string& path) {
  std::string why;
  if (!RemoveEntry(path, &why)) throw Error(path, why);
}

void RenameAndClose(OutputFile& file, const std::string& to) {
  std::string why;
  if (!RenameAndClose(file, to, &why)) throw Error(to, why);
}

void Append(OutputFile& file, std::string_view data) {
  std::string why;
  if (!Append(file, data, &why)) throw Error(file.path, why);
}

void FlushToDisk(OutputFile& file) {
  std::string why;
  if (!FlushToDisk(file, &why)) throw Error(file.path, why);
}

}  // namespace plenvar::platform
