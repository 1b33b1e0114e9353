// The program for one command line: its options read, the run prepared and
// run, and the notice it ends with.
#ifndef PLENVAR_RUN_MAIN_H_
#define PLENVAR_RUN_MAIN_H_

#include <functional>
#include <string>

#include "base/control.h"
#include "base/notice.h"
#include "report/report.h"

namespace plenvar {

// Exit statuses.
enum ExitStatus { kExitClean = 0, kExitWithFailures = 1, kExitUsage = 2 };

extern const char kHelpText[];     // for --help: every option, a line each
extern const char kVersionText[];  // "plenvar X.Y.Z"

// The completion notice: "Export Completed", or its warning form that tells
// what failed.
// A dry run's notice says "List Completed", a verify's "Verify Completed";
// both end with the totals.
Notice CompletionNotice(const ExportReport& report);

using NoticeFunction = std::function<void(const Notice&)>;

// Runs the program for one command-line text; returns the exit status.
// `control` is the process's, whose stop flag the signals set.
int Main(const std::string& commandLine, const NoticeFunction& showNotice, RunControl& control);
int Main(const std::string& commandLine, const NoticeFunction& showNotice);

}  // namespace plenvar

#endif  // PLENVAR_RUN_MAIN_H_
