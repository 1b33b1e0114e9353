// Windows command line and notices.
#include "platform/process.h"

#include <windows.h>

#include <csignal>

#include "platform/windows/win32.h"

namespace plenvar::platform {

std::string DisplayPath(std::string path) { return path; }

// Windows has no "~": a folder may really be named so.
std::string ExpandHome(std::string path) { return path; }

// The line exactly as the process received it, less the program's name (quoted
// or not) and the blanks after it; quotes in the rest stay for the options.
std::string CommandLine(int, char**) {
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return Narrow(line);
}

// A message box draws control characters harmlessly, and Windows names
// cannot hold them.
std::string Printable(std::string_view text) { return std::string(text); }

void ShowNotice(const Notice& notice) {
  MessageBoxW(nullptr, Wide(notice.text).c_str(), Wide(notice.title).c_str(),
              MB_OK | static_cast<UINT>(notice.style));
}

// A GUI program gets no console signals: a run ends when it is done or killed.
void CatchInterrupts(std::atomic<int>*) {}
// The stops there are: the progress window's Cancel, and the end of the
// session (logoff, shutdown) while it is open.
std::string SignalName(int signal) {
  if (signal == SIGINT) return "Cancel";
  if (signal == SIGTERM) return "the end of the session";
  return "signal " + std::to_string(signal);
}

}  // namespace plenvar::platform
