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

std::string EnsureFolderPath(const std::string& path) {
  // A leading run of "\" stays: it makes the path absolute ("\srv\new") or a
  // network path ("\\host\share").
  std::size_t i = path.find_first_not_of('\\');
  if (i == std::string::npos) return "";
  std::string prefix = path.substr(0, i);
  std::string firstMade;
  while (i < path.size()) {
    std::size_t end = path.find('\\', i);
    if (end == std::string::npos) end = path.size();
    if (end > i) {
      prefix.append(path, i, end - i).push_back('\\');
      if (!platform::FolderExists(prefix)) {
        platform::MakeFolder(prefix);
        if (firstMade.empty()) firstMade = prefix;
      }
    }
    i = end + 1;
  }
  return firstMade;
}

void RemoveMadeFolders(std::string path, const std::string& firstMade) {
  if (firstMade.empty()) return;
  // Both without their trailing "", so that lengths compare levels.
  const auto trim = [](std::string* text) {
    while (text->size() > 1 && text->back() == '\\') text->pop_back();
  };
  std::string last = firstMade;
  trim(&last);
  for (trim(&path); path.size() >= last.size(); trim(&path)) {
    if (!platform::RemoveFolder(path)) return;
    const std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) return;
    path.erase(slash);
  }
}

}  // namespace plenvar
