// The "/MANIFEST:" file: a line for each message file a run leaves in the
// target, in number order, as sha256sum writes it ("digest  path", the path
// from the target root with "/"), so that `sha256sum -c` checks the target
// long after the source is gone. Written under a temporary name beside it and
// renamed into place at the run's end: a killed run leaves none.
#ifndef PLENVAR_MANIFEST_MANIFEST_H_
#define PLENVAR_MANIFEST_MANIFEST_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/control.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "report/report.h"

namespace plenvar {

// One line: "digest  path\n"; a path holding "\", a line feed or a carriage
// return has them written as "\\", "\n" and "\r", and the line starts with "\".
std::string ManifestLine(std::string_view digest, std::string_view path);

// Whether the file at `path` is a manifest: empty, or whole lines that
// ParseManifestLine reads; with `cutShort`, its last line may also be the
// start of one, as a killed run leaves its temporary file. False for no file.
bool HoldsManifest(const std::string& path, bool cutShort);

// Whether `path` (parts separated by "/", as a manifest lists them) names a
// file inside the folder it is read from, by construction: no absolute
// path, no empty part, ".", "..", "\" or NUL, and, where names follow
// Windows rules, no drive, reserved character, device name or part that
// Windows would trim. Else false, with why. One rule for both systems.
bool PathInsideTarget(std::string_view path, bool windowsNames, std::string* why);

// The longest line a manifest may hold: the digest and the longest path
// the system opens, every byte of it escaped.
std::size_t LongestManifestLine();

// A manifest's line read back: its digest and its path (with "/"),
// unescaped. False, with why, when it is not a line of a manifest, or its
// path is not PathInsideTarget on this system.
bool ParseManifestLine(std::string_view line, std::string* digest, std::string* path,
                       std::string* why);

// How a line handed over by ForEachManifestLine ended.
enum class LineEnd { kFeed, kEndOfFile, kTooLong };
// Calls `line` with each line of the file at `path`, without its line feed,
// its number from 1 and how it ended, until it returns false, reading a
// block at a time: a line longer than LongestManifestLine is handed over cut
// there, as kTooLong, and the rest of it is skipped, so memory stays
// bounded whatever the file. Every byte read is added to `digest`, if
// given. Throws Error.
using LineCall = std::function<bool(std::string_view, std::int64_t, LineEnd)>;
void ForEachManifestLine(const std::string& path, const LineCall& line,
                         platform::Sha256* digest = nullptr);
// The same, for a caller to whom a file that cannot be read is an answer:
// false, with why, after the lines read before the failure.
bool ReadManifestLines(const std::string& path, const LineCall& line, platform::Sha256* digest,
                       std::string* why);
// The number (from 1) of the first line of the manifest at `path` that
// cannot be read, and why; 0 when all can. `lines` gets how many it has.
// Throws Error.
std::int64_t FirstBadManifestLine(const std::string& path, std::string* why, std::int64_t* lines);
// Hashes every file the manifest at `path` lists under `target` again, with
// `threads` threads, and reports, in the manifest's order, each that is
// missing or differs, then each message file in a listed folder that it does
// not list (not after a stop). Throws Error when the manifest cannot be read.
void CheckManifest(const std::string& path, const std::string& target, int threads,
                   ExportReport& report, RunControl& control);

class Manifest {
 public:
  Manifest() = default;
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;
  // Creates the temporary file beside `path`, replacing one a killed run
  // left, and holds it until Close: kHeld when another run holds it, which
  // is left as it is. Throws Error.
  platform::OwnFile Open(const std::string& path, const std::string& targetRoot);
  // As the run begins: removes an earlier manifest at the path, so that a
  // run killed from here on leaves none.
  void Begin();
  // The message file `number` in `folder` (a folder of the target), with the
  // digest of its text. In number order.
  void Add(const std::string& folder, std::int64_t number, const std::string& digest);
  // Writes what is pending, puts it on stable storage, renames it into
  // place and flushes its folder; its own digest goes to the report. A
  // failure is the report's. The message files it lists must be on stable
  // storage first.
  void Close(ExportReport& report);

 private:
  void Write();

  std::string path_, temporary_, root_;
  std::string folder_, relative_;  // the last folder added, and its path from the root
  // Not renamed into place when the run does not get to its end: removed by
  // its destructor, while still held, so another run cannot take it meanwhile.
  platform::OutputFile file_;
  std::string pending_;
  platform::Sha256 digest_;  // of the manifest itself
  std::string error_;        // the first write that failed
};

}  // namespace plenvar

#endif  // PLENVAR_MANIFEST_MANIFEST_H_
