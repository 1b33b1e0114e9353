// Where messages go. The walk and the cutter hand every event of a run to one
// Output, in walk order; an implementation writes the message files (one
// writer, or several to the same result), or only counts them (a dry run).
// It owns the run's numbering and reports each outcome, in walk order, to
// the run's ExportReport.
#ifndef PLENVAR_OUTPUT_OUTPUT_H_
#define PLENVAR_OUTPUT_OUTPUT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "report/report.h"

namespace plenvar {

class Output {
 public:
  virtual ~Output() = default;
  // The messages of mail file `source` follow, for `targetFolder`.
  virtual void BeginMailFile(const std::string& source, const std::string& targetFolder) = 0;
  // The next message. When `owner` is not null (a large message) the message
  // lies in *owner, which may be taken to spare its copy; taken, *owner is
  // left empty.
  virtual void Message(std::string_view text, std::string* owner) = 0;
  // The mail file ended: read to its end, or `failure` says why not. Its
  // failure is reported unless one of its message files could not be
  // written, which ended it first.
  virtual void EndMailFile(std::optional<Failure> failure) = 0;
  // A failure of the walk itself, reported in its place among the others.
  virtual void Skip(Failure failure) = 0;
  // Returns once every outcome is in the report. What was written is then
  // on stable storage, unless a signal asked the run to stop.
  virtual void Finish() = 0;
};

// A dry run: numbers and counts every message, and writes nothing.
std::unique_ptr<Output> MakeListOutput(ExportReport& report);
// Writes each message as it comes, under a temporary name, renamed into place.
std::unique_ptr<Output> MakeSerialOutput(ExportReport& report);
// Writes with `writers` threads while the walk goes on, to exactly the
// serial output's files, numbers and report.
std::unique_ptr<Output> MakeParallelOutput(int writers, ExportReport& report);

// Writes nothing: compares every message with the message file an export
// would have written, in `writers` threads, and at the end finds the files
// in those folders that the export would not have written.
std::unique_ptr<Output> MakeVerifyOutput(int writers, ExportReport& report);

// "000000000000000042.MAI" for 42.
std::string MessageFileName(std::int64_t number);

}  // namespace plenvar

#endif  // PLENVAR_OUTPUT_OUTPUT_H_
