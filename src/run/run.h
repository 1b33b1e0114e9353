// Run control: options from the command line, the notices, and the export.
#ifndef PLENVAR_RUN_RUN_H_
#define PLENVAR_RUN_RUN_H_

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"
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

// The writer threads "/MT:n" asks for (1 to 64), one per core up to 8
// without it, or 0 when its value is not such a number.
int WriterThreads(const std::string& commandLine);

extern const char kUsageText[];
extern const char kHelpText[];     // for --help: every option, a line each
extern const char kVersionText[];  // "plenvar X.Y.Z"

// The completion notice: "Export Completed", or its warning form that tells
// what failed.
// A dry run's notice says "List Completed", a verify's "Verify Completed";
// both end with the totals.
platform::Notice CompletionNotice(const ExportReport& report, std::string_view run = "Export");

using NoticeFunction = std::function<void(const platform::Notice&)>;

// The progress line of a run watched on a terminal.
struct ProgressLine {
  StoreSize total;
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point shown;
  bool drawn = false;
};
// "1,234/45,701 mail files  12.3/200.0 MB  3,456 messages  45.6 MB/s  0:12 left",
// no longer than `width` (0: any length): the messages go first, then the
// rate, the time left and the megabytes.
std::string FormatProgress(const StoreSize& total, const Progress& done, double seconds,
                           std::size_t width = 0);
// Redraws the line, at most ten times a second.
void UpdateProgress(ProgressLine& line, const Progress& done);

// Runs the program for one command-line text; returns the exit status.
int Main(const std::string& commandLine, const NoticeFunction& showNotice);

}  // namespace plenvar

#endif  // PLENVAR_RUN_RUN_H_
