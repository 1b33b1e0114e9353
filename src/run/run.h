// Run control: options from the command line, the notices, and the export.
#ifndef PLENVAR_RUN_RUN_H_
#define PLENVAR_RUN_RUN_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/control.h"
#include "base/notice.h"
#include "manifest/manifest.h"
#include "output/output.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "report/run_log.h"
#include "walk/walk.h"

namespace plenvar {

// Exit statuses.
enum ExitStatus { kExitClean = 0, kExitWithFailures = 1, kExitUsage = 2 };

// The text after the first startMarker up to the next endMarker (or the end),
// markers found ignoring letter case; empty when startMarker is absent.
std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker);

// The value of option `key`: up to the next "/", without double quotes and
// without the spaces at its ends.
std::string GetParameter(std::string_view commandLine, std::string_view key);

// Why the command line cannot be run as it stands (a word that is no option,
// an option given twice, text outside any option, a flag with a value), as a
// notice's text; empty when every word is one of the program's options.
std::string CheckOptions(std::string_view commandLine);

// What the command line asks for, read once.
struct Options {
  std::string source, target, mask, log, manifest;
  bool logWanted = false, manifestWanted = false;
  // "/MT:n" (1 to 64), one per core up to 8 without it, 0 when its value is
  // not such a number.
  int writers = 0;
  bool list = false, verify = false;
  bool dates = false;   // "/DATES": message files get their messages' times
  bool silent = false;  // "/SILENT", in capitals
  // "/VERIFY" with "/MANIFEST:" and no "/S:": the manifest checked alone.
  bool ManifestOnly() const { return verify && manifestWanted && source.empty(); }
  RunKind Kind() const {
    return list ? RunKind::kList : verify ? RunKind::kVerify : RunKind::kExport;
  }
};

// Reads the command line into *options: every word against the table of
// options, then the checks in their specified order (the usage notice, the
// missing /T: and /S:), then the program's own. Returns the notice that
// refuses the command line, or nothing when it can run.
std::optional<Notice> ParseOptions(std::string_view commandLine, Options* options);

extern const char kUsageText[];
extern const char kHelpText[];     // for --help: every option, a line each
extern const char kVersionText[];  // "plenvar X.Y.Z"

// The completion notice: "Export Completed", or its warning form that tells
// what failed.
// A dry run's notice says "List Completed", a verify's "Verify Completed";
// both end with the totals.
Notice CompletionNotice(const ExportReport& report);

using NoticeFunction = std::function<void(const Notice&)>;

// How far a run has come.
struct Progress {
  std::int64_t mailFiles = 0;
  std::int64_t bytes = 0;     // read from the mail files
  std::int64_t messages = 0;  // cut from them
};

// The figures of a run, drawn alike by every system: "1,234/45,701 mail
// files  12.3/200.0 MB  3,456 messages  45.6 MB/s  0:12 left", no longer than
// `width`: the messages go first, then the rate, the time left and the
// megabytes; what is left is cut (to nothing for a width of 0).
std::string FormatProgress(const StoreSize& total, const Progress& done, double seconds,
                           std::size_t width = platform::kAnyWidth);
// The part done, 0 to 1: bytes read against the bytes counted before the run.
double DoneFraction(const StoreSize& total, const Progress& done);

// The progress of a run someone watches: a line on a terminal (POSIX), a
// window (Windows). Opened at once, then the store counted for its totals,
// then redrawn ten times a second from the counts in `control` by a thread of
// its own, so that neither the walk nor the workers wait on the display;
// closed when it goes. The window's Cancel sets the control's stop flag.
class ProgressLine {
 public:
  ProgressLine(const Selection& selection, RunControl& control);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  void Draw();

  StoreSize total_;
  const RunControl& control_;
  std::chrono::steady_clock::time_point started_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool ending_ = false;
  std::thread thread_;
};

// How a run goes beyond its three parameters.
struct ExportOptions {
  // Threads that cut mail files and work on their messages; with one, the
  // walk's thread cuts and works on each message as it comes.
  int writers = 1;
  RunKind kind = RunKind::kExport;
  RunLog* log = nullptr;         // the "/LOG:" file, open
  Manifest* manifest = nullptr;  // the "/MANIFEST:" file, open
  bool dates = false;            // "/DATES"
  // The first level of the target that was made for this run ("" when the
  // target was there before): no folder at or below it holds an earlier run's
  // message files, so none is looked for there.
  std::string targetMade;
};

// The export: walks the source and cuts every selected mail file, for the
// kind of run the options ask for (with any number of writers to the same
// result), and finishes it. Every failure is in the report, and in the log.
// An export's target root is made by the caller first (Main makes and locks
// it), so that the walk knows to pass it by. `control`, when given, is the
// run's: its stop flag stops it, and its counts tell how far it came.
ExportReport RunExport(const Selection& selection, const ExportOptions& options = {},
                       RunControl* control = nullptr);

// The verify from the manifest at `manifest` alone: every file it lists in
// `target` hashed again (by `threads` threads), and the message files in the
// listed folders it does not list; every finding in the report and the log,
// as a verify's.
ExportReport CheckFromManifest(const std::string& manifest, const std::string& target, int threads,
                               RunLog* log, RunControl& control);

// What a run holds from its checks to its end.
struct Prepared {
  platform::FolderLock lock;  // on the target, unless a dry run
  std::unique_ptr<RunLog> log;
  std::unique_ptr<Manifest> manifest;
  std::string made;  // the first level of the target the run made, if any
};
// Checks the source, the target and the log without changing anything, then
// makes and locks the target and opens the log; a refusal takes back the
// target levels it made. Paths in *options become as the system takes them
// ("~" expanded).
std::optional<Notice> Prepare(Options& options, Prepared* prepared);

// Runs the program for one command-line text; returns the exit status.
// `control` is the process's, whose stop flag the signals set.
int Main(const std::string& commandLine, const NoticeFunction& showNotice, RunControl& control);
int Main(const std::string& commandLine, const NoticeFunction& showNotice);

}  // namespace plenvar

#endif  // PLENVAR_RUN_RUN_H_
