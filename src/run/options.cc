#include <algorithm>

#include "run/run.h"

namespace plenvar {

std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker) {
  const std::size_t start = FindIgnoringCase(text, startMarker);
  if (start == std::string_view::npos) return "";
  const std::size_t from = start + startMarker.size();
  const std::size_t end = FindIgnoringCase(text, endMarker, from);
  return std::string(text.substr(from, end == std::string_view::npos ? text.npos : end - from));
}

std::string GetParameter(std::string_view commandLine, std::string_view key) {
  std::string value = ExtractBetween(commandLine, key, "/");
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

namespace {

struct Option {
  std::string_view key;
  bool takesValue;
};

// Every option the program knows. A flag may be followed by blanks only.
constexpr Option kOptions[] = {{"/S:", true},      {"/T:", true},     {"/M:", true},
                               {"/MT:", true},     {"/LOG:", true},   {"/LIST", false},
                               {"/VERIFY", false}, {"/SILENT", false}};

// Spaces, tabs and the double quotes that GetParameter drops.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '"'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Shown(std::string_view text) {
  return platform::Printable(platform::DisplayPath(std::string(text)));
}

}  // namespace

const char kOptionList[] =
    "Options: /S:SourceDirectory /T:TargetDirectory /M:FileMask /MT:n /LIST /VERIFY /LOG:file "
    "/SILENT";

// Every "/" starts an option, since a value ends at the next one: so each
// piece from a "/" up to the next must be one option, with its value.
std::string CheckOptions(std::string_view commandLine) {
  const std::size_t first = commandLine.find('/');
  const std::string_view outside = TrimBlanks(commandLine.substr(0, first));
  if (!outside.empty()) return "Text outside any option: " + Shown(outside) + "\r\n" + kOptionList;
  bool seen[std::size(kOptions)] = {};
  for (std::size_t at = first; at != std::string_view::npos;) {
    const std::size_t next = commandLine.find('/', at + 1);
    const std::string_view word = commandLine.substr(at, next - at);
    at = next;
    std::size_t which = 0;
    while (which < std::size(kOptions) && FindIgnoringCase(word, kOptions[which].key) != 0) ++which;
    const std::string_view rest =
        which < std::size(kOptions) ? word.substr(kOptions[which].key.size()) : word;
    if (which < std::size(kOptions) && !kOptions[which].takesValue && !TrimBlanks(rest).empty()) {
      // "/LIST plan" is a flag given a value; "/LISTING" is another word.
      if (IsBlank(rest.front()))
        return std::string(kOptions[which].key) + " takes no value: " + Shown(TrimBlanks(rest));
      which = std::size(kOptions);
    }
    if (which == std::size(kOptions)) {
      const std::size_t end = std::find_if(word.begin(), word.end(), IsBlank) - word.begin();
      return "Unknown option: " + Shown(word.substr(0, end)) + "\r\n" + kOptionList;
    }
    if (seen[which])
      return std::string(kOptions[which].key) + " given twice: give each option once.";
    seen[which] = true;
  }
  return "";
}

}  // namespace plenvar
