#include "walk/walk.h"

namespace plenvar {

std::string TargetFolderOf(const std::string& sourceRoot, const std::string& targetRoot,
                           const std::string& folderPath) {
  // Only the leading occurrence goes: a deeper folder whose path repeats the
  // source's text must still land in its own place.
  std::string relative = folderPath;
  if (FindIgnoringCase(relative, sourceRoot) == 0) relative.erase(0, sourceRoot.size());
  if (relative.empty() || relative[0] != '\\') relative.insert(0, "\\");
  return targetRoot + relative;
}

void EnsureFolderPath(const std::string& path) {
  // A leading run of "\" stays: it makes the path absolute ("\srv\new") or a
  // network path ("\\host\share").
  std::size_t i = path.find_first_not_of('\\');
  if (i == std::string::npos) return;
  std::string prefix = path.substr(0, i);
  while (i < path.size()) {
    std::size_t end = path.find('\\', i);
    if (end == std::string::npos) end = path.size();
    if (end > i) {
      prefix.append(path, i, end - i).push_back('\\');
      if (!platform::FolderExists(prefix)) platform::MakeFolder(prefix);
    }
    i = end + 1;
  }
}

}  // namespace plenvar
