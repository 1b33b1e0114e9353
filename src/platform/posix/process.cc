// POSIX command line, notices and the progress line.
#include "platform/process.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "platform/posix/posix.h"

namespace plenvar::platform {

std::string DisplayPath(std::string path) { return NativePath(std::move(path)); }

std::string ExpandHome(std::string path) {
  if (path != "~" && path.compare(0, 2, "~\\") != 0) return path;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') throw Error(path, "HOME is not set");
  std::string folder = home;
  std::replace(folder.begin(), folder.end(), '/', '\\');  // the program's own text
  return folder + path.substr(1);
}

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

std::size_t ProgressColumns() {
  struct winsize size = {};
  // 0 columns is a terminal that does not tell; one column leaves no room at all.
  const std::size_t columns = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  return columns > 0 ? columns - 1 : 79;
}

// A terminal's line needs nothing opened: Ctrl-C is its cancel.
void OpenProgress(const std::string&, const std::string&, std::atomic<int>*) {}

void ShowProgress(std::string_view line, double) {
  // Back to the line's start, the new text, then erase what the old one had
  // beyond it.
  const std::string text = "\r" + Printable(line) + "\x1b[K";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void CloseProgress() {
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
}

namespace {

std::atomic<int>* stopFlag = nullptr;  // set once, before any signal is caught

void OnInterrupt(int signal) {
  // A second signal means now: the default action, which ends the process.
  if (stopFlag->exchange(signal) != 0) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
}

}  // namespace

void CatchInterrupts(std::atomic<int>* stop) {
  stopFlag = stop;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESTART: a write in progress goes on, so no file is cut short by EINTR.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A reader of the notice that went away ends nothing: the write fails with
  // EPIPE, and the run's exit status stays its own.
  std::signal(SIGPIPE, SIG_IGN);
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace plenvar::platform
