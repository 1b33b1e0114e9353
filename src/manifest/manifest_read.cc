// A manifest read back a line at a time, in memory bounded by its longest line.
#include <vector>

#include "manifest/manifest.h"

namespace plenvar {

namespace {

constexpr std::size_t kReadBlock = 128 << 10;

}  // namespace

bool ReadManifestLines(const std::string& path, const LineCall& line, platform::Sha256* digest,
                       std::string* why) {
  const std::size_t longest = LongestManifestLine();
  platform::InputFile file;
  if (!platform::OpenToRead(path, &file, true, why)) return false;
  std::vector<char> block(kReadBlock);
  std::string partial;
  std::int64_t number = 0;
  bool going = true, skipping = false;  // the rest of a line too long is skipped
  for (std::size_t got = 0; going;) {
    if (!platform::ReadSome(file, block.data(), block.size(), &got, why)) return false;
    if (got == 0) break;
    std::string_view text(block.data(), got);
    if (digest != nullptr) digest->Add(text);
    while (going && !text.empty()) {
      const std::size_t end = text.find('\n');
      const std::string_view piece = text.substr(0, end);
      if (!skipping) partial.append(piece.substr(0, longest + 1 - partial.size()));
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (end != std::string_view::npos && skipping) {
        skipping = false;
      } else if (end != std::string_view::npos) {
        going = line(partial, ++number, LineEnd::kFeed);
        partial.clear();
      } else if (!skipping && partial.size() > longest) {
        going = line(partial, ++number, LineEnd::kTooLong);
        partial.clear();
        skipping = true;
      }
    }
  }
  if (going && !skipping && !partial.empty()) line(partial, ++number, LineEnd::kEndOfFile);
  return true;
}

void ForEachManifestLine(const std::string& path, const LineCall& line, platform::Sha256* digest) {
  std::string why;
  if (!ReadManifestLines(path, line, digest, &why)) throw Error(path, why);
}

std::int64_t FirstBadManifestLine(const std::string& manifest, std::string* why,
                                  std::int64_t* lines) {
  std::int64_t bad = 0;
  *lines = 0;
  std::string digest, path;
  ForEachManifestLine(manifest, [&](std::string_view line, std::int64_t number, LineEnd) {
    if (!ParseManifestLine(line, &digest, &path, why)) bad = number;
    *lines = number;
    return bad == 0;
  });
  return bad;
}

}  // namespace plenvar
