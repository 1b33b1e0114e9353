// The names of message files: the one place that makes them and reads them.
#ifndef PLENVAR_TARGET_MESSAGE_NAMES_H_
#define PLENVAR_TARGET_MESSAGE_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plenvar {

// "000000000000000042.MAI" for 42.
std::string MessageFileName(std::int64_t number);
// `folder` + "\" + that.
std::string MessageFilePath(const std::string& folder, std::int64_t number);

// Where message `k` (from 1) of the run's mail file `mailFile` (its place
// among the mail files the walk selects, from 1) is written before it gets
// its number: "000000000000000007-3.MAI.tmp". Known before the numbers of
// earlier mail files are, and the same in every run of the same store, so
// that a rerun of a killed run writes, and renames, every temporary file the
// killed one left.
std::string TemporaryPath(const std::string& folder, std::int64_t mailFile, std::int64_t k);

// What a name found in a target folder is.
enum class NameKind { kOther, kMessageFile, kTemporary };
// A message file's name gives its number in *number; a temporary file is
// one of the names above, or "<18 digits>.MAI.tmp" as earlier versions left.
NameKind KindOfName(std::string_view name, std::int64_t* number);

}  // namespace plenvar

#endif  // PLENVAR_TARGET_MESSAGE_NAMES_H_
