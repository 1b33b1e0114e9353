// The target folders a run writes into: made once, then flushed to disk
// once per file system.
#ifndef PLENVAR_TARGET_TARGET_FOLDERS_H_
#define PLENVAR_TARGET_TARGET_FOLDERS_H_

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "report/report.h"

namespace plenvar {

// Creates every missing folder along path; returns the first level it made
// (with a trailing "\"), or "" when all existed. Failures throw Error; then
// *made, when given, holds the first level it made before it failed, which
// it holds as soon as that level is made.
std::string EnsureFolderPath(const std::string& path, std::string* made = nullptr);
// Takes back what EnsureFolderPath(path) made, given what it returned: the
// levels from `path` up to `firstMade`, each only while it is empty.
void RemoveMadeFolders(std::string path, const std::string& firstMade);
// Makes the last level of a message file's folder before its first message
// file; when the folder is still missing, why, for the write that then fails.
std::string MakeLastFolderLevel(const std::string& folder);

class TargetFolders {
 public:
  // `firstMade`: the first level of the target that this run made before it
  // began ("" when the target was there): every folder at or below it is new.
  // `target`: the target root, below which no level may be a link.
  explicit TargetFolders(std::string firstMade = "", std::string target = "")
      : firstMade_(std::move(firstMade)), target_(std::move(target)) {}
  // Makes `folder` with every missing level, once a run; false when it could
  // not, and then the first write into it reports why. *made, when given, is
  // the first level it made (see EnsureFolderPath); *fresh, whether this run
  // made the folder, which then holds no file but this run's. A folder with a
  // link at a level below the target is refused (false), *refused saying why:
  // a write there, or a removal of a stale file, would reach out of the target.
  bool Ensure(const std::string& folder, std::string* made = nullptr, bool* fresh = nullptr,
              std::string* refused = nullptr);
  // Puts every file and folder written on stable storage; failures go to the report.
  void Flush(ExportReport& report) const;

  // What Ensure found in the folders that were there before the run: those
  // that held message files (whatever of that shape a run did not leave there
  // is not its own), and the temporary files earlier runs left, which it
  // removes (the reason empty), or could not (the reason why).
  const std::vector<std::string>& Searched() const { return searched_; }
  const std::vector<std::pair<std::string, std::string>>& Stale() const { return stale_; }

 private:
  // Lists a folder that was there: whether it holds message files; removes
  // the temporary files in it, none of which is this run's yet.
  bool Survey(const std::string& folder);
  // The first level of `folder` below the target that is a link; "" if none.
  std::string LinkedLevel(const std::string& folder) const;

  std::string firstMade_;
  std::string target_;
  std::unordered_map<std::string, std::string> refused_;  // folder, why
  std::vector<std::string> searched_;
  std::vector<std::pair<std::string, std::string>> stale_;
  std::unordered_map<std::string, bool> made_;  // known to exist: whether this run made it
  std::vector<std::string> order_;              // the same, in the order they were made
};

}  // namespace plenvar

#endif  // PLENVAR_TARGET_TARGET_FOLDERS_H_
