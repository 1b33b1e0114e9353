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

}  // namespace plenvar
