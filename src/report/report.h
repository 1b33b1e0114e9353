// What a run reports: its failures by kind, what it did, and (when there is
// a log) every line of the log, written here alone, in commit order.
#ifndef PLENVAR_REPORT_REPORT_H_
#define PLENVAR_REPORT_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/mail_date.h"

namespace plenvar {

// What failed during a run. A failing step is skipped and the walk goes on,
// but the run must not claim success.
enum FailureKind {
  kFolderNotOpened,
  kMailFileNotRead,
  kMessageNotWritten,
  kNotRegularFile,
  kMailFileChanged,
  kNotFlushed,
  kLogNotWritten,
  // Found by a verify:
  kMessageMissing,
  kMessageDiffers,
  kExtraFile,
  // The "/MANIFEST:" file (not among the log's total line's counts, whose
  // fields keep their places):
  kManifestFailed,
  // A mail file the mask selects inside the target, which the walk passes by
  // (its count ends the log's total line):
  kInsideTarget,
  // A message file with the right bytes but not its message's time, found by
  // a verify with "/DATES" (its count ends the log's total line):
  kMessageTimeDiffers,
  kFailureKinds
};

// What a run does with the messages it cuts: writes them; only counts them
// (a dry run, which creates nothing in the target); compares them with the
// message files in the target; or, with no source, checks the target against
// a manifest alone.
enum class RunKind { kExport, kList, kVerify, kManifestCheck };
constexpr int kRunKinds = 4;

// Each kind of run's words: its name in the notices ("Export Completed") and
// what it did with what it read.
struct RunKindText {
  const char* name;
  const char* did;
};
extern const RunKindText kRunText[kRunKinds];
inline const RunKindText& TextOf(RunKind run) { return kRunText[static_cast<int>(run)]; }

// Each failure kind's name in the log and its line in the notice for each
// kind of run (in RunKind order), in FailureKind order: one table, so that
// no run says what another kind of run did.
struct FailureKindText {
  const char* logName;
  const char* label[kRunKinds];
};
extern const FailureKindText kFailureText[kFailureKinds];
const char* LabelOf(FailureKind kind, RunKind run);

struct Failure {
  FailureKind kind;
  std::string path;  // in the program's own text
  std::string reason;
};

// A message file that could not be written; it ends its mail file.
Failure NotWritten(const std::string& messageFile, std::string reason, const std::string& mailFile);

struct RunLog;

// What a run did: folders walked, mail files cut, and the messages written
// (or, for a dry run, found) with their bytes; of the messages, those whose
// message file a rerun found already in place, with exactly its text, and
// left as it was.
struct RunTotals {
  std::int64_t folders = 0;
  std::int64_t mailFiles = 0;
  std::int64_t messages = 0;
  std::int64_t bytes = 0;
  std::int64_t inPlace = 0;
};

// A run with "/DATES": how many of the messages took their time from each
// source, in TimeSource order (Received:, Date:, the mail file).
struct DateCounts {
  bool on = false;
  std::int64_t sources[3] = {};
  void Count(TimeSource source) { ++sources[static_cast<int>(source)]; }
};

// The manifest renamed into place, and its own SHA-256; empty when none.
struct ManifestNote {
  std::string path, digest;
  bool read = false;  // the one a check was made from, not one written
};

struct ExportReport {
  static constexpr std::size_t kListed = 10;
  RunKind run = RunKind::kExport;
  std::int64_t counts[kFailureKinds] = {};
  std::int64_t total = 0;
  std::vector<Failure> failures;  // the first kListed
  RunTotals done;                 // what the run did
  DateCounts dates;               // a run with "/DATES": where the times came from
  // The signal that stopped the run before the walk was done; 0 when none did.
  int interrupted = 0;
  RunLog* log = nullptr;  // every failure and mail file goes there too
  ManifestNote manifest;  // the manifest renamed into place, or the one a check read

  void Fail(Failure failure);
  // A file of the program's own that the run removed from the target, and why.
  void Removed(const std::string& path, const std::string& what);
  // One mail file done: `messages` message files numbered from `first`.
  void MailFileDone(const std::string& source, const std::string& targetFolder, std::int64_t first,
                    std::int64_t messages, std::int64_t bytes);
};

// Ends the log, if there is one: an `interrupted` line when a signal stopped
// the run, a `manifest` line with its path and digest, a `dates` line with
// the counts of each time source (a run with "/DATES"), then the totals. A
// log that could not be written to its end, or that is no longer at its path,
// is a failure of the run.
void EndRunLog(ExportReport& report);

}  // namespace plenvar

#endif  // PLENVAR_REPORT_REPORT_H_
