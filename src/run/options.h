// The command line: its options, read once, and the helpers that find an
// option's value in it.
#ifndef PLENVAR_RUN_OPTIONS_H_
#define PLENVAR_RUN_OPTIONS_H_

#include <optional>
#include <string>
#include <string_view>

#include "base/notice.h"
#include "report/report.h"

namespace plenvar {

// The text after the first startMarker up to the next endMarker (or the end),
// markers found ignoring letter case; empty when startMarker is absent.
std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker);

// The value of option `key`: up to the next "/", without double quotes and
// without the spaces at its ends.
std::string GetParameter(std::string_view commandLine, std::string_view key);

// Why the command line cannot be run as it stands (a word that is no option,
// an option given twice, text outside any option, a flag with a value), as a
// notice's text; empty when every word is one of the program's options.
std::string CheckOptions(std::string_view commandLine);

// What the command line asks for, read once.
struct Options {
  std::string source, target, mask;
  // "/LOG:" and "/MANIFEST:", when given (their values may still be empty
  // until ParseOptions refuses that).
  std::optional<std::string> log, manifest;
  // "/MT:n" (1 to 64), one per core up to 8 without it, 0 when its value is
  // not such a number: the threads that cut and write, or hash a manifest's files.
  int threads = 0;
  bool list = false, verify = false;
  bool dates = false;   // "/DATES": message files get their messages' times
  bool silent = false;  // "/SILENT", in capitals
  // "/VERIFY" with "/MANIFEST:" and no "/S:": the manifest checked alone.
  bool ManifestOnly() const { return verify && manifest && source.empty(); }
  // The kind of run asked for: the one place it is told from the options.
  RunKind Kind() const;
};

// Reads the command line into *options: every word against the table of
// options, then the checks in their specified order (the usage notice, the
// missing /T: and /S:), then the program's own. Returns the notice that
// refuses the command line, or nothing when it can run.
std::optional<Notice> ParseOptions(std::string_view commandLine, Options* options);

extern const char kUsageText[];

}  // namespace plenvar

#endif  // PLENVAR_RUN_OPTIONS_H_
