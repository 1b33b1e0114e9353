#include "output/manifest.h"

#include <algorithm>
#include <utility>

#include "output/message_names.h"

namespace plenvar {

namespace {

// Lines are written in pieces of this size: a manifest of a million messages
// is never whole in memory.
constexpr std::size_t kWriteEvery = 64 << 10;

bool IsLowerHex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

std::string ManifestLine(std::string_view digest, std::string_view path) {
  std::string escaped;
  bool escapes = false;
  for (const char c : path) {
    const char* as = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
    escapes = escapes || as != nullptr;
    if (as != nullptr) {
      escaped += as;
    } else {
      escaped += c;
    }
  }
  return (escapes ? "\\" : "") + std::string(digest) + "  " + escaped + "\n";
}

bool ParseManifestLine(std::string_view line, std::string* digest, std::string* path,
                       std::string* why) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written on Windows
  const bool escaped = !line.empty() && line.front() == '\\';
  if (escaped) line.remove_prefix(1);
  // "  " as sha256sum writes it, " *" as it writes binary mode.
  if (line.size() < 67 || !IsLowerHex(line.substr(0, 64)) ||
      (line.substr(64, 2) != "  " && line.substr(64, 2) != " *")) {
    *why = "not a SHA-256 in lower-case hex, two spaces and a path";
    return false;
  }
  *digest = line.substr(0, 64);
  path->clear();
  for (std::size_t i = 66; i < line.size(); ++i) {
    if (!escaped || line[i] != '\\') {
      *path += line[i];
    } else if (i + 1 < line.size() &&
               (line[i + 1] == '\\' || line[i + 1] == 'n' || line[i + 1] == 'r')) {
      *path += line[++i] == 'n' ? '\n' : line[i] == 'r' ? '\r' : '\\';
    } else {
      *why = "an escape that sha256sum does not write";
      return false;
    }
  }
  // Only paths inside the target: a manifest is read, and never trusted to
  // lead elsewhere.
  std::size_t start = 0;
  for (std::size_t end = 0; end != std::string::npos; start = end + 1) {
    end = path->find('/', start);
    const std::string_view part = std::string_view(*path).substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\\') != part.npos ||
        (start == 0 && part.back() == ':')) {
      *why = "not a path inside the target: " + *path;
      return false;
    }
  }
  return true;
}

bool HoldsManifest(const std::string& path) {
  platform::InputFile file;
  try {
    platform::OpenForReading(path, &file);
  } catch (const Error&) {
    return false;
  }
  char start[68];
  std::size_t got = 0;
  try {
    for (std::size_t n = 1; n > 0 && got < sizeof start; got += n)
      n = platform::ReadBlock(file, start + got, sizeof start - got);
  } catch (const Error&) {
    got = 1;  // unreadable: not known to be ours
  }
  platform::Close(file);
  // As far as it goes, the start of a line: a killed run's may end anywhere.
  std::string_view line(start, got);
  if (!line.empty() && line.front() == '\\') line.remove_prefix(1);
  if (!IsLowerHex(line.substr(0, 64))) return false;
  const std::string_view gap = line.size() > 64 ? line.substr(64, 2) : std::string_view();
  return std::string_view("  ").substr(0, gap.size()) == gap;
}

Manifest::~Manifest() {
  // Not closed: the run did not get to its end, and leaves no manifest.
  if (file_.handle >= 0) {
    platform::Close(file_);
    platform::RemoveFile(temporary_);
  }
}

void Manifest::Open(const std::string& path, const std::string& targetRoot) {
  path_ = path;
  temporary_ = path + ".tmp";
  root_ = targetRoot;
  // A file that is not ours was refused before: this one may be emptied.
  platform::CreateOrReplaceOwn(temporary_, "", &file_);
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
  if (error_.empty()) {
    try {
      platform::Append(file_, pending_);
    } catch (const Error& e) {
      error_ = e.reason;
    }
  }
  pending_.clear();
}

void Manifest::Close(ExportReport& report) {
  Write();
  if (error_.empty()) {
    try {
      platform::FlushToDisk(file_);
      platform::Close(file_);
      platform::RenameReplacing(temporary_, path_);
    } catch (const Error& e) {
      error_ = e.reason;
    }
  }
  platform::Close(file_);
  if (error_.empty()) {
    report.manifest = path_;
    report.manifestDigest = digest_.Hex();
  } else {
    platform::RemoveFile(temporary_);
    report.Fail({kManifestFailed, path_, error_});
  }
}

}  // namespace plenvar
