// The "/LOG:" file: a tab-separated account of a run, written as it goes, so
// that an interrupted run leaves its log up to that point. Lines:
//   run    version  export|list  source  target  mask  writers  started (UTC)
//   mail   source file  target folder  first  last  messages  bytes
//   fail   kind  path  reason
//   interrupted  signal name (a run that was stopped)
//   manifest  path  its SHA-256 (a run with "/MANIFEST:")
//   dates  messages timed by Received:  by Date:  by the mail file (a run
//          with "/DATES")
//   total  folders  mail files  messages  bytes  failures of each kind (but
//          a manifest's)  seconds  in place  inside the target  times that
//          differ
#ifndef PLENVAR_REPORT_RUN_LOG_H_
#define PLENVAR_REPORT_RUN_LOG_H_

#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace plenvar {

struct RunLog {
  platform::OutputFile file;
  std::string pending;  // lines not yet written
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point flushed;
  std::string error;  // why the first write that failed did; empty while all went well
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog() { platform::Close(file); }
};

// Whether `head`, the start of a file, begins with a whole `run` line as
// LogRun writes it: eight fields, the kind one of this program's, the
// writers a number, the time as LogRun writes it. What counts as a log.
bool StartsAsLog(std::string_view head);

// Creates the log, or replaces an earlier log of this program, and holds it
// for the run: kForeign or kHeld, with nothing opened, when another file or
// another run's log is at `path`. Failures throw Error.
platform::OwnFile OpenRunLog(const std::string& path, RunLog* log);

// The first line: what was asked for, and when (UTC).
void LogRun(RunLog& log, std::string_view version, std::string_view mode, const std::string& source,
            const std::string& target, std::string_view mask, int writers);

// One line of fields. Tabs and other control characters in a field are
// written as \xHH, so that every line splits into the same columns.
void LogLine(RunLog& log, std::initializer_list<std::string_view> fields);

// Writes what is pending. A failure is kept in log.error, not thrown: the
// export goes on, and the run reports it at the end.
void FlushRunLog(RunLog& log);

}  // namespace plenvar

#endif  // PLENVAR_REPORT_RUN_LOG_H_
