// The walk: which mail files of the source a run selects, in which order, and
// the target folder of each. The export and the count before it both walk
// by these rules.
#ifndef PLENVAR_WALK_WALK_H_
#define PLENVAR_WALK_WALK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/control.h"
#include "platform/folders.h"
#include "report/report.h"

namespace plenvar {

// A file no walk selects, though it may lie in the source and fit the mask:
// the run's own log. Known by its identity, whatever name reaches it.
struct PassedFile {
  std::optional<platform::FolderId> id;
};
PassedFile LearnPassedFile(const std::string& path);
bool IsPassedFile(const PassedFile& passed, const platform::Entry& file);

// Whether a name has the shape of the program's own message file
// ("<18 digits>.MAI") or temporary file ("<18 digits>[-<k>].MAI.tmp"), in
// any letter case: in the target tree the walk never selects one.
bool IsOwnOutputName(std::string_view name);

// What a walk is asked to select.
struct Selection {
  std::string source;
  std::string target;
  std::string mask;
  std::string logPath;  // passed by; empty when there is no log
};

// What a walk meets, in walk order: every selected mail file with its target
// folder, and every entry it cannot select or enter, as a failure.
class StoreVisitor {
 public:
  virtual ~StoreVisitor() = default;
  virtual void MailFile(const std::string& path, const std::string& targetFolder) = 0;
  virtual void CannotSelect(Failure failure) = 0;
};

// Walks the source depth first, each folder's subfolders (with all below
// them) before its own files, in listing order. It never selects from the
// target tree when it lies inside the source or a link leads into it (each
// file there the mask selects, but for the program's own, is a kInsideTarget
// failure), nor enters a folder it is already inside; in the target tree (the whole walk
// when the target is the source or holds it) it never selects the program's
// own files; and it stops early once `control`, when given, asks the run to
// stop. Returns the number of folders walked.
std::int64_t WalkStore(const Selection& selection, StoreVisitor& visitor,
                       const RunControl* control = nullptr);

// What a run will have to do: the selected mail files and their bytes, found
// by the same walk without reading them. Counting changes nothing about the
// run itself.
struct StoreSize {
  std::int64_t mailFiles = 0;
  std::int64_t bytes = 0;
};
StoreSize MeasureStore(const Selection& selection, const RunControl* control = nullptr);

// Position of `pattern` in `text` at or after `from`, ASCII letters compared
// ignoring case; npos when absent.
std::size_t FindIgnoringCase(std::string_view text, std::string_view pattern, std::size_t from = 0);

bool MatchesMask(std::string_view fileName, std::string_view mask);

// Why a walk passes by a folder it has opened, given the folders on its path
// (the root first) and the target root's identity once it exists: the target
// tree, unless the target is the source itself, or a link back to a folder
// the walk is already inside.
enum class Passing { kNone, kTarget, kLoop };
Passing PassesBy(const std::vector<platform::FolderId>& inside,
                 const std::optional<platform::FolderId>& target, const platform::FolderId& folder);

// The target folder that mirrors folderPath: targetRoot + folderPath less its
// leading sourceRoot, with a "\" in between.
std::string TargetFolderOf(const std::string& sourceRoot, const std::string& targetRoot,
                           const std::string& folderPath);

}  // namespace plenvar

#endif  // PLENVAR_WALK_WALK_H_
