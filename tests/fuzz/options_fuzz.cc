// Arbitrary command lines, markers, names and masks for the option parsing,
// the mask test and the target folder: no crash, no read past the end, and
// every result is a piece of its input.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/options.h"
#include "walk/walk.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "options_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string a = input.ConsumeRandomLengthString(256);
  const std::string b = input.ConsumeRandomLengthString(64);
  const std::string c = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRandomLengthString(1024);

  const std::string between = plenvar::ExtractBetween(text, b, c);
  Check(text.find(between) != std::string::npos, "ExtractBetween: not a piece of the text");

  std::string unquoted = text;
  unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), '"'), unquoted.end());
  const std::string value = plenvar::GetParameter(text, b);
  Check(unquoted.find(value) != std::string::npos, "GetParameter: not a piece of the text");
  Check(value.find('"') == std::string::npos, "GetParameter: a quote stayed");
  Check(value.empty() || (value.front() != ' ' && value.back() != ' '), "GetParameter: a space");

  // A command line it runs names both folders and a mask.
  plenvar::Options options;
  if (!plenvar::ParseOptions(text, &options))
    Check(!options.source.empty() && !options.target.empty() && !options.mask.empty() &&
              options.threads >= 1 && options.threads <= 64,
          "ParseOptions: ran without a folder, mask or writers");
  // A command line it accepts holds nothing but options.
  if (plenvar::CheckOptions(text).empty())
    Check(text.find_first_not_of(" \t\"") == text.npos ||
              text[text.find_first_not_of(" \t\"")] == '/',
          "CheckOptions: text before the first option");

  const bool selected = plenvar::MatchesMask(a, b);
  std::string core = b;
  core.erase(std::remove(core.begin(), core.end(), '*'), core.end());
  Check(!core.empty() || selected, "MatchesMask: an empty core must select every name");
  Check(plenvar::MatchesMask(core + a, b), "MatchesMask: a name holding the core must be selected");

  const std::string folder = plenvar::TargetFolderOf(a, b, text);
  Check(folder.compare(0, b.size(), b) == 0, "TargetFolderOf: does not start with the target");
  Check(folder.size() > b.size() && folder[b.size()] == '\\', "TargetFolderOf: no separator");
  return 0;
}
