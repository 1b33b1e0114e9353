// Arbitrary bytes as a mail file. Checks what the cutting rules promise, not
// how they cut: every message file is non-empty with every line ended by
// CR LF; in number order the messages are pieces of the input (line ends
// made CR LF) in input order that never overlap; no temporary file stays;
// the read block size changes nothing; a file with LF line ends and no lone
// CR is cut as its CR LF twin. The first byte picks a tiny block.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "job/job.h"
#include "output/output.h"
#include "test_util.h"

namespace {

using plenvar::testing::TempDir;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "split_fuzz: %s\n", what);
    std::abort();
  }
}

bool HasLfEnds(const std::string& input) {
  const std::size_t first = input.find_first_of("\r\n");
  return first != std::string::npos && input[first] == '\n';
}

// The input as lines, a last line gaining a line end: with CR line ends CR LF
// and a lone CR end a line; with LF line ends, LF and CR LF do.
std::string WithCrLf(const std::string& input) {
  const bool lf = HasLfEnds(input);
  std::string text;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] != (lf ? '\n' : '\r')) {
      text += input[i];
    } else if (lf) {
      text += text.empty() || text.back() != '\r' ? "\r\n" : "\n";
    } else {
      text += "\r\n";
      if (i + 1 < input.size() && input[i + 1] == '\n') ++i;
    }
  }
  if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
    text += "\r\n";
  return text;
}

std::vector<std::string> Split(const std::string& mail, const std::filesystem::path& out,
                               std::size_t block) {
  std::filesystem::remove_all(out);
  std::filesystem::create_directory(out);
  plenvar::testing::BlockSize size(block);
  plenvar::ExportReport report;
  plenvar::RunControl control;
  bool changed = false;
  auto output = plenvar::MakeSequential(
      plenvar::MakeJob(plenvar::RunKind::kExport), report,
      [&changed](int, const std::string& path, plenvar::MessageSink& sink) {
        changed = plenvar::SplitMailFile(path, sink);
        return std::optional<plenvar::Failure>();
      },
      control);
  output->MailFile(mail, out.string());
  output.reset();
  Check(!changed, "a file that changed");
  std::vector<std::string> messages = plenvar::testing::ReadMessages(out);
  const std::vector<std::string> names = plenvar::testing::ListNames(out);
  Check(names.size() == static_cast<std::size_t>(report.done.messages), "a stray file");
  for (std::size_t i = 0; i < names.size(); ++i) {
    Check(names[i] == plenvar::MessageFileName(static_cast<std::int64_t>(i) + 1), "a name");
  }
  return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TempDir dir;
  if (size == 0) return 0;
  const std::size_t block = 1 + data[0] % 8;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string mail = dir.Sub("mail.msg");
  plenvar::testing::WriteFile(mail, input);

  const std::vector<std::string> messages = Split(mail, dir.path / "small", block);
  Check(messages == Split(mail, dir.path / "large", 256 * 1024), "block size changed the cut");
  const std::string text = WithCrLf(input);
  const bool lf = HasLfEnds(input);
  bool loneCr = false;
  for (std::size_t i = text.find('\r'); i != std::string::npos; i = text.find('\r', i + 1))
    loneCr = loneCr || text[i + 1] != '\n';  // text ends with CR LF
  if (lf && !loneCr) {
    // No lone CR: the twin, with CR LF for every line end, is cut the same.
    plenvar::testing::WriteFile(mail, text);
    Check(messages == Split(mail, dir.path / "twin", block), "not cut as its CR LF twin");
  }
  std::size_t at = 0;
  for (const std::string& message : messages) {
    Check(message.size() >= 2 && message.compare(message.size() - 2, 2, "\r\n") == 0,
          "a message that does not end with CR LF");
    for (std::size_t i = message.find('\r'); !lf && i != std::string::npos;
         i = message.find('\r', i + 1))
      Check(i + 1 < message.size() && message[i + 1] == '\n', "a lone CR");
    const std::size_t found = text.find(message, at);
    Check(found != std::string::npos, "a message that is not the next piece of the input");
    at = found + message.size();
  }
  return 0;
}
