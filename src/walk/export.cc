#include <algorithm>
#include <utility>

#include "extract/extract.h"
#include "walk/walk.h"

namespace plenvar {

void ExportReport::Fail(FailureKind kind, std::string what) {
  ++counts[kind];
  ++total;
  if (failures.size() < kListed) failures.push_back(std::move(what));
}

namespace {

struct Walk {
  const std::string& sourceRoot;
  const std::string& targetRoot;
  const std::string& mask;
  ExportReport report;
  std::vector<platform::FolderId> inside;  // the folders on the current walk path
};

void ExportFile(Walk& walk, const std::string& folderPath, const platform::Entry& file) {
  if (file.name.find('\\') != std::string::npos) {
    walk.report.Fail(kMailFileNotRead, file.path + ": the name holds a \"\\\"");
    return;
  }
  if (file.kind != platform::EntryKind::kFile) {
    walk.report.Fail(kNotRegularFile, file.path + ": not a regular file");
    return;
  }
  const std::string targetFolder = TargetFolderOf(walk.sourceRoot, walk.targetRoot, folderPath);
  try {
    EnsureFolderPath(targetFolder);
  } catch (const Error&) {
    // The first message file fails to open unless the folder exists after all.
  }
  try {
    SplitMailFile(file.path, targetFolder);
  } catch (const WriteError& e) {
    walk.report.Fail(kMessageNotWritten,
                     std::string(e.what()) + " (the rest of " + file.path + " was not exported)");
  } catch (const std::exception& e) {
    walk.report.Fail(kMailFileNotRead, e.what());
  }
}

// Subfolders first, with everything below them, then the folder's own files.
void ExportFolder(Walk& walk, const std::string& folderPath) {
  platform::Folder folder;
  try {
    folder = platform::OpenFolder(folderPath);
  } catch (const Error& e) {
    walk.report.Fail(kFolderNotOpened, e.what());
    return;
  }
  if (std::find(walk.inside.begin(), walk.inside.end(), folder.id) != walk.inside.end()) {
    walk.report.Fail(kFolderNotOpened, folderPath + ": a link back to a folder above it");
    return;
  }
  walk.inside.push_back(folder.id);
  for (const platform::Entry& sub : folder.folders) {
    if (sub.name.find('\\') != std::string::npos) {
      walk.report.Fail(kFolderNotOpened, sub.path + ": the name holds a \"\\\"");
    } else {
      ExportFolder(walk, sub.path);
    }
  }
  for (const platform::Entry& file : folder.files) {
    if (MatchesMask(file.name, walk.mask)) ExportFile(walk, folderPath, file);
  }
  walk.inside.pop_back();
}

}  // namespace

ExportReport RunExport(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask) {
  Walk walk{sourceDirectory, targetDirectory, fileMask, {}, {}};
  ExportFolder(walk, sourceDirectory);
  return walk.report;
}

}  // namespace plenvar
