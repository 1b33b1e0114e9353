// The running of a run: the walk selects the mail files, the cutters cut
// them, and the output does the run's job on every message.
#ifndef PLENVAR_RUN_EXPORT_H_
#define PLENVAR_RUN_EXPORT_H_

#include <string>

#include "base/control.h"
#include "report/report.h"
#include "walk/walk.h"

namespace plenvar {

class Manifest;

// How a run goes beyond its three parameters.
struct ExportOptions {
  // Threads that cut mail files and work on their messages; with one, the
  // walk's thread cuts and works on each message as it comes.
  int threads = 1;
  RunKind kind = RunKind::kExport;
  RunLog* log = nullptr;         // the "/LOG:" file, open
  Manifest* manifest = nullptr;  // the "/MANIFEST:" file, open
  bool dates = false;            // "/DATES"
  // The first level of the target that was made for this run ("" when the
  // target was there before): no folder at or below it holds an earlier run's
  // message files, so none is looked for there.
  std::string firstMade;
};

// The export: walks the source and cuts every selected mail file, for the
// kind of run the options ask for (with any number of threads to the same
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

}  // namespace plenvar

#endif  // PLENVAR_RUN_EXPORT_H_
