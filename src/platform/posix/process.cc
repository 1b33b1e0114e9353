// POSIX command line, notices and the progress line.
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace plenvar::platform {

const bool kHelpOptions = true;

// The arguments joined by single spaces. A "/" inside a word is a POSIX path
// separator and becomes the program's "\"; a "/" that starts a word starts an
// option ("/S:", "/SILENT").
std::string CommandLine(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] == '/' && text[i - 1] != ' ') text[i] = '\\';
  }
  return text;
}

std::string Printable(std::string_view text) {
  std::string shown;
  AppendEscaped(text, &shown);
  return shown;
}

// Nothing waits for a key: the program must be able to run unattended. CR LF
// ends a line of the notice; any other control character is shown escaped.
void ShowNotice(const Notice& notice) {
  std::FILE* stream = notice.style == kIconInformation ? stdout : stderr;
  std::string text;
  std::size_t line = 0;
  for (;;) {
    const std::size_t end = notice.text.find("\r\n", line);
    text += Printable(std::string_view(notice.text).substr(line, end - line));
    text += '\n';
    if (end == std::string::npos) break;
    line = end + 2;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

bool ProgressWanted() { return ::isatty(STDERR_FILENO) == 1; }

void ShowProgress(std::string_view line) {
  // Back to the line's start, the new text, then erase what the old one had
  // beyond it.
  const std::string text = "\r" + Printable(line) + "\x1b[K";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void ClearProgress() {
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
}

}  // namespace plenvar::platform
