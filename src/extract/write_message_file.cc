#include <cinttypes>
#include <cstdio>

#include "extract/extract.h"
#include "platform/platform.h"

namespace plenvar {

std::int64_t MessageCount = 0;

std::string MessageFileName(std::int64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%018" PRId64 ".MAI", number);
  return name;
}

void MakeLastFolderLevel(const std::string& targetFolder) {
  try {
    platform::MakeFolder(targetFolder);
  } catch (const Error&) {
    // It normally exists already; if it truly is missing, the write says so.
  }
}

void WriteMessageFile(std::string_view message, const std::string& targetFolder,
                      bool folderExists) {
  if (!folderExists) MakeLastFolderLevel(targetFolder);
  ++MessageCount;  // before the write: a failed message still uses its number
  try {
    platform::WriteFileAtomically(targetFolder + "\\" + MessageFileName(MessageCount), message);
  } catch (const Error& e) {
    throw WriteError(e.path, e.reason);
  }
}

}  // namespace plenvar
