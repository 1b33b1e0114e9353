#include "walk/walk.h"

#include <algorithm>

namespace plenvar {

PassedFile LearnPassedFile(const std::string& path) {
  PassedFile passed;
  const std::size_t slash = path.find_last_of('\\');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  passed.name = slash == std::string::npos ? path : path.substr(slash + 1);
  platform::FolderId id;
  if (platform::EntryIdOf(path, &id)) passed.id = id;
  if (passed.id && platform::FolderIdOf(folder, &id)) passed.folder = id;
  return passed;
}

bool IsPassedFile(const PassedFile& passed, const platform::Entry& file) {
  platform::FolderId id;
  return passed.id && file.name.size() == passed.name.size() &&
         FindIgnoringCase(file.name, passed.name) == 0 && platform::EntryIdOf(file.path, &id) &&
         id == *passed.id;
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

// Subfolders first, with everything below them, then the folder's own files.
void WalkFolder(Walk& walk, const std::string& folderPath) {
  platform::Folder folder;
  try {
    folder = platform::OpenFolder(folderPath);
  } catch (const Error& e) {
    walk.visitor.CannotSelect({kFolderNotOpened, e.path, e.reason});
    return;
  }
  const Passing passing = PassesBy(walk.inside, walk.target, folder.id);
  if (passing == Passing::kLoop)
    walk.visitor.CannotSelect({kFolderNotOpened, folderPath, "a link back to a folder above it"});
  if (passing != Passing::kNone) return;
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
  // Only in the log's own folder is a file asked whether it is the log.
  const bool logHere = walk.log.folder && folder.id == *walk.log.folder;
  for (const platform::Entry& file : folder.files) {
    if (walk.Stopped()) break;
    if (MatchesMask(file.name, walk.selection.mask) && !(logHere && IsPassedFile(walk.log, file)))
      WalkFile(walk, folderPath, file);
  }
  walk.inside.pop_back();
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
  WalkFolder(walk, selection.source);
  return walk.folders;
}

}  // namespace plenvar
