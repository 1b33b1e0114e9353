// Random and mutated manifests for the manifest's reader: no path it
// accepts leads out of the target on either system's rule, nothing but a
// file's own failure is thrown, and no line handed over is longer than the
// bound, whatever the file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "manifest/manifest.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {

void Check(bool ok, const char* what, std::string_view path = "") {
  if (!ok) {
    std::fprintf(stderr, "manifest_fuzz: %s: %.*s\n", what, static_cast<int>(path.size()),
                 path.data());
    std::abort();
  }
}

// What "inside the target" means, said again plainly, part by part.
void CheckInside(std::string_view path, bool windowsNames) {
  Check(!path.empty() && path.front() != '/', "absolute or empty", path);
  Check(path.find('\0') == std::string_view::npos, "a NUL", path);
  for (std::size_t start = 0, end = 0; end != std::string_view::npos; start = end + 1) {
    end = path.find('/', start);
    const std::string_view part = path.substr(start, end - start);
    Check(!part.empty() && part != "." && part != "..", "an empty, . or .. part", path);
    Check(part.find('\\') == std::string_view::npos, "a separator inside a name", path);
    if (windowsNames) {
      Check(part.find(':') == std::string_view::npos, "a drive or a stream", path);
      Check(part.back() != '.' && part.back() != ' ', "a name Windows trims", path);
      for (const char c : part)
        Check(static_cast<unsigned char>(c) >= 0x20, "a control character on Windows", path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte: how often the rest is repeated, to reach lines longer
  // than the bound that -max_len keeps inputs under.
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string text;
  const std::size_t times = data[0] < 0xf0 ? 1 : 1 + plenvar::LongestManifestLine() / (size + 1);
  for (std::size_t i = 0; i < times; ++i) text.append(rest);

  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/manifest_fuzz." +
           std::to_string(::getpid());
  }();
  static const struct Gone {
    ~Gone() { std::remove(path.c_str()); }
  } gone;
  FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot write the input", path);
  Check(std::fwrite(text.data(), 1, text.size(), file) == text.size(), "cannot write", path);
  std::fclose(file);
  std::string digest, listed, why;
  // Each line read as the check reads it, and every rule as each system has it.
  try {
    plenvar::ForEachManifestLine(path, [&](std::string_view line, std::int64_t, plenvar::LineEnd) {
      Check(line.size() <= plenvar::LongestManifestLine() + 1, "a line past the bound");
      if (plenvar::ParseManifestLine(line, &digest, &listed, &why)) {
        Check(digest.size() == 64, "a digest of another length", digest);
        CheckInside(listed, plenvar::platform::kWindowsNames);
      }
      const std::string_view raw = line.size() > 66 ? line.substr(66) : line;
      for (const bool windows : {false, true}) {
        if (plenvar::PathInsideTarget(raw, windows, &why)) CheckInside(raw, windows);
      }
      return true;
    });
    std::int64_t lines = 0;
    const std::int64_t bad = plenvar::FirstBadManifestLine(path, &why, &lines);
    Check(bad == 0 || bad == lines, "the first bad line is not the last one read");
    // A file that is a whole manifest is also one a killed run may leave.
    if (plenvar::HoldsManifest(path, false))
      Check(plenvar::HoldsManifest(path, true), "whole, yet not a temporary one");
  } catch (const plenvar::Error&) {
    // The file's own failure: the only thing the reader throws.
  }
  return 0;
}
