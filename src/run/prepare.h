// The checks before any work, and what a run makes and takes before it
// starts: the target folder, its lock, the log, the manifest.
#ifndef PLENVAR_RUN_PREPARE_H_
#define PLENVAR_RUN_PREPARE_H_

#include <memory>
#include <optional>
#include <string>

#include "base/notice.h"
#include "manifest/manifest.h"
#include "platform/folders.h"
#include "report/run_log.h"
#include "run/options.h"

namespace plenvar {

// What a run holds from its checks to its end.
struct Prepared {
  platform::FolderLock lock;  // on the target, unless a dry run
  std::unique_ptr<RunLog> log;
  std::unique_ptr<Manifest> manifest;
  std::string firstMade;  // the first level of the target the run made, if any
};

// Checks the source, the target and the log without changing anything, then
// makes and locks the target and opens the log; a refusal takes back the
// target levels it made. Paths in *options become as the system takes them
// ("~" expanded).
std::optional<Notice> Prepare(Options& options, Prepared* prepared);

}  // namespace plenvar

#endif  // PLENVAR_RUN_PREPARE_H_
