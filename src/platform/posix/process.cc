// POSIX command line and notices.
#include <cstdio>

#include "platform/platform.h"

namespace plenvar::platform {

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

// Nothing waits for a key: the program must be able to run unattended.
void ShowNotice(const Notice& notice) {
  std::FILE* stream = notice.style == kIconInformation ? stdout : stderr;
  std::string text;
  for (std::size_t i = 0; i < notice.text.size(); ++i) {
    if (notice.text.compare(i, 2, "\r\n") == 0) {
      text += '\n';
      ++i;
    } else {
      text += notice.text[i];
    }
  }
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace plenvar::platform
