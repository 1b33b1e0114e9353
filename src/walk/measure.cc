#include <optional>
#include <vector>

#include "walk/walk.h"

namespace plenvar {

namespace {

// The walk's rules for what it enters and selects, without reading a file:
// the target tree, link loops, names with "\" and entries that are not
// regular files are passed by.
struct Measure {
  const std::string& mask;
  std::optional<platform::FolderId> target;
  PassedFile log;
  std::vector<platform::FolderId> inside;
  StoreSize size;
};

void MeasureFolder(Measure& measure, const std::string& folderPath) {
  platform::Folder folder;
  try {
    folder = platform::OpenFolder(folderPath);
  } catch (const Error&) {
    return;
  }
  if (PassesBy(measure.inside, measure.target, folder.id) != Passing::kNone) return;
  measure.inside.push_back(folder.id);
  for (const platform::Entry& sub : folder.folders) {
    if (sub.name.find('\\') == std::string::npos) MeasureFolder(measure, sub.path);
  }
  for (const platform::Entry& file : folder.files) {
    std::uint64_t bytes = 0;
    if (file.kind == platform::EntryKind::kFile && file.name.find('\\') == std::string::npos &&
        MatchesMask(file.name, measure.mask) && !IsPassedFile(measure.log, file) &&
        platform::FileSizeOf(file.path, &bytes)) {
      ++measure.size.mailFiles;
      measure.size.bytes += static_cast<std::int64_t>(bytes);
    }
  }
  measure.inside.pop_back();
}

}  // namespace

StoreSize MeasureStore(const std::string& sourceDirectory, const std::string& targetDirectory,
                       const std::string& fileMask, const std::string& logPath) {
  Measure measure{fileMask, std::nullopt, {}, {}, {}};
  if (!logPath.empty()) measure.log = LearnPassedFile(logPath);
  platform::FolderId target;
  if (platform::FolderIdOf(targetDirectory, &target)) measure.target = target;
  MeasureFolder(measure, sourceDirectory);
  return measure.size;
}

}  // namespace plenvar
