// Walking the source tree: selecting mail files, mirroring their folders into
// the target tree and handing them to the splitter.
#ifndef PLENVAR_WALK_WALK_H_
#define PLENVAR_WALK_WALK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace plenvar {

// What failed during an export. A failing step is skipped and the walk goes
// on, but the run must not claim success.
enum FailureKind {
  kFolderNotOpened,
  kMailFileNotRead,
  kMessageNotWritten,
  kNotRegularFile,
  kMailFileChanged,
  kNotFlushed,
  kLogNotWritten,
  kFailureKinds
};

struct Failure {
  FailureKind kind;
  std::string path;  // in the program's own text
  std::string reason;
};

// A message file that could not be written; it ends its mail file.
Failure NotWritten(const std::string& messageFile, std::string reason, const std::string& mailFile);

struct RunLog;

struct ExportReport {
  static constexpr std::size_t kListed = 10;
  std::int64_t counts[kFailureKinds] = {};
  std::int64_t total = 0;
  std::vector<Failure> failures;  // the first kListed
  // What the run did: mail files cut, and the messages written (or, for a
  // dry run, found) with their bytes.
  std::int64_t folders = 0;
  std::int64_t mailFiles = 0;
  std::int64_t messages = 0;
  std::int64_t bytes = 0;
  RunLog* log = nullptr;  // every failure and mail file goes there too
  // The signal that stopped the run before the walk was done; 0 when none did.
  int interrupted = 0;

  void Fail(Failure failure);
  // One mail file done: `messages` message files numbered from `first`.
  void MailFileDone(const std::string& source, const std::string& targetFolder, std::int64_t first,
                    std::int64_t messages, std::int64_t bytes);
};

// How far a run has come, after each mail file.
struct Progress {
  std::int64_t mailFiles = 0;
  std::int64_t bytes = 0;     // of the mail files done
  std::int64_t messages = 0;  // cut from them
};

// How a run goes beyond its three parameters.
struct ExportOptions {
  int writers = 1;        // threads that write message files
  bool listOnly = false;  // walk and cut, but create and write nothing in the target
  RunLog* log = nullptr;  // the "/LOG:" file, open
  // Called in the walk's thread after each message and each mail file.
  std::function<void(const Progress&)> onProgress;
};

// A file no walk selects, though it may lie in the source and fit the mask:
// the run's own log. Known by its name and identity, and its folder's.
struct PassedFile {
  std::string name;
  std::optional<platform::FolderId> id, folder;
};
PassedFile LearnPassedFile(const std::string& path);
bool IsPassedFile(const PassedFile& passed, const platform::Entry& file);

// What a run will have to do: the selected mail files and their bytes, found
// by the same walk without reading them. Counting changes nothing about the
// run itself.
struct StoreSize {
  std::int64_t mailFiles = 0;
  std::int64_t bytes = 0;
};
StoreSize MeasureStore(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask, const std::string& logPath = "");

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

// Creates every missing folder along path; returns the first level it made
// (with a trailing "\"), or "" when all existed. Failures throw Error.
std::string EnsureFolderPath(const std::string& path);
// Takes back what EnsureFolderPath(path) made, given what it returned: the
// levels from `path` up to `firstMade`, each only while it is empty.
void RemoveMadeFolders(std::string path, const std::string& firstMade);

// The target folder that mirrors folderPath: targetRoot + folderPath less its
// leading sourceRoot, with a "\" in between.
std::string TargetFolderOf(const std::string& sourceRoot, const std::string& targetRoot,
                           const std::string& folderPath);

// Walks the source and writes the message files, never entering the target
// tree when it lies inside the source; then puts all it wrote on stable
// storage. Every failure is in the report. With more than one writer,
// message files are written by that many threads, to the same result.
ExportReport RunExport(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask, const ExportOptions& options = {});

}  // namespace plenvar

#endif  // PLENVAR_WALK_WALK_H_
