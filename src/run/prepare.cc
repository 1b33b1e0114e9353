// The checks before any work, and what a run makes and takes before it
// starts: the target folder, its lock, the log.
#include "output/target_folders.h"
#include "platform/files.h"
#include "platform/process.h"
#include "report/run_log.h"
#include "run/run.h"

namespace plenvar {

namespace {

const char kForeignLog[] = "/LOG:file exists and is not a log of this program: ";
const char kHeldTarget[] = "Another run of plenvar is writing into /T:TargetDirectory: ";

Notice Refusal(const std::string& why, const std::string& path, const std::string& reason = "") {
  const std::string shown = platform::DisplayPath(path) + (reason.empty() ? "" : ": " + reason);
  return {why + platform::Printable(shown), "Error", kIconError};
}

// The target levels a run made, taken back unless the run goes ahead.
struct MadeTarget {
  const std::string& target;
  std::string made;  // the first level made, if any
  bool kept = false;
  ~MadeTarget() {
    if (!kept) RemoveMadeFolders(target, made);
  }
};

// What can be checked without changing anything, so that a refused run
// leaves nothing done.
std::optional<Notice> Check(Options& options) {
  try {
    // "~/mail" as the shell means it, not a folder named "~" (POSIX).
    for (std::string* path : {&options.source, &options.target, &options.log})
      *path = platform::ExpandHome(*path);
  } catch (const Error& e) {
    return Refusal("", e.path, e.reason);
  }
  try {
    platform::OpenFolder(options.source);
  } catch (const Error& e) {
    return Refusal("/S:SourceDirectory cannot be read: ", e.path, e.reason);
  }
  platform::FolderId id;
  if (platform::EntryIdOf(options.target, &id) && !platform::FolderExists(options.target))
    return Refusal("/T:TargetDirectory is not a folder: ", options.target);
  // A mail file or any other file is never replaced by the log.
  if (options.logWanted && platform::ForeignFileAt(options.log, kLogSignature))
    return Refusal(kForeignLog, options.log);
  return std::nullopt;
}

}  // namespace

std::optional<Notice> Prepare(Options& options, Prepared* prepared) {
  if (std::optional<Notice> refusal = Check(options)) return refusal;
  MadeTarget target{options.target, "", false};
  // Two exports into one target would rename each other's temporary files,
  // and a verify must not compare what an export is still writing. A verify
  // creates nothing; a dry run does not look at the target.
  if (!options.list) {
    try {
      // What it made before a failure is taken back too.
      if (!options.verify) EnsureFolderPath(options.target, &target.made);
      if (platform::FolderExists(options.target) &&
          !platform::LockFolder(options.target, &prepared->lock))
        return Refusal(kHeldTarget, options.target);
    } catch (const Error& e) {
      return Refusal("/T:TargetDirectory could not be created: ", e.path, e.reason);
    }
  }
  if (options.logWanted) {
    prepared->log = std::make_unique<RunLog>();
    bool opened = false;
    std::string why = kForeignLog, reason;
    try {
      opened = OpenRunLog(options.log, prepared->log.get());
    } catch (const Error& e) {
      why = "/LOG:file could not be created: ";
      reason = e.reason;
    }
    if (!opened) return Refusal(why, options.log, reason);
  }
  target.kept = true;
  prepared->made = target.made;
  return std::nullopt;
}

}  // namespace plenvar
