#include "run/prepare.h"

#include "platform/files.h"
#include "platform/process.h"
#include "run/caught.h"
#include "target/message_names.h"
#include "target/target_folders.h"

namespace plenvar {

namespace {

const char kForeignLog[] = "/LOG:file exists and is not a log of this program: ";
const char kForeignManifest[] = "/MANIFEST:file exists and is not a manifest of this program: ";
const char kHeldLog[] = "Another run of plenvar is writing /LOG:file: ";
const char kHeldManifest[] = "Another run of plenvar is writing /MANIFEST:file: ";

// Whether `path` names a file inside the folder `source`, at any depth: its
// folder, or a folder above that, is the source (by identity, so every
// spelling and link of it counts).
bool InsideFolder(const std::string& path, const std::string& source) {
  platform::FolderId sourceId, id, above;
  if (!platform::FolderIdOf(source, &sourceId)) return false;
  const std::size_t slash = path.rfind('\\');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + (slash == 0));
  // Up to the root, whose ".." is itself; a bound for a cycle of links.
  for (int level = 0; level < 4096 && platform::FolderIdOf(folder, &id); ++level) {
    if (id == sourceId) return true;
    folder += "\\..";
    if (!platform::FolderIdOf(folder, &above) || above == id) break;
  }
  return false;
}

Notice Refusal(const std::string& why, const std::string& path, const std::string& reason = "") {
  const std::string shown = platform::DisplayPath(path) + (reason.empty() ? "" : ": " + reason);
  return {why + platform::Printable(shown), "Error", kIconError};
}

// The target levels a run made, taken back unless the run goes ahead.
struct MadeTarget {
  const std::string& target;
  std::string firstMade;  // the first level made, if any
  bool kept = false;
  ~MadeTarget() {
    if (!kept) RemoveMadeFolders(target, firstMade);
  }
};

// A manifest a verify reads: there, every line of it readable, and at
// least one, as sha256sum -c asks: an empty list would vouch for any target.
std::optional<Notice> CheckManifestToRead(const std::string& manifest) {
  std::string why;
  std::int64_t line = 0, lines = 0;
  if (const std::optional<Error> e =
          ErrorFrom([&] { line = FirstBadManifestLine(manifest, &why, &lines); }))
    return Refusal("/MANIFEST:file cannot be read: ", e->path, e->reason);
  if (line != 0)
    return Refusal("/MANIFEST:file cannot be read: ", manifest,
                   "line " + std::to_string(line) + ": " + why);
  if (lines == 0) return Refusal("/MANIFEST:file lists no message file: ", manifest);
  return std::nullopt;
}

// The target, and each level above it, must be a folder or nothing yet: one
// check for every kind of run, so that a dry run refuses what the export
// would.
std::optional<Notice> CheckTargetPath(const std::string& target) {
  platform::FolderId id;
  std::string level = target.substr(0, platform::RootLength(target));
  for (std::size_t i = level.size(); i < target.size();) {
    std::size_t end = target.find('\\', i);
    if (end == std::string::npos) end = target.size();
    level.append(target, i, end - i);
    if (end > i && platform::EntryIdOf(level, &id) && !platform::FolderExists(level)) {
      if (end == target.size()) return Refusal("/T:TargetDirectory is not a folder: ", target);
      return Refusal("/T:TargetDirectory could not be created: ", level, "not a folder");
    }
    level.push_back('\\');
    i = end + 1;
  }
  return std::nullopt;
}

// A file the run writes (the log, the manifest or its temporary file)
// named, inside the target, as a message file or a temporary message file
// is: the run would write over a message, or a verify take it for one.
std::optional<Notice> CollidesWithTarget(const std::string& path, const std::string& target,
                                         const char* option) {
  const std::size_t slash = path.rfind('\\');
  std::int64_t number = 0;
  if (KindOfName(slash == std::string::npos ? path : path.substr(slash + 1), &number) ==
          NameKind::kOther ||
      !InsideFolder(path, target))
    return std::nullopt;
  return Refusal(
      std::string(option) + " lies inside /T:TargetDirectory under the name of a message file: ",
      path);
}

// What can be checked without changing anything, so that a refused run
// leaves nothing done.
std::optional<Notice> Check(Options& options) {
  // "~/mail" as the shell means it, not a folder named "~" (POSIX).
  if (const std::optional<Error> e = ErrorFrom([&options] {
        for (std::string* path : {&options.source, &options.target})
          *path = platform::ExpandHome(*path);
        for (std::optional<std::string>* path : {&options.log, &options.manifest}) {
          if (*path) **path = platform::ExpandHome(**path);
        }
      }))
    return Refusal("", e->path, e->reason);
  if (const std::optional<Error> e = ErrorFrom([&options] {
        if (!options.ManifestOnly()) platform::OpenFolder(options.source);
      }))
    return Refusal("/S:SourceDirectory cannot be read: ", e->path, e->reason);
  if (std::optional<Notice> refusal = CheckTargetPath(options.target)) return refusal;
  // A mail file or any other file is never replaced by the log.
  if (options.log && platform::ForeignFileAt(*options.log, StartsAsLog))
    return Refusal(kForeignLog, *options.log);
  if (options.manifest) {
    const std::string& named = *options.manifest;
    platform::FolderId manifest, log;
    if (options.log &&
        (named == *options.log || (platform::EntryIdOf(named, &manifest) &&
                                   platform::EntryIdOf(*options.log, &log) && manifest == log)))
      return Refusal("/MANIFEST:file and /LOG:file name the same file: ", named);
    if (options.ManifestOnly()) return CheckManifestToRead(named);
    // The export's evidence is never written over by a check.
    if (options.verify && platform::EntryIdOf(named, &manifest))
      return Refusal("/MANIFEST:file exists, and a verify writes a new one: name a new file: ",
                     named);
    // The source is never written.
    if (InsideFolder(named, options.source))
      return Refusal("/MANIFEST:file lies inside /S:SourceDirectory, which is never written: ",
                     named);
    // Only the temporary file, which a killed run may cut anywhere, may end
    // in a part of a line.
    for (const std::string& path : {named, named + ".tmp"}) {
      // cppcheck-suppress useStlAlgorithm ; the refusal names the path found
      if (platform::EntryIdOf(path, &manifest) && !HoldsManifest(path, path != named))
        return Refusal(kForeignManifest, path);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Notice> Prepare(Options& options, Prepared* prepared) {
  if (std::optional<Notice> refusal = Check(options)) return refusal;
  MadeTarget target{options.target, "", false};
  // Two exports into one target would rename each other's temporary files,
  // and a verify must not compare what an export is still writing; verifies
  // write nothing and share the target. A verify creates nothing; a dry run
  // does not look at the target.
  if (!options.list) {
    platform::Lock lock = platform::Lock::kTaken;
    if (const std::optional<Error> e = ErrorFrom([&] {
          // What it made before a failure is taken back too.
          if (!options.verify) EnsureFolderPath(options.target, &target.firstMade);
          if (platform::FolderExists(options.target))
            lock = platform::LockFolder(options.target, options.verify, &prepared->lock);
        }))
      return Refusal("/T:TargetDirectory could not be created: ", e->path, e->reason);
    if (lock == platform::Lock::kHeldByWriter)
      return Refusal("An export of plenvar is writing into /T:TargetDirectory: ", options.target);
    if (lock == platform::Lock::kHeldByReaders)
      return Refusal(options.verify ? "Another run of plenvar holds /T:TargetDirectory: "
                                    : "A verify of plenvar is reading /T:TargetDirectory: ",
                     options.target);
  }
  // Once the target is there to be known by identity.
  const bool writesManifest = options.manifest && !options.ManifestOnly();
  if (writesManifest) {
    for (const std::string& path : {*options.manifest, *options.manifest + ".tmp"}) {
      std::optional<Notice> refusal = CollidesWithTarget(path, options.target, "/MANIFEST:file");
      // cppcheck-suppress useStlAlgorithm ; the refusal names the path found
      if (refusal) return refusal;
    }
  }
  if (options.log) {
    if (std::optional<Notice> refusal =
            CollidesWithTarget(*options.log, options.target, "/LOG:file"))
      return refusal;
  }
  // Before the log, which a refusal after it would leave emptied; a refused
  // run's temporary manifest goes with it.
  if (writesManifest) {
    const std::string& manifest = *options.manifest;
    prepared->manifest = std::make_unique<Manifest>();
    platform::OwnFile opened = platform::OwnFile::kOpened;
    if (const std::optional<Error> e =
            ErrorFrom([&] { opened = prepared->manifest->Open(manifest, options.target); }))
      return Refusal("/MANIFEST:file could not be created: ", manifest, e->reason);
    if (opened == platform::OwnFile::kHeld) return Refusal(kHeldManifest, manifest);
    if (opened == platform::OwnFile::kForeign) return Refusal(kForeignManifest, manifest + ".tmp");
  }
  if (options.log) {
    const std::string& log = *options.log;
    prepared->log = std::make_unique<RunLog>();
    platform::OwnFile opened = platform::OwnFile::kForeign;
    if (const std::optional<Error> e =
            ErrorFrom([&] { opened = OpenRunLog(log, prepared->log.get()); }))
      return Refusal("/LOG:file could not be created: ", log, e->reason);
    if (opened == platform::OwnFile::kHeld) return Refusal(kHeldLog, log);
    if (opened != platform::OwnFile::kOpened) return Refusal(kForeignLog, log);
  }
  target.kept = true;
  prepared->firstMade = target.firstMade;
  return std::nullopt;
}

}  // namespace plenvar
