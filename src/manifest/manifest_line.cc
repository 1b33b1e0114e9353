// A manifest's lines: written as sha256sum writes them, read back only when
// they lead inside the target.
#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "manifest/manifest.h"
#include "platform/folders.h"

namespace plenvar {

namespace {

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

namespace {

// A Windows device name ("CON", "com1.txt"): opened, it is the device.
bool IsDeviceName(std::string_view part) {
  std::string stem(part.substr(0, part.find('.')));
  std::transform(stem.begin(), stem.end(), stem.begin(), AsciiUpper);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
      stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool PathInsideTarget(std::string_view path, bool windowsNames, std::string* why) {
  // A NUL ends the path where the system reads it: what follows is never
  // what was checked.
  if (path.find('\0') != std::string_view::npos) {
    *why = "a path holding a NUL byte";
    return false;
  }
  if (path.size() > platform::kLongestPath) {
    *why = "a path longer than any this system opens";
    return false;
  }
  for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
    end = path.find('/', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\\') != part.npos) {
      *why = "not a path inside the target";
      return false;
    }
    if (!windowsNames) continue;
    const bool reserved = std::any_of(part.begin(), part.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
    });
    // "x." and "x " are opened as "x"; a ":" makes a drive or a stream.
    if (reserved || part.back() == '.' || part.back() == ' ' || IsDeviceName(part)) {
      *why = "a name Windows cannot hold";
      return false;
    }
  }
  return true;
}

std::size_t LongestManifestLine() { return 1 + 64 + 2 + 2 * platform::kLongestPath + 1; }

bool ParseManifestLine(std::string_view line, std::string* digest, std::string* path,
                       std::string* why) {
  if (line.size() > LongestManifestLine()) {
    *why = "longer than any line of a manifest";
    return false;
  }
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
  if (!PathInsideTarget(*path, platform::kWindowsNames, why)) {
    *why += ": " + *path;
    return false;
  }
  return true;
}

bool HoldsManifest(const std::string& path, bool cutShort) {
  bool ours = true;
  std::string digest, listed, why;
  const auto read = [&](std::string_view line, std::int64_t, LineEnd end) {
    if (end == LineEnd::kEndOfFile && cutShort) {
      // As far as it goes, the start of a line: a killed run's may end anywhere.
      if (!line.empty() && line.front() == '\\') line.remove_prefix(1);
      const std::string_view gap = line.size() > 64 ? line.substr(64, 2) : std::string_view();
      ours = IsLowerHex(line.substr(0, 64)) && std::string_view("  ").substr(0, gap.size()) == gap;
    } else {
      ours = end == LineEnd::kFeed && ParseManifestLine(line, &digest, &listed, &why);
    }
    return ours;
  };
  // No file, or one that cannot be read, is not known to be ours.
  return ReadManifestLines(path, read, nullptr, &why) && ours;
}

}  // namespace plenvar
