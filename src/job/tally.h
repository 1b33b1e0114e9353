// What every output does alike: numbering the run's message files and
// telling the report how each mail file went, so that a dry run and any
// number of writers give the same numbers and the same report.
#ifndef PLENVAR_JOB_TALLY_H_
#define PLENVAR_JOB_TALLY_H_

#include <cstdint>
#include <optional>
#include <string>

#include "report/report.h"

namespace plenvar {

// The number of a message that gets none: its mail file ended before it, or
// the run stopped first; its work is only undone.
constexpr std::int64_t kNoNumber = 0;

class Tally {
 public:
  explicit Tally(ExportReport& report) : report_(report) {}
  // The number of the mail file's next message; kNoNumber once a message
  // file of it could not be written, which ends it. A message that cannot be
  // written still uses its number.
  std::int64_t Next() { return abandoned_ ? kNoNumber : ++count_; }
  // A message of the mail file, in its counts: written, listed, or compared
  // (whatever the comparison found).
  void CountMessage(std::int64_t number, std::size_t size);
  // A message whose file was found in place, with exactly its text.
  void Kept(std::int64_t number, std::size_t size);
  void NotWritten(const std::string& path, std::string reason, const std::string& mailFile);
  void EndMailFile(const std::string& source, const std::string& targetFolder,
                   std::optional<Failure> failure);
  ExportReport& Report() { return report_; }

 private:
  ExportReport& report_;
  std::int64_t count_ = 0;  // message files numbered in this run
  // The mail file being ended: its message files so far.
  bool abandoned_ = false;
  std::int64_t first_ = 0, messages_ = 0, bytes_ = 0;
};

}  // namespace plenvar

#endif  // PLENVAR_JOB_TALLY_H_
