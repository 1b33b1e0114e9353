#include "manifest/manifest.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/folders.h"
#include "target/message_names.h"

namespace plenvar {

namespace {

// Lines are written in pieces of this size: a manifest of a million messages
// is never whole in memory.
constexpr std::size_t kWriteEvery = 64 << 10;

}  // namespace

platform::OwnFile Manifest::Open(const std::string& path, const std::string& targetRoot) {
  path_ = path;
  temporary_ = path + ".tmp";
  root_ = targetRoot;
  // A file that is not ours was refused before: this one may be emptied.
  return platform::CreateOrReplaceOwn(
      temporary_, [](std::string_view) { return true; }, &file_, true);
}

void Manifest::Begin() { platform::RemoveFile(path_); }

void Manifest::Add(const std::string& folder, std::int64_t number, const std::string& digest) {
  // The folder lies in the target: its path from the root, with "/"; made
  // once for all the messages of a folder.
  if (folder != folder_) {
    folder_ = folder;
    relative_ = folder.size() > root_.size() ? folder.substr(root_.size() + 1) : "";
    std::replace(relative_.begin(), relative_.end(), '\\', '/');
    if (!relative_.empty()) relative_ += '/';
  }
  const std::string line = ManifestLine(digest, relative_ + MessageFileName(number));
  digest_.Add(line);
  pending_ += line;
  if (pending_.size() >= kWriteEvery) Write();
}

void Manifest::Write() {
  if (error_.empty()) platform::Append(file_, pending_, &error_);
  pending_.clear();
}

void Manifest::Close(ExportReport& report) {
  Write();
  const std::size_t slash = path_.rfind('\\');
  // Held through the rename: another run cannot take the file meanwhile.
  if (error_.empty() && platform::FlushToDisk(file_, &error_) &&
      platform::RenameAndClose(file_, path_, &error_)) {
    platform::FlushFolder(slash == std::string::npos ? "." : path_.substr(0, slash + (slash == 0)),
                          &error_);
  }
  // Not renamed into place: no manifest is left.
  platform::RemoveAndClose(file_);
  if (error_.empty()) {
    report.manifest.path = path_;
    report.manifest.digest = digest_.Hex();
  } else {
    report.Fail({kManifestFailed, path_, error_});
  }
}

}  // namespace plenvar
