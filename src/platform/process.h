// The process: its command line, the stop signals, the notices and the
// progress line, and how paths and names are shown. See files.h for the seam.
#ifndef PLENVAR_PLATFORM_PROCESS_H_
#define PLENVAR_PLATFORM_PROCESS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/notice.h"

namespace plenvar::platform {

// SIGINT, SIGTERM and SIGHUP (POSIX): the first sets *stop to its number,
// which asks the run to stop at its next safe point; a second ends the
// process at once. SIGPIPE is ignored: a reader of the notice or the progress
// line that went away does not end the run. Nothing on Windows, where the
// program has no console to be interrupted from.
void CatchInterrupts(std::atomic<int>* stop);
// "SIGINT" for SIGINT.
std::string SignalName(int signal);

// The program's argument text after its name.
std::string CommandLine(int argc, char** argv);
// A path that begins with "~\" (or is "~") with the home folder in its place,
// as a shell would have it (POSIX); any other path as it is. Throws Error
// when there is no home folder to put there.
std::string ExpandHome(std::string path);

// Shows a notice and returns once the user has seen it.
void ShowNotice(const Notice& notice);

// Whether a run is watched, when it is not /SILENT: on POSIX when standard
// error is a terminal, which gets a line; on Windows always, in a window
// (where no display can show one, none appears and the run goes on).
bool ProgressWanted();
// How many characters the progress line may take: on POSIX one short of the
// terminal's columns (79 when unknown), so that it never wraps, and so none
// on a terminal of one column; kAnyWidth in the window.
constexpr std::size_t kAnyWidth = static_cast<std::size_t>(-1);
std::size_t ProgressColumns();
// Opens the display for a run from `source` to `target`. The window has a
// thread of its own; its Cancel button, or closing it (as Task Manager's End
// task does), sets *stop to SIGINT's number, as Ctrl-C does on POSIX; the
// session's end (logoff, shutdown) to SIGTERM's. Unset from CloseProgress on.
void OpenProgress(const std::string& source, const std::string& target, std::atomic<int>* stop);
// Shows the line and the part done (0 to 1); never waits for the display.
void ShowProgress(std::string_view line, double done);
// Removes the line, or closes the window, before the notice.
void CloseProgress();

// A path of the program's own text as the system writes it: with "/" on
// POSIX, as it is on Windows.
std::string DisplayPath(std::string path);

// Text from the store (a name, a reason) as it may be shown: where notices go
// to a terminal, control characters become "\xHH" so that a name cannot move
// the cursor or forge a line; elsewhere the text is kept as it is.
std::string Printable(std::string_view text);

}  // namespace plenvar::platform

#endif  // PLENVAR_PLATFORM_PROCESS_H_
