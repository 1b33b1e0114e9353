#include "target/message_names.h"

#include <cinttypes>
#include <cstdio>

namespace plenvar {

std::string MessageFileName(std::int64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%018" PRId64 ".MAI", number);
  return name;
}

std::string MessageFilePath(const std::string& folder, std::int64_t number) {
  return folder + "\\" + MessageFileName(number);
}

std::string TemporaryPath(const std::string& folder, std::int64_t mailFile, std::int64_t k) {
  char name[64];
  std::snprintf(name, sizeof name, "\\%018" PRId64 "-%" PRId64 ".MAI.tmp", mailFile, k);
  return folder + name;
}

namespace {

// Whether `name` begins with 18 digits, and the number they spell: 0 is a
// number like any other, not a name of another kind.
bool Leading18(std::string_view name, std::int64_t* number) {
  *number = 0;
  if (name.size() < 18) return false;
  for (std::size_t i = 0; i < 18; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    *number = *number * 10 + (name[i] - '0');
  }
  return true;
}

}  // namespace

NameKind KindOfName(std::string_view name, std::int64_t* number) {
  if (!Leading18(name, number)) return NameKind::kOther;
  const std::string_view rest = name.substr(18);
  if (rest == ".MAI") return NameKind::kMessageFile;
  if (rest == ".MAI.tmp") return NameKind::kTemporary;
  // "-<k>.MAI.tmp"
  std::size_t digits = 1;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  if (rest.size() > 1 && rest[0] == '-' && digits > 1 && rest.substr(digits) == ".MAI.tmp")
    return NameKind::kTemporary;
  return NameKind::kOther;
}

}  // namespace plenvar
