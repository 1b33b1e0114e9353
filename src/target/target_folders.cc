#include "target/target_folders.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "target/message_names.h"

namespace plenvar {

namespace {

// EnsureFolderPath's work: false, with the level that failed and why, when
// a level could not be made.
bool MakeFolderPath(const std::string& path, std::string* made, std::string* failed,
                    std::string* why) {
  // The root stays as it is: the leading "\" of an absolute path, a drive,
  // or a network share, which no folder can be made in place of.
  std::size_t i = platform::RootLength(path);
  if (path.find_first_not_of('\\', i) == std::string::npos) {
    // A bare root: nothing to make, but a drive or share that is not there
    // is refused with the system's reason.
    *failed = path;
    return path.empty() || platform::FolderExists(path) || platform::MakeFolder(path, why);
  }
  std::string prefix = path.substr(0, i);
  while (i < path.size()) {
    std::size_t end = path.find('\\', i);
    if (end == std::string::npos) end = path.size();
    if (end > i) {
      prefix.append(path, i, end - i).push_back('\\');
      if (!platform::FolderExists(prefix)) {
        // A file there would give only "File exists".
        platform::FolderId id;
        *failed = prefix;
        if (platform::EntryIdOf(prefix.substr(0, prefix.size() - 1), &id)) {
          *why = "not a folder";
          return false;
        }
        if (!platform::MakeFolder(prefix, why)) return false;
        if (made->empty()) *made = prefix;
      }
    }
    i = end + 1;
  }
  return true;
}

}  // namespace

std::string EnsureFolderPath(const std::string& path, std::string* made) {
  std::string first, failed, why;
  const bool ok = MakeFolderPath(path, &first, &failed, &why);
  if (made != nullptr) *made = first;
  if (!ok) throw Error(failed, why);
  return first;
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

bool TargetFolders::Survey(const std::string& folder) {
  platform::Folder listing;
  std::string why;
  if (!platform::OpenFolder(folder, &listing, &why)) return true;  // unknown: look for each file
  bool holds = false;
  std::int64_t number = 0;
  for (const platform::Entry& file : listing.files) {
    const NameKind kind = KindOfName(file.name, &number);
    holds = holds || kind == NameKind::kMessageFile;
    if (kind != NameKind::kTemporary) continue;
    why.clear();
    platform::RemoveEntry(file.path, &why);
    stale_.emplace_back(file.path, why);
  }
  return holds;
}

std::string TargetFolders::LinkedLevel(const std::string& folder) const {
  std::size_t root = target_.size();
  while (root > 0 && target_[root - 1] == '\\') --root;
  if (root == 0 || folder.size() <= root || folder[root] != '\\' ||
      folder.compare(0, root, target_, 0, root) != 0)
    return "";
  for (std::size_t end = root + 1; end < folder.size(); ++end) {
    end = std::min(folder.find('\\', end), folder.size());
    if (folder[end - 1] != '\\' && platform::IsLink(folder.substr(0, end)))
      return folder.substr(0, end);
  }
  return "";
}

bool TargetFolders::Ensure(const std::string& folder, std::string* made, bool* fresh,
                           std::string* refused) {
  if (fresh != nullptr) *fresh = false;
  const auto known = made_.find(folder);
  const auto knownRefused = refused_.find(folder);
  if (knownRefused != refused_.end()) {
    if (refused != nullptr) *refused = knownRefused->second;
    return false;
  }
  // A folder made or found once in this run is not checked again: on a store
  // of one message per mail file, checking every level of the path for every
  // file was six stat calls a message.
  if (known != made_.end()) {
    if (fresh != nullptr) *fresh = known->second;
    return true;
  }
  const std::string linked = LinkedLevel(folder);
  if (!linked.empty()) {
    const std::string why =
        "its folder leads out of the target: " + platform::DisplayPath(linked) + " is a link";
    refused_.emplace(folder, why);
    if (refused != nullptr) *refused = why;
    return false;
  }
  std::string first, failed, why;
  const bool madeAll = MakeFolderPath(folder, &first, &failed, &why);
  // What it made is still taken back by a run stopped before this mail file.
  if (made != nullptr) *made = first;
  if (!madeAll) return false;  // the first message file fails to open unless it exists after all
  // Made now, or below a level made now or by Main before the walk began, or
  // holding no message file yet (a killed run makes folders ahead of what it
  // writes): nothing there to look for.
  const bool isNew =
      !first.empty() ||
      (!firstMade_.empty() && (folder + "\\").compare(0, firstMade_.size(), firstMade_) == 0) ||
      !Survey(folder);
  if (!isNew) searched_.push_back(folder);
  if (fresh != nullptr) *fresh = isNew;
  made_.emplace(folder, isNew);
  order_.push_back(folder);
  return true;
}

std::string MakeLastFolderLevel(const std::string& folder) {
  std::string made, level, why;
  // It normally exists already.
  if (platform::MakeFolder(folder, &why) || platform::FolderExists(folder)) return "";
  // Truly missing: the reason is that of the level that could not be made (a
  // read-only file system), not the write's "No such file or directory".
  if (MakeFolderPath(folder, &made, &level, &why)) return "";
  while (level.size() > 1 && level.back() == '\\') level.pop_back();
  return "its folder could not be made: " + platform::DisplayPath(level) + ": " + why;
}

// One flush per file system written to, however many folders it holds.
void TargetFolders::Flush(ExportReport& report) const {
  std::vector<std::uint64_t> flushed;
  for (const std::string& folder : order_) {
    platform::FolderId id;
    if (!platform::FolderIdOf(folder, &id)) continue;  // never made: nothing in it to flush
    if (std::find(flushed.begin(), flushed.end(), id.volume) != flushed.end()) continue;
    flushed.push_back(id.volume);
    std::string why;
    if (!platform::FlushFileSystem(folder, &why))
      report.Fail({kNotFlushed, folder, why + " (message files written there may not be on disk)"});
  }
}

}  // namespace plenvar
