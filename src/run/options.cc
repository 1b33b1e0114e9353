#include "run/options.h"

#include <algorithm>
#include <thread>

#include "platform/process.h"
#include "walk/walk.h"

namespace plenvar {

const char kUsageText[] =
    "Usage: /S:SourceDirectory /T:TargetDirectory /M:FileMask /SILENT\r\n\r\n"
    "Eg: /S:C:\\LegacyMailStore\\Domain\\Mailboxes "
    "/T:C:\\Program Files\\Corvane\\Postoffices\\Domain\\MAILROOT /M:*.msg";

RunKind Options::Kind() const {
  if (list) return RunKind::kList;
  if (!verify) return RunKind::kExport;
  return ManifestOnly() ? RunKind::kManifestCheck : RunKind::kVerify;
}

std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker) {
  const std::size_t start = FindIgnoringCase(text, startMarker);
  if (start == std::string_view::npos) return "";
  const std::size_t from = start + startMarker.size();
  const std::size_t end = FindIgnoringCase(text, endMarker, from);
  return std::string(text.substr(from, end == std::string_view::npos ? text.npos : end - from));
}

namespace {

// GetParameter's rules for a value: no double quotes, and no spaces at its
// ends (the space character only; tabs stay).
std::string CleanValue(std::string_view raw) {
  std::string value(raw);
  value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

// 1 to 64 in one or two digits, else 0.
int ThreadsFrom(const std::string& value) {
  if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != value.npos)
    return 0;
  const int threads = std::stoi(value);
  return threads >= 1 && threads <= 64 ? threads : 0;
}

// One thread per core, up to 8.
int DefaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores < 8 ? cores : 8);
}

// Every option the program knows, and what it sets. A flag may be followed
// by blanks only. `typed` is the key as the command line has it.
struct OptionRow {
  std::string_view key;
  bool takesValue;
  void (*apply)(Options& options, std::string_view typed, std::string&& value);
};
constexpr OptionRow kOptions[] = {
    {"/S:", true, [](Options& o, std::string_view, std::string&& v) { o.source = std::move(v); }},
    {"/T:", true, [](Options& o, std::string_view, std::string&& v) { o.target = std::move(v); }},
    {"/M:", true, [](Options& o, std::string_view, std::string&& v) { o.mask = std::move(v); }},
    {"/MT:", true,
     [](Options& o, std::string_view, std::string&& v) { o.threads = ThreadsFrom(v); }},
    {"/LOG:", true, [](Options& o, std::string_view, std::string&& v) { o.log = std::move(v); }},
    {"/MANIFEST:", true,
     [](Options& o, std::string_view, std::string&& v) { o.manifest = std::move(v); }},
    {"/LIST", false, [](Options& o, std::string_view, std::string&&) { o.list = true; }},
    {"/VERIFY", false, [](Options& o, std::string_view, std::string&&) { o.verify = true; }},
    {"/DATES", false, [](Options& o, std::string_view, std::string&&) { o.dates = true; }},
    // In capitals only; written otherwise it is accepted and does nothing.
    {"/SILENT", false,
     [](Options& o, std::string_view typed, std::string&&) { o.silent = typed == "/SILENT"; }},
};

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

const char kOptionList[] =
    "Options: /S:SourceDirectory /T:TargetDirectory /M:FileMask /MT:n /LIST /VERIFY /DATES "
    "/LOG:file /MANIFEST:file /SILENT";

// Every "/" starts an option, since a value ends at the next one: so each
// piece from a "/" up to the next must be one option, with its value, which
// is what GetParameter would give for its key.
std::string ReadWords(std::string_view commandLine, Options* options) {
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
    const OptionRow& option = kOptions[which];
    option.apply(*options, word.substr(0, option.key.size()), CleanValue(rest));
  }
  return "";
}

Notice Refusal(std::string text) { return {std::move(text), "Error", kIconError}; }

}  // namespace

std::string GetParameter(std::string_view commandLine, std::string_view key) {
  return CleanValue(ExtractBetween(commandLine, key, "/"));
}

std::string CheckOptions(std::string_view commandLine) {
  Options ignored;
  return ReadWords(commandLine, &ignored);
}

std::optional<Notice> ParseOptions(std::string_view commandLine, Options* options) {
  options->threads = DefaultThreads();
  // Before the specified checks: a slip of the keyboard must not be read as
  // a missing folder, let alone run.
  std::string wrong = ReadWords(commandLine, options);
  if (!wrong.empty()) return Refusal(std::move(wrong));
  if (options->source.empty() && options->target.empty())
    return Notice{kUsageText, "Plenvar", kIconInformation};
  const bool maskGiven = !options->mask.empty();
  if (options->mask.empty()) options->mask = "*.*";
  if (options->target.empty()) return Refusal("/T:TargetDirectory parameter was not supplied.");
  if (options->source.empty() && !options->ManifestOnly())
    return Refusal("/S:SourceDirectory parameter was not supplied.");
  if (options->ManifestOnly() && maskGiven)
    return Refusal(
        "/M:FileMask selects mail files of /S:SourceDirectory: a verify from "
        "/MANIFEST:file alone checks the files it lists.");
  if (options->ManifestOnly() && options->dates)
    return Refusal(
        "/DATES reads each message's time from /S:SourceDirectory: a verify from "
        "/MANIFEST:file alone checks bytes only.");
  if (options->threads == 0)
    return Refusal("/MT:n must be a number of writer threads from 1 to 64.");
  if (options->list && options->verify) return Refusal("/LIST and /VERIFY cannot go together.");
  if (options->log && options->log->empty())
    return Refusal("/LOG:file parameter was not supplied.");
  if (options->manifest && options->manifest->empty())
    return Refusal("/MANIFEST:file parameter was not supplied.");
  if (options->manifest && options->list)
    return Refusal("/LIST and /MANIFEST:file cannot go together: a dry run writes nothing.");
  return std::nullopt;
}

}  // namespace plenvar
