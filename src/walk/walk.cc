#include "walk/walk.h"

#include <algorithm>

namespace plenvar {

PassedFile LearnPassedFile(const std::string& path) {
  PassedFile passed;
  platform::FolderId id;
  if (platform::EntryIdOf(path, &id)) passed.id = id;
  return passed;
}

bool IsPassedFile(const PassedFile& passed, const platform::Entry& file) {
  // By identity alone: a link, a hard link or another spelling of the log
  // reaches the same file under any name, in any folder.
  platform::FolderId id;
  return passed.id && platform::EntryIdOf(file.path, &id) && id == *passed.id;
}

bool IsOwnOutputName(std::string_view name) {
  if (name.size() < 22) return false;
  for (std::size_t i = 0; i < 18; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  std::string_view rest = name.substr(18);
  if (rest[0] == '-') {
    std::size_t digits = 1;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 1) return false;
    rest = rest.substr(digits);
    if (rest.size() != 8) return false;  // only a temporary name has "-<k>"
  }
  // Letter case ignored: on Windows another case names the same file.
  return (rest.size() == 4 || rest.size() == 8) && FindIgnoringCase(rest, ".MAI") == 0 &&
         (rest.size() == 4 || FindIgnoringCase(rest, ".MAI.tmp") == 0);
}

Passing PassesBy(const std::vector<platform::FolderId>& inside,
                 const std::optional<platform::FolderId>& target,
                 const platform::FolderId& folder) {
  // Identity, not path text: a link, another spelling or letter case of the
  // target is still the target.
  if (!inside.empty() && target && folder == *target && !(inside.front() == *target))
    return Passing::kTarget;
  if (std::find(inside.begin(), inside.end(), folder) != inside.end()) return Passing::kLoop;
  return Passing::kNone;
}

namespace {

struct Walk {
  const Selection& selection;
  StoreVisitor& visitor;
  std::optional<platform::FolderId> target;
  PassedFile log;
  std::vector<platform::FolderId> inside;  // the folders on the current walk path
  std::int64_t folders = 0;
  const RunControl* control;
  // Whether the folder walked lies in the target tree, where the program's
  // own message and temporary files are never selected: the whole walk when
  // the target is the source or holds it.
  bool inTarget = false;

  bool Stopped() const { return control != nullptr && control->Stopped(); }
};

// A name with a "\" cannot be told apart from a path in the program's text.
Failure Backslashed(FailureKind kind, const std::string& folderPath, const std::string& name) {
  return {kind, folderPath, "\"" + name + "\": a name that holds a \"\\\""};
}

void WalkFile(Walk& walk, const std::string& folderPath, const platform::Entry& file) {
  if (file.name.find('\\') != std::string::npos) {
    walk.visitor.CannotSelect(Backslashed(kMailFileNotRead, folderPath, file.name));
  } else if (file.kind != platform::EntryKind::kFile) {
    walk.visitor.CannotSelect({kNotRegularFile, file.path, "not a regular file"});
  } else {
    walk.visitor.MailFile(file.path,
                          TargetFolderOf(walk.selection.source, walk.selection.target, folderPath));
  }
}

// Whether the mask selects a file, which is neither the log nor, in the
// target tree, one of the program's own files.
bool Selects(const Walk& walk, const platform::Entry& file) {
  return MatchesMask(file.name, walk.selection.mask) &&
         !(walk.inTarget && IsOwnOutputName(file.name)) &&
         !(file.kind == platform::EntryKind::kFile && IsPassedFile(walk.log, file));
}

// The target tree inside the source is never exported, so that no run
// exports its own output; but a mail file the mask selects there, other than
// the program's own files, is not exported either, and the run must say so.
void ReportInsideTarget(Walk& walk, const platform::Folder& folder) {
  const bool wasInTarget = walk.inTarget;
  walk.inTarget = true;
  for (const platform::Entry& sub : folder.folders) {
    if (walk.Stopped()) break;
    platform::Folder below;
    std::string why;
    // What cannot be opened holds nothing the run could have exported.
    if (!platform::OpenFolder(sub.path, &below, &why)) continue;
    if (PassesBy(walk.inside, std::nullopt, below.id) != Passing::kNone) continue;
    walk.inside.push_back(below.id);
    ReportInsideTarget(walk, below);
    walk.inside.pop_back();
  }
  for (const platform::Entry& file : folder.files) {
    if (walk.Stopped()) break;
    if (Selects(walk, file))
      walk.visitor.CannotSelect(
          {kInsideTarget, file.path, "lies inside the target, which the walk passes by"});
  }
  walk.inTarget = wasInTarget;
}

// Whether the folder at `path` is `top` or lies below it, asked by identity
// up its parents (as the system resolves them, past any link).
bool LiesIn(const platform::FolderId& top, const std::string& path) {
  std::string level = path;
  platform::FolderId id, last;
  for (int depth = 0; depth < 4096 && platform::FolderIdOf(level, &id); ++depth) {
    if (id == top) return true;
    if (depth > 0 && id == last) return false;  // the root is its own parent
    last = id;
    level += level.empty() || level.back() == '\\' ? ".." : "\\..";
  }
  return false;
}

// Whether a folder below the target, reached from outside the target tree by
// a link, is where the walk stands: its parent is not the folder the walk
// came from. It is passed by as the target is, so that no run exports the
// program's own output through a link.
bool LinkedIntoTarget(const Walk& walk, const std::string& folderPath) {
  platform::FolderId parent;
  return walk.target && !walk.inTarget && !walk.inside.empty() &&
         platform::FolderIdOf(folderPath + "\\..", &parent) && !(parent == walk.inside.back()) &&
         LiesIn(*walk.target, folderPath);
}

// Subfolders first, with everything below them, then the folder's own files.
void WalkFolder(Walk& walk, const std::string& folderPath) {
  platform::Folder folder;
  std::string why;
  if (!platform::OpenFolder(folderPath, &folder, &why)) {
    walk.visitor.CannotSelect({kFolderNotOpened, folderPath, why});
    return;
  }
  Passing passing = PassesBy(walk.inside, walk.target, folder.id);
  if (passing == Passing::kNone && LinkedIntoTarget(walk, folderPath)) passing = Passing::kTarget;
  if (passing == Passing::kLoop)
    walk.visitor.CannotSelect({kFolderNotOpened, folderPath, "a link back to a folder above it"});
  if (passing == Passing::kTarget) {
    walk.inside.push_back(folder.id);
    ReportInsideTarget(walk, folder);
    walk.inside.pop_back();
  }
  if (passing != Passing::kNone) return;
  const bool wasInTarget = walk.inTarget;
  walk.inTarget = wasInTarget || (walk.target && folder.id == *walk.target);
  walk.inside.push_back(folder.id);
  ++walk.folders;
  for (const platform::Entry& sub : folder.folders) {
    if (walk.Stopped()) break;
    if (sub.name.find('\\') != std::string::npos) {
      walk.visitor.CannotSelect(Backslashed(kFolderNotOpened, folderPath, sub.name));
    } else {
      WalkFolder(walk, sub.path);
    }
  }
  for (const platform::Entry& file : folder.files) {
    if (walk.Stopped()) break;
    if (Selects(walk, file)) WalkFile(walk, folderPath, file);
  }
  walk.inside.pop_back();
  walk.inTarget = wasInTarget;
}

}  // namespace

std::int64_t WalkStore(const Selection& selection, StoreVisitor& visitor,
                       const RunControl* control) {
  Walk walk{selection, visitor, std::nullopt, {}, {}, 0, control};
  // The target root exists before an export starts (a dry run may have none):
  // the walk never enters it, so that a target inside the source is not
  // exported again by the next run.
  platform::FolderId id;
  if (platform::FolderIdOf(selection.target, &id)) walk.target = id;
  if (!selection.logPath.empty()) walk.log = LearnPassedFile(selection.logPath);
  walk.inTarget = walk.target && LiesIn(*walk.target, selection.source);
  WalkFolder(walk, selection.source);
  return walk.folders;
}

}  // namespace plenvar
